"""Readers of the open solvers' result files, one time step at a time.

read(path) yields (mesh, frame) pairs: mesh is a Mesh for the first pair and whenever the file
carries its mesh again with the data (a .pvd series, whose files each hold a mesh), else None.
meshio reads the single files; what it cannot read is read here: the series of .pvd collections,
and XDMF as dolfinx writes it (a temporal collection per function, mesh tags as grids that point at
the mesh, which meshio's TimeSeriesReader does not follow), with the standard library's XML parser
and h5py, one data set at a time.
"""

import contextlib
import io
import os
import re
import shutil
import tempfile
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field

import h5py
import numpy as np

from .meshio_map import ImportError_

XINCLUDE = "{http://www.w3.org/2001/XInclude}include"

# XDMF topology types -> meshio cell types.
XDMF_CELLS = {
    "Tetrahedron": "tetra", "Tetrahedron_10": "tetra10", "Hexahedron": "hexahedron",
    "Hexahedron_20": "hexahedron20", "Wedge": "wedge", "Wedge_15": "wedge15", "Triangle": "triangle",
    "Triangle_6": "triangle6", "Quadrilateral": "quad", "Quadrilateral_8": "quad8",
    "Polyline": "line", "Edge_3": "line3", "Polyvertex": "vertex",
}

# Bookkeeping arrays of the writers, not results.
SKIPPED_DATA = ("vtkOriginalPointIds", "vtkOriginalCellIds", "vtkGhostType", "gmsh:physical", "gmsh:geometrical",
                "gmsh:dim_tags", "cell_tags", "point_tags", "medit:ref", "CellEntityIds")


@dataclass
class Mesh:
    points: np.ndarray                                   # [N, 3]
    blocks: list                                         # [(meshio cell type, [m, k] 0-based nodes)]
    point_sets: dict = field(default_factory=dict)       # name -> 0-based node indices
    cell_sets: dict = field(default_factory=dict)        # name -> [0-based indices or None per block]
    fmt: str = "vtk"                                     # whose node order the blocks are in

    def difference(self, other):
        """What differs from other, in words."""
        if self.points.shape != other.points.shape:
            return "%d points, expected %d" % (len(self.points), len(other.points))
        if not np.array_equal(self.points, other.points):
            return "coordinates of point %d" % int(np.nonzero((self.points != other.points).any(axis=1))[0][0] + 1)
        return "its cells"

    def same_as(self, other):
        return (self.points.shape == other.points.shape and np.array_equal(self.points, other.points)
                and len(self.blocks) == len(other.blocks)
                and all(a[0] == b[0] and np.array_equal(a[1], b[1]) for a, b in zip(self.blocks, other.blocks)))


@dataclass
class Frame:
    time: float
    point_data: list = field(default_factory=list)   # [(name, [N, ...] values, component names or None)]
    cell_data: list = field(default_factory=list)    # [(name, [values per block], component names or None)]


def _points3(points):
    points = np.asarray(points, dtype=np.float64)
    if points.ndim != 2 or points.shape[1] not in (1, 2, 3):
        raise ImportError_("points have shape %s, expected [n, 2] or [n, 3]" % (points.shape,))
    if points.shape[1] < 3:
        points = np.hstack([points, np.zeros((len(points), 3 - points.shape[1]))])
    return points


# ---- meshio ----------------------------------------------------------------------------------

