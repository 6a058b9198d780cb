"""harvestodb: result databases of the harvestodb tools, from Python.

Reading and writing (the compiled module _odb, loaded on first use):
  open(path, internal_sets=False)   an open database, a context manager
  Writer(path)                      writes a database from numpy arrays
  mass_properties(...)              mass, centre and inertia of a solid mesh
  OdbError                          a library failure; str(error) is the library's message

Submodules (pure Python, usable where _odb was not built):
  report     reads a harvestodb report (params.txt) and the results table of harvest-many
  response   named values for an optimiser from a report (harvest-response)
  run        one checked run of harvestodb, judged by a fresh marker (harvest-run)
  many       harvestodb over many databases into one table (harvest-many)
  plot       pictures and summaries of a report, and of a model with ParaView (harvest-plot)
  xdmf       a database as an XDMF time series for ParaView and meshio
  odb2xdmf   the command odb2xdmf, on xdmf
  readahead  a file read into the page cache ahead of its reader (odb2xdmf's)
  mesh2odb   results of other open solvers into a database (mesh2odb)
"""

import os as _os

try:
    from ._version import __version__
except ImportError:  # a source tree that was never configured
    __version__ = "unknown"

_COMPILED = ("Writer", "OdbError", "mass_properties", "Database")


def open(path, internal_sets=False):  # noqa: A001 (the package's own open, as h5py's File)
    """Opens the database at path (str or path-like) for reading; internal_sets also loads the sets
    the solver made for itself. Raises OdbError with the library's message when the file is missing
    or is not a database."""
    from . import _odb

    return _odb.open(_os.fspath(path), internal_sets)


def __getattr__(name):
    # The compiled names are looked up on first use, so that the pure
    # modules import without the compiled one.
    if name in _COMPILED:
        from . import _odb

        return getattr(_odb, name)
    raise AttributeError(f"module 'harvestodb' has no attribute '{name}'")


__all__ = ["open", "Writer", "OdbError", "mass_properties", "__version__"]
