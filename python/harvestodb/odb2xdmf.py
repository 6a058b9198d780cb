"""odb2xdmf: a result database as an XDMF time series, for ParaView and meshio.

usage: odb2xdmf [-o OUT.xdmf] [--fields U,S,...] DB

Writes OUT.xdmf (default: the database's name with .xdmf) and beside it
OUT.h5, which holds every array; the XDMF file is the XML index over it.
One grid per frame, steps one after another; the mesh is every instance's
nodes and elements (cells are numbered in instance order, then element
order, from 0).

Arrays of a frame (FIELD is the field output's name):
  nodal fields          point data FIELD (vectors padded to 3 components,
                        tensors in the stored component order)
  centroid and whole-   cell data FIELD
  element fields
  integration-point and cell data, one value per element: FIELD holds the
  element-nodal fields  element's point of the largest von Mises (tensors),
                        magnitude (vectors) or value (scalars); FIELD_mises
                        (FIELD_mag) is that largest value, FIELD_mises_min and
                        FIELD_mises_mean the smallest and the mean over the
                        element's points (scalars: FIELD, FIELD_min, FIELD_mean)
  derived               FIELD_mises of tensors, FIELD_mag of vectors
  sets                  nset_NAME (points) and elset_NAME (cells), 1 for a
                        member and 0 otherwise; a set of an instance is named
                        INSTANCE.NAME
  labels                node_label, element_label, instance (its index)
Points or cells that a field does not cover hold NaN.

Status 0 on success; 1 when the database cannot be read, a field named with
--fields is in no frame, or the output cannot be written (nothing is left
behind); 2 for a wrong command line.
"""

import argparse
import importlib.machinery
import os
import sys

from . import readahead

PROG = "odb2xdmf"


def program_cached():
    """Whether the files the export's imports load are in the page cache: the compiled module's
    and numpy's core (half their pages or more). Only then does the command start reading the
    database before it imports them: with them on the disk too, each of their reads queued
    behind the database's (docs/view.md)."""
    numpy = importlib.machinery.PathFinder.find_spec("numpy")   # where the import will find it, unimported
    if numpy is None or not numpy.submodule_search_locations:
        return False
    files = []
    for folder, prefix in ((os.path.dirname(os.path.abspath(__file__)), "_odb."),
                           (os.path.join(numpy.submodule_search_locations[0], "core"), "_multiarray_umath.")):
        try:
            files += [e.path for e in os.scandir(folder) if e.name.startswith(prefix) and e.name.endswith(".so")][:1]
        except OSError:
            return False
    return len(files) == 2 and all(readahead.resident(f) >= 0.5 for f in files)


def keep_freed_memory():
    """Asks glibc's malloc to serve every array from its heap and never hand freed memory back
    to the system: an export frees and makes arrays of the same few sizes (the mesh's
    temporaries, a frame's arrays, the reader's pieces), and each one malloc maps anew is pages
    the kernel zeroes and faults in again, which a virtual machine makes dear (see
    docs/view.md). It also keeps one arena for every thread (the threads start later): a
    thread's own arena is fresh memory, which the blocks the main thread has freed cannot
    serve. Only the command does this: it is the process's own choice."""
    try:
        import ctypes
        libc = ctypes.CDLL(None)
        m_trim_threshold, m_mmap_max, m_arena_max = -1, -4, -8
        libc.mallopt(m_mmap_max, 0)
        libc.mallopt(m_trim_threshold, 2 ** 31 - 1)
        libc.mallopt(m_arena_max, 1)
    except (OSError, AttributeError):   # not glibc: memory is managed as it is
        pass


def main(argv=None):
    """The command odb2xdmf; ends the process once its output is flushed (see the end)."""
    parser = argparse.ArgumentParser(prog=PROG, description=__doc__.split("\n\n", 2)[2].split("\n\nStatus")[0],
                                     epilog="Status" + __doc__.split("\n\nStatus", 1)[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     usage="%(prog)s [-o OUT.xdmf] [--fields U,S,...] DB")
    parser.add_argument("database", metavar="DB", help="the result database (.odb)")
    parser.add_argument("-o", dest="output", metavar="OUT.xdmf", help="the XDMF file (default: DB's name, .xdmf)")
    parser.add_argument("--fields", metavar="U,S,...", help="export only these field outputs")
    args = parser.parse_args(argv)
    db = args.database
    if not os.path.exists(db) and os.path.exists(db + ".odb"):
        db += ".odb"
    out = args.output or os.path.splitext(os.path.basename(db))[0] + ".xdmf"
    fields = [f for f in args.fields.split(",") if f] if args.fields is not None else None
    keep_freed_memory()
    ahead = readahead.start(db) if fields is None and program_cached() else None
    from .xdmf import Failure, export   # numpy, while the disk reads the database
    try:
        result = export(db, out, fields, ahead=ahead)
        print(f"{out}: {len(result.mesh.xyz)} points, {len(result.mesh.elem_labels)} cells, "
              f"{len(result.frames)} frames; arrays in {result.h5}"
              + ("" if result.rising else "; times: frame numbers, as the frame values do not rise"))
        status = 0
    except Failure as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        status = 1
    # The process ends here, without the interpreter's finalization: HDF5 left with an output
    # file it could not close (its writes refused by a file size limit; the file is removed
    # already) crashes in its exit handler, and freeing the export's arrays one by one took 20
    # to 30 ms of an export (the kernel frees the process's memory at once).
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(status)


if __name__ == "__main__":
    sys.exit(main())