def _from_meshio(m, fmt):
    blocks = [(b.type, np.asarray(b.data)) for b in m.cells]
    blocks = [(LAGRANGE.get((t, c.shape[-1]), t), c) for t, c in blocks]
    mesh = Mesh(_points3(m.points), blocks, fmt=fmt)
    for name, idx in (m.point_sets or {}).items():
        mesh.point_sets[name] = np.asarray(idx, dtype=np.int64)
    for name, per_block in (m.cell_sets or {}).items():
        if name.startswith("gmsh:"):        # Gmsh's bookkeeping (bounding entities), no group
            continue
        mesh.cell_sets[name] = [None if a is None else np.asarray(a, dtype=np.int64) for a in per_block]
    _gmsh_tags(m, mesh)
    _med_groups(m, mesh)
    frame = Frame(0.0)
    for name, values in m.point_data.items():
        if name not in SKIPPED_DATA and not name.startswith("vtk"):
            frame.point_data.append((name, values, None))
    for name, per_block in m.cell_data.items():
        if name not in SKIPPED_DATA and not name.startswith("vtk"):
            frame.cell_data.append((name, per_block, None))
    return mesh, frame


def _gmsh_tags(m, mesh):
    """Physical groups: named by the file's $PhysicalNames (tag and dimension), else TAG_<n>."""
    tags = m.cell_data.get("gmsh:physical")
    if tags is None:
        return
    names = {(int(v[0]), int(v[1])): k for k, v in (m.field_data or {}).items() if np.size(v) >= 2}
    found = {}
    for b, (block, values) in enumerate(zip(m.cells, tags)):
        values = np.asarray(values)
        for tag in np.unique(values):
            name = names.get((int(tag), int(block.dim)), "TAG_%d" % tag)
            if name in mesh.cell_sets and name not in found:
                continue                      # meshio made the set itself
            per_block = found.setdefault(name, [None] * len(m.cells))
            per_block[b] = np.nonzero(values == tag)[0]
    mesh.cell_sets.update(found)


def _med_groups(m, mesh):
    """MED families -> their groups: one set per group name."""
    for data_name, tags_of, point in (("cell_tags", getattr(m, "cell_tags", None), False),
                                      ("point_tags", getattr(m, "point_tags", None), True)):
        if not tags_of:
            continue
        groups = {}
        for family, names in tags_of.items():
            for g in names:
                groups.setdefault(g, []).append(int(family))
        if point:
            fam = np.asarray(m.point_data.get(data_name, []))
            for g, families in groups.items():
                mesh.point_sets[g] = np.nonzero(np.isin(fam, families))[0]
        else:
            fam = m.cell_data.get(data_name)
            if fam is None:
                continue
            for g, families in groups.items():
                mesh.cell_sets[g] = [np.nonzero(np.isin(np.asarray(b), families))[0] for b in fam]


# VTK's arbitrary-order Lagrange cells (dolfinx's VTK writer uses them) with the node count of the
# first order: their node order is that of the linear cells.
LAGRANGE = {("VTK_LAGRANGE_TRIANGLE", 3): "triangle", ("VTK_LAGRANGE_QUADRILATERAL", 4): "quad",
            ("VTK_LAGRANGE_TETRAHEDRON", 4): "tetra", ("VTK_LAGRANGE_HEXAHEDRON", 8): "hexahedron",
            ("VTK_LAGRANGE_WEDGE", 6): "wedge"}


@contextlib.contextmanager
def _vtu_version_1(path, fmt):
    """A VTU file of XML version 2.x (VTK 9, dolfinx) as a copy that says 1.0: the arrays of linear
    cells are laid out alike, but meshio refuses the number."""
    with open(path, "rb") as f:
        head = f.read(512)
    m = re.search(rb'<VTKFile[^>]*\bversion="(2\.\d)"', head)
    if fmt != "vtu" or m is None:
        yield path
        return
    with tempfile.TemporaryDirectory(prefix="mesh2odb-") as folder:
        copy = os.path.join(folder, os.path.basename(path))
        with open(path, "rb") as src, open(copy, "wb") as dst:
            dst.write(head[:m.start(1)] + b"1.0" + head[m.end(1):])
            src.seek(len(head))
            shutil.copyfileobj(src, dst, 1 << 20)
        yield copy


def _meshio_read(path, fmt):
    """meshio's reader of the format, called directly: meshio.read() prints and exits on a failure."""
    import meshio
    readers = {"vtu": meshio.vtu.read, "vtk": meshio.vtk.read, "xdmf": meshio.xdmf.read, "med": meshio.med.read,
               "exodus": meshio.exodus.read, "gmsh": meshio.gmsh.read}
    try:
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()), \
                _vtu_version_1(path, fmt) as readable:
            return readers[fmt](readable)
    except Exception as e:  # meshio raises many kinds; each ends the import with its text
        text = (str(e).strip().splitlines() or [type(e).__name__])[0]
        raise ImportError_("cannot read as %s: %s" % (fmt, text))


def read_meshio(path, fmt):
    reader = {".vtu": "vtu", ".vtk": "vtk", ".xdmf": "xdmf", ".xmf": "xdmf"}.get(os.path.splitext(path)[1].lower(), fmt)
    m = _meshio_read(path, reader)
    mesh, frame = _from_meshio(m, "vtk" if fmt in ("vtu", "xdmf") else fmt)
    if fmt == "med":
        yield from _med_frames(path, mesh, frame)
        return
    yield mesh, frame


_MED_STEP = re.compile(r"^(?P<name>.*)\[(?P<index>\d+)\] - (?P<time>.*)$")


def _med_frames(path, mesh, frame):
    """meshio names the time steps of a MED field NAME[i] - t: they become frames; the component
    names (NOM) come from the file."""
    comps = {}
    try:
        with h5py.File(path, "r") as f:
            for name, g in f.get("CHA", {}).items():
                if "NOM" in g.attrs:
                    comps[name] = g.attrs["NOM"].decode("utf-8", "replace").split()
    except OSError:
        pass
    frames = {}
    for kind in ("point_data", "cell_data"):
        for name, values, _ in getattr(frame, kind):
            m = _MED_STEP.match(name)
            key = (int(m["index"]), float(m["time"])) if m else (0, 0.0)
            base = m["name"] if m else name
            getattr(frames.setdefault(key, Frame(key[1])), kind).append((base, values, comps.get(base)))
    first = True
    for key in sorted(frames) or [(0, 0.0)]:
        yield (mesh if first else None), frames.get(key, Frame(0.0))
        first = False


def read_exodus(path):
    """The mesh through meshio, then the results of every time step with netCDF4, one step at a time
    (meshio keeps only the first). Scalar variables NAME_x, NAME_y, NAME_z (or X Y Z; xx yy zz xy yz
    xz for tensors) join into one field with those component names."""
    import netCDF4
    try:
        nc = netCDF4.Dataset(path)
    except OSError as e:
        raise ImportError_("cannot read as exodus: %s" % e)
    with nc:
        nc.set_auto_mask(False)
        mesh = _exodus_mesh(nc)
        _exodus_sets(nc, mesh)

        def names(key):
            return [b"".join(c).decode("utf-8", "replace").strip("\0 ") for c in nc.variables[key][:]] \
                if key in nc.variables else []

        nodal, element = names("name_nod_var"), names("name_elem_var")
        times = nc.variables["time_whole"][:] if "time_whole" in nc.variables else []
        for step, time in enumerate(times):
            frame = Frame(float(time))
            columns = []
            for i, _ in enumerate(nodal):
                v = nc.variables.get("vals_nod_var%d" % (i + 1))
                columns.append(v[step] if v is not None else nc.variables["vals_nod_var"][step, i])
            for name, idx, comps in _families(nodal):
                frame.point_data.append((name, np.stack([columns[i] for i in idx], axis=1), comps))
            for name, idx, comps in _families(element):
                per_block = []
                for b, (_, conn) in enumerate(mesh.blocks):
                    rows = []
                    for i in idx:
                        v = nc.variables.get("vals_elem_var%deb%d" % (i + 1, b + 1))
                        rows.append(v[step] if v is not None else np.full(len(conn), np.nan))
                    per_block.append(np.stack(rows, axis=1))
                frame.cell_data.append((name, per_block, comps))
            yield (mesh if step == 0 else None), frame
        if not len(times):
            yield mesh, Frame(0.0)


_SUFFIXES = (("xx", "yy", "zz", "xy", "yz", "xz"), ("x", "y", "z"), ("x", "y"))


def _families(names):
    """[(field, variable indices, component names)]: components joined by their suffixes."""
    out, used = [], set()
    for i, name in enumerate(names):
        if i in used:
            continue
        for suffixes in _SUFFIXES:
            tail = suffixes[0]
            if not name.lower().endswith(tail):
                continue
            stem = name[:-len(tail)]
            idx = [next((j for j, n in enumerate(names) if n.lower() == (stem + s).lower() and j not in used), None)
                   for s in suffixes]
            if None not in idx:
                used.update(idx)
                out.append((stem.rstrip("_") or name, idx, [names[j] for j in idx]))
                break
        else:
            used.add(i)
            out.append((name, [i], None))
    return out


EXODUS_CELLS = {
    "TETRA": "tetra", "TETRA4": "tetra", "TET4": "tetra", "TETRA10": "tetra10", "TET10": "tetra10",
    "HEX": "hexahedron", "HEX8": "hexahedron", "HEXAHEDRON": "hexahedron", "HEX20": "hexahedron20",
    "WEDGE": "wedge", "WEDGE6": "wedge", "WEDGE15": "wedge15",
    "TRI": "triangle", "TRI3": "triangle", "TRIANGLE": "triangle", "TRISHELL": "triangle", "TRISHELL3": "triangle",
    "TRI6": "triangle6", "TRISHELL6": "triangle6", "QUAD": "quad", "QUAD4": "quad", "SHELL": "quad", "SHELL4": "quad",
    "QUAD8": "quad8", "SHELL8": "quad8", "BAR2": "line", "BEAM": "line", "BEAM2": "line", "TRUSS": "line",
    "TRUSS2": "line", "BAR3": "line3", "BEAM3": "line3", "SPHERE": "vertex", "CIRCLE": "vertex",
}


def _exodus_mesh(nc):
    """Coordinates and element blocks (connect1, connect2, ... with their elem_type); node sets."""
    try:
        n = nc.dimensions["num_nodes"].size
        if "coord" in nc.variables:
            xyz = np.asarray(nc.variables["coord"][:], dtype=np.float64).T
        else:
            xyz = np.stack([np.asarray(nc.variables[k][:], dtype=np.float64) for k in ("coordx", "coordy", "coordz")
                            if k in nc.variables], axis=1)
        blocks = []
        count = nc.dimensions["num_el_blk"].size if "num_el_blk" in nc.dimensions else 0
        for b in range(count):
            v = nc.variables["connect%d" % (b + 1)]
            kind = str(getattr(v, "elem_type", "")).upper()
            cell_type = EXODUS_CELLS.get(kind, kind.lower())
            blocks.append((cell_type, np.asarray(v[:], dtype=np.int64).reshape(-1, v.shape[-1] if v.ndim == 2 else 1) - 1))
    except (KeyError, IndexError, ValueError) as e:
        raise ImportError_("cannot read as exodus: %s is missing or malformed" % e)
    if len(xyz) != n:
        raise ImportError_("cannot read as exodus: %d coordinates for %d nodes" % (len(xyz), n))
    return Mesh(_points3(xyz), blocks, fmt="exodus")


def _exodus_sets(nc, mesh):
    """Element blocks and side sets (their elements) as element sets, node sets as node sets."""
    def names(nc, key, count, stem):
        found = []
        if key in nc.variables:
            v = nc.variables[key]
            v.set_auto_mask(False)
            found = [b"".join(c).decode("utf-8", "replace").strip("\0 ") for c in v[:]]
        return [n or "%s_%d" % (stem, i + 1) for i, n in enumerate(found + [""] * (count - len(found)))]

    count = nc.dimensions["num_node_sets"].size if "num_node_sets" in nc.dimensions else 0
    for i, name in enumerate(names(nc, "ns_names", count, "NODESET")):
        if "node_ns%d" % (i + 1) in nc.variables:
            mesh.point_sets[name] = np.asarray(nc.variables["node_ns%d" % (i + 1)][:], dtype=np.int64) - 1
    blocks = names(nc, "eb_names", len(mesh.blocks), "BLOCK")
    for i, name in enumerate(blocks[:len(mesh.blocks)]):
        mesh.cell_sets[name] = [np.arange(len(b[1])) if j == i else None for j, b in enumerate(mesh.blocks)]
    count = nc.dimensions["num_side_sets"].size if "num_side_sets" in nc.dimensions else 0
    starts = np.cumsum([0] + [len(b[1]) for b in mesh.blocks])
    for i, name in enumerate(names(nc, "ss_names", count, "SIDESET")):
        key = "elem_ss%d" % (i + 1)
        if key not in nc.variables:
            continue
        v = nc.variables[key]
        v.set_auto_mask(False)
        elements = np.unique(np.asarray(v[:], dtype=np.int64)) - 1   # global 1-based ids in block order
        mesh.cell_sets[name] = [elements[(elements >= starts[j]) & (elements < starts[j + 1])] - starts[j]
                                for j in range(len(mesh.blocks))]


# ---- ParaView collections --------------------------------------------------------------------

def _xml_root(path):
    """The root element of an XML file; an unreadable or malformed file is an import error."""
    try:
        return ET.parse(path).getroot()
    except (ET.ParseError, OSError) as e:
        raise ImportError_("cannot read: %s" % e)


def read_pvd(path):
    root = _xml_root(path)
    sets = root.findall("./Collection/DataSet")
    if root.get("type") != "Collection" or not sets:
        raise ImportError_("no Collection of DataSet entries, expected a ParaView collection")
    folder = os.path.dirname(path)
    entries = []
    for i, d in enumerate(sets):
        if d.get("file") is None:
            raise ImportError_("DataSet %d has no file" % (i + 1))
        try:
            time = float(d.get("timestep", i))
        except ValueError:
            raise ImportError_("DataSet %d: timestep '%s' is not a number" % (i + 1, d.get("timestep")))
        entries.append((time, d.get("part", "0"), os.path.join(folder, d.get("file"))))
    parts = {p for _, p, _ in entries}
    if len(parts) > 1:
        raise ImportError_("collection of %d parts, expected one" % len(parts))
    for time, _, name in entries:
        if name.endswith(".pvtu"):
            name = _single_piece(name)
        mesh, frame = _from_meshio(_meshio_read(name, "vtu" if name.endswith(".vtu") else "vtk"), "vtk")
        frame.time = time
        yield mesh, frame


def _single_piece(path):
    try:
        pieces = ET.parse(path).getroot().findall("./PUnstructuredGrid/Piece")
    except (ET.ParseError, OSError) as e:
        raise ImportError_("cannot read %s: %s" % (path, e))
    if len(pieces) != 1:
        raise ImportError_("%s has %d pieces, expected one (run the solver on one process)" % (path, len(pieces)))
    return os.path.join(os.path.dirname(path), pieces[0].get("Source"))


# ---- XDMF as dolfinx writes it -------------------------------------------------------------------

def _data_item(item, folder, where):
    """The array of a DataItem: Format HDF (file.h5:/path, read now) or XML (numbers in the text)."""
    dims = [int(d) for d in (item.get("Dimensions") or "").split()]
    fmt = item.get("Format", "XML")
    text = (item.text or "").strip()
    if fmt == "HDF":
        name, _, inner = text.partition(":")
        try:
            with h5py.File(os.path.join(folder, name), "r") as f:
                data = f[inner][()]
        except (OSError, KeyError) as e:
            raise ImportError_("%s: cannot read %s (%s)" % (where, text, e))
    elif fmt == "XML":
        kind = np.int64 if item.get("NumberType", "Float") in ("Int", "UInt") else np.float64
        data = np.array(text.split(), dtype=kind)
    else:
        raise ImportError_("%s: DataItem format %s, expected HDF or XML" % (where, fmt))
    if dims and int(np.prod(dims)) != data.size:
        raise ImportError_("%s: %s holds %d values, Dimensions say %s" % (where, text[:60], data.size, " ".join(map(str, dims))))
    return data.reshape(dims) if dims else data


def _follow(grid, domain):
    """A grid's Topology and Geometry, following xi:include pointers into the domain's first uniform grid."""
    topo, geo = grid.find("Topology"), grid.find("Geometry")
    if (topo is None or geo is None) and grid.find(XINCLUDE) is not None:
        first = next((g for g in domain.findall("Grid") if g.get("GridType", "Uniform") == "Uniform"), None)
        if first is not None:
            topo = topo if topo is not None else first.find("Topology")
            geo = geo if geo is not None else first.find("Geometry")
    return topo, geo


def _topology(topo, folder, where):
    kind = topo.get("TopologyType") or topo.get("Type")
    if kind not in XDMF_CELLS:
        raise ImportError_("%s: topology %s has no element in the database" % (where, kind))
    conn = _data_item(topo.find("DataItem"), folder, where)
    return XDMF_CELLS[kind], conn.reshape(len(conn), -1).astype(np.int64)


def is_dolfinx_xdmf(path):
    try:
        root = ET.parse(path).getroot()
    except (ET.ParseError, OSError):
        return False
    return any(g.get("CollectionType") == "Temporal" or g.find(XINCLUDE) is not None
               for g in root.iter("Grid"))


def read_xdmf(path):
    """dolfinx's layout: the mesh grid, tag grids, and one temporal collection per function."""
    root = _xml_root(path)
    domain = root.find("Domain")
    if domain is None:
        raise ImportError_("no Domain, expected an XDMF file")
    folder = os.path.dirname(path)
    grids = domain.findall("Grid")
    # dolfinx: a mesh grid of its own in the domain; legacy FEniCS: every grid of the series carries
    # the topology and geometry itself, so the first of them is the mesh.
    mesh_grid = next((g for g in list(grids) + list(domain.iter("Grid")) if g.get("GridType", "Uniform") == "Uniform"
                      and g.find("Topology") is not None and g.find("Geometry") is not None), None)
    if mesh_grid is None:
        raise ImportError_("no grid with its own topology and geometry, expected the mesh")
    where = "grid %s" % mesh_grid.get("Name")
    points = _points3(_data_item(mesh_grid.find("Geometry/DataItem"), folder, where))
    mesh = Mesh(points, [_topology(mesh_grid.find("Topology"), folder, where)], fmt="vtk")
    _xdmf_tags(mesh, grids, mesh_grid, domain, folder)

    series = [g for g in grids if g.get("CollectionType") == "Temporal"]
    times = []
    for s in series:
        for g in s.findall("Grid"):
            t = g.find("Time")
            value = float(t.get("Value")) if t is not None else 0.0
            if value not in times:
                times.append(value)
    first = True
    for time in sorted(times):
        frame = Frame(time)
        for s in series:
            for g in s.findall("Grid"):
                t = g.find("Time")
                if (float(t.get("Value")) if t is not None else 0.0) != time:
                    continue
                _grid_mesh_check(g, mesh, mesh_grid, domain, folder)
                for a in g.findall("Attribute"):
                    where = "function %s at time %g" % (a.get("Name"), time)
                    values = _data_item(a.find("DataItem"), folder, where)
                    if a.get("Center", "Node") == "Cell":
                        frame.cell_data.append((a.get("Name"), [values], None))
                    else:
                        frame.point_data.append((a.get("Name"), values, None))
        yield (mesh if first else None), frame
        first = False
    if first:
        yield mesh, Frame(0.0)


def _same_data(a, b):
    da, db = a.find("DataItem"), b.find("DataItem")
    return (da is not None and db is not None and da.get("Format") == "HDF" == db.get("Format")
            and (da.text or "").strip() == (db.text or "").strip())


def _grid_mesh_check(grid, mesh, mesh_grid, domain, folder):
    """A function grid with a topology or geometry of its own must hold the same mesh."""
    if grid is mesh_grid or (grid.find("Topology") is None and grid.find("Geometry") is None):
        return
    topo, geo = _follow(grid, domain)
    if _same_data(topo, mesh_grid.find("Topology")) and _same_data(geo, mesh_grid.find("Geometry")):
        return                      # the same data sets of the same file (legacy FEniCS repeats them)
    where = "grid %s" % grid.get("Name")
    points = _points3(_data_item(geo.find("DataItem"), folder, where))
    other = Mesh(points, [_topology(topo, folder, where)])
    if not other.same_as(mesh):
        raise ImportError_("%s: the mesh differs from the first one (%d points, %d cells; expected %d, %d)"
                           % (where, len(points), len(other.blocks[0][1]), len(mesh.points), len(mesh.blocks[0][1])))


def _xdmf_tags(mesh, grids, mesh_grid, domain, folder):
    """Mesh tags: cells of the mesh's dimension become element sets, lower ones (facets) node sets."""
    cell_type, conn = mesh.blocks[0]
    index = None
    for g in grids:
        if g is mesh_grid or g.get("CollectionType") == "Temporal" or g.find("Attribute") is None:
            continue
        topo, _ = _follow(g, domain)
        if topo is None:
            continue
        name = g.get("Name", "tags")
        where = "grid %s" % name
        kind, tagged = _topology(topo, folder, where)
        values = _data_item(g.find("Attribute/DataItem"), folder, where).reshape(-1)
        if len(values) != len(tagged):
            raise ImportError_("%s: %d values for %d entities" % (where, len(values), len(tagged)))
        prefix = {"cell_tags": "TAG", "facet_tags": "FACET_TAG"}.get(name, name.upper())
        if kind == cell_type:
            if index is None:
                index = {tuple(sorted(c)): i for i, c in enumerate(conn)}
            cells = np.array([index.get(tuple(sorted(c)), -1) for c in tagged], dtype=np.int64)
            if (cells < 0).any():
                raise ImportError_("%s: tagged cell %d is not a cell of the mesh" % (where, int(np.argmax(cells < 0))))
            for v in np.unique(values):
                mesh.cell_sets["%s_%d" % (prefix, v)] = [np.sort(cells[values == v])]
        else:
            for v in np.unique(values):
                mesh.point_sets["%s_%d" % (prefix, v)] = np.unique(tagged[values == v])


def read(path):
    """(mesh, frame) pairs of a file, chosen by its extension."""
    ext = os.path.splitext(path)[1].lower()
    if not os.path.isfile(path):
        raise ImportError_("cannot read: %s" % ("is a directory" if os.path.isdir(path) else "no such file"))
    if ext == ".pvd":
        return read_pvd(path)
    if ext in (".xdmf", ".xmf") and is_dolfinx_xdmf(path):
        return read_xdmf(path)
    if ext in (".vtu", ".vtk", ".xdmf", ".xmf"):
        return read_meshio(path, "vtk")
    if ext in (".med", ".rmed"):
        return read_meshio(path, "med")
    if ext in (".e", ".exo", ".ex2", ".exii"):
        return read_exodus(path)
    if ext == ".msh":
        return read_meshio(path, "gmsh")
    raise ImportError_("unknown format '%s', expected .vtu, .vtk, .pvd, .xdmf, .med, .e/.exo or .msh" % ext)
