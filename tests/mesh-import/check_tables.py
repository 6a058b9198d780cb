#!/usr/bin/python3
"""mesh2odb on files written here with meshio, h5py and numpy: the node order of every cell type, the
field table (types, names, descriptions, --map), sets, the bad inputs and the command line.
  check_tables.py BIN_DIR"""
import contextlib, importlib.util, io, os, sys

import h5py
import numpy as np
meshio = importlib.import_module("meshio") if importlib.util.find_spec("meshio") else None   # None: the test is skipped

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import harness  # noqa: E402
from harness import check  # noqa: E402

LABEL, BIN = "mesh_import.tables", os.path.abspath(sys.argv[1])
sys.path.insert(0, os.path.join(BIN, "..", "python"))

# Reference nodes of our elements (the solver's node order of docs/format.md).
QUAD = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
HEX = QUAD + [(0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
HEX_EDGES = [(0, 1), (1, 2), (2, 3), (3, 0), (4, 5), (5, 6), (6, 7), (7, 4), (0, 4), (1, 5), (2, 6), (3, 7)]
TRI = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]
TET, TET_EDGES = TRI + [(0, 0, 1)], [(0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3)]
WEDGE = TRI + [(0, 0, 1), (1, 0, 1), (0, 1, 1)]
WEDGE_EDGES = [(0, 1), (1, 2), (2, 0), (3, 4), (4, 5), (5, 3), (0, 3), (1, 4), (2, 5)]
# VTK's wedge runs its base the other way round (its normal points away from the top face).
VTK_WEDGE = [(0, 0, 0), (0, 1, 0), (1, 0, 0), (0, 0, 1), (0, 1, 1), (1, 0, 1)]
# Exodus II puts the vertical edges of the 20-node brick before the top ones.
EXO_HEX_EDGES = HEX_EDGES[:4] + HEX_EDGES[8:] + HEX_EDGES[4:8]


def quadratic(corners, edges):
    c = np.array(corners, dtype=float)
    return np.vstack([c] + [(c[i] + c[j]) / 2 for i, j in edges])


OURS = {}
for linear, corners, edges in (("tetra", TET, TET_EDGES), ("hexahedron", HEX, HEX_EDGES), ("wedge", WEDGE, WEDGE_EDGES),
                               ("triangle", TRI, TET_EDGES[:3]), ("quad", QUAD, HEX_EDGES[:4])):
    OURS[linear], OURS[linear + str(len(corners) + len(edges))] = np.array(corners, float), quadratic(corners, edges)

A3 = np.array([[2.0, 0.3, 0.1], [-0.2, 1.5, 0.4], [0.1, -0.3, 3.0]])   # det > 0
A2 = np.array([[2.0, 0.3, 0.0], [-0.2, 1.5, 0.0], [0.0, 0.0, 1.0]])
MIRROR, SHIFT = np.diag([1.0, -1.0, 1.0]), np.array([10.0, -5.0, 2.5])

# (row, cell type, nodes as the file holds them, file extension, mapping to apply: A3, A2 or a mirror)
NODE_ORDER = [(t + m, t, OURS[t], ".vtu", A3 @ mirror) for t in ("tetra", "tetra10", "hexahedron", "hexahedron20")
              for m, mirror in (("", np.eye(3)), (" mirrored", MIRROR))] + [
    ("hexahedron20 of Exodus II", "hexahedron20", quadratic(HEX, EXO_HEX_EDGES), ".e", A3),
    ("wedge of VTK", "wedge", np.array(VTK_WEDGE, float), ".vtu", A3),
    ("wedge of Gmsh", "wedge", OURS["wedge"], ".msh", A3),
] + [(t, t, OURS[t], ".vtu", A2) for t in ("triangle", "triangle6", "quad", "quad8")]


def write_mesh(path, points, cells, **kw):
    fmt = {".vtu": "vtu", ".e": "exodus", ".msh": "gmsh22", ".vtk": "vtk"}[os.path.splitext(path)[1]]
    meshio.write(path, meshio.Mesh(points, cells, **kw), file_format=fmt, **({"binary": False} if fmt == "gmsh22" else {}))


def mesh2odb(folder, *args):
    return harness.run([os.path.join(BIN, "mesh2odb"), "--quiet"] + list(args), cwd=folder, timeout=120, text=True)


def imported(folder, label, *args):
    """mesh2odb's main() in this process (the tables of valid files: no start-up per row); checks status 0."""
    from harvestodb import mesh2odb as tool
    with contextlib.chdir(folder), contextlib.redirect_stderr(io.StringIO()) as err:
        status = tool.main(["--quiet"] + list(args))
    return check(label + ": imported", status == 0, err.getvalue())


def node_order(folder):
    """Each element must come out as an affine image of our reference element with a positive Jacobian
    (for solids), whatever order and orientation the file had: the order every derived value relies on."""
    for row, cell_type, ref, ext, a in NODE_ORDER:
        tags = {"gmsh:physical": [[1]], "gmsh:geometrical": [[1]]} if ext == ".msh" else {}
        write_mesh(os.path.join(folder, "cell" + ext), ref @ a.T + SHIFT, [(cell_type, [range(len(ref))])], cell_data=tags)
        if not imported(folder, row, "-o", "cell.odb", "--density", "2", "cell" + ext):
            continue
        with h5py.File(os.path.join(folder, "cell.odb"), "r") as f:
            inst, step = f["assembly/instances/PART-1-1"], f["steps/Step-1"]
            got = inst["nodes/coordinates"][()][inst["elements/connectivity"][()] - 1]   # the one element
            mass, centre = step.attrs.get("mass"), step.attrs.get("massCenter")
        ours = OURS[cell_type]
        # Fit got = ours @ M + t: exact for the right order, impossible for a wrong one.
        design = np.hstack([ours[:, :2] if ours[:, 2].ptp() == 0 else ours, np.ones((len(ours), 1))])
        fit, *_ = np.linalg.lstsq(design, got, rcond=None)
        residual = np.abs(design @ fit - got).max()
        check(row + ": nodes in our order", residual < 1e-9, "residual %g" % residual)
        if design.shape[1] == 3:
            check(row + ": no mass for surfaces", mass is None, str(mass))
            continue
        check(row + ": positive volume", np.linalg.det(fit[:3]) > 0, "det %g" % np.linalg.det(fit[:3]))
        # Mass and centre at density 2 through the element integration: wrong node orders change both.
        volume = abs(np.linalg.det(a)) * {"tet": 1 / 6, "hex": 1.0, "wed": 0.5}[cell_type[:3]]
        centroid = {"tet": [0.25] * 3, "hex": [0.5] * 3, "wed": [1 / 3, 1 / 3, 0.5]}[cell_type[:3]] @ a.T + SHIFT
        check(row + ": mass and centre", mass is not None and np.isclose(mass, 2 * volume) and np.allclose(centre, centroid),
              "%s %s against %g %s" % (mass, centre, 2 * volume, centroid))


# Two tetrahedra, five points: the mesh of the field, set and bad-input tables.
POINTS = np.array([(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 1, 1)], float)
TETS = np.array([[0, 1, 2, 3], [1, 2, 3, 4]])
SYM = np.array([[1.0, 4, 5], [4, 2, 6], [5, 6, 3]])
VEC6 = np.array([1.0, 2, 3, 4, 6, 5])   # VTK's order xx yy zz xy yz xz: 12 = 4, 23 = 6, 13 = 5
U15, R6, T6 = np.arange(15.0).reshape(5, 3), np.arange(1.0, 7), "11 22 33 12 13 23"

# (source array, point or cell, values, --map, field, type code, component label suffixes, description, stored rows)
FIELDS = [
    ("displacement", "point", U15, None, "U", 3, "1 2 3", "Spatial displacement", U15),
    ("Velocity 2d", "point", np.ones((5, 2)), None, "Velocity_2d", 3, "1 2 3", "Velocity 2d", [[1.0, 1, 0]] * 5),
    ("sigma", "cell", np.array([SYM, 2 * SYM]).reshape(2, 9), None, "S", 5, T6, "Stress components", [R6, 2 * R6]),
    ("strain6", "cell", np.array([VEC6, VEC6]), "E", "E", 5, T6, "Strain components", [R6, R6]),
    ("plane", "cell", np.array([[1.0, 3, 3, 2]] * 2), None, "plane", 9, "11 22 12", "Element plane", [[1.0, 2, 3]] * 2),
    ("von Mises stress", "cell", np.array([7.0, 8.0]), "MISES", "MISES", 2, "", "Mises equivalent Stress", [7.0, 8.0]),
    ("misc", "cell", np.arange(10.0).reshape(2, 5), None, "misc_1", 2, "", "Element misc component 1", [0.0, 5.0]),
]


def fields(folder):
    write_mesh(os.path.join(folder, "fields.vtu"), POINTS, [("tetra", TETS)],
               point_data={r[0]: r[2] for r in FIELDS if r[1] == "point"}, cell_data={r[0]: [r[2]] for r in FIELDS if r[1] == "cell"})
    maps = sum((["--map", "%s=%s" % (r[0], r[3])] for r in FIELDS if r[3]), [])
    if not imported(folder, "fields", "-o", "fields.odb", *maps, "fields.vtu"):
        return
    with h5py.File(os.path.join(folder, "fields.odb"), "r") as f:
        outputs = f["steps/Step-1/frames/0/fieldOutputs"]
        for source, where, _, _, name, code, suffixes, description, rows in FIELDS:
            g = outputs.get(name)
            got = g and (int(g.attrs["type"]), [x.decode() for x in g.attrs.get("componentLabels", [])],
                         g.attrs["description"].decode(), g["blocks/0"].attrs["position"].decode())
            want = (code, [name + c for c in suffixes.split()], description, "NODAL" if where == "point" else "CENTROID")
            check("fields: %s becomes %s" % (source, name), got == want and np.allclose(g["blocks/0/data"][()], rows),
                  "%s %s" % (got, g and g["blocks/0/data"][()]))


def fallback_writer(folder):
    """The h5py writer (for builds without the compiled module) writes what the library's writer writes."""
    from harvestodb import meshio_writer as ow
    library, ow.open_writer = ow.open_writer, ow.H5Writer
    try:
        ok = imported(folder, "h5py writer", "-o", "h5py.odb", "--map", "strain6=E", "--map", "von Mises stress=MISES",
                      "fields.vtu")
    finally:
        ow.open_writer = library
    if not ok:
        return
    odbinfo = os.path.join(BIN, "odbinfo")
    c = harness.run([odbinfo, "--check", "h5py.odb"], cwd=folder, text=True)
    check("h5py writer: odbinfo --check", c.status == 0, c.out[-300:] + c.err)
    listings = [harness.run([odbinfo, db], cwd=folder, text=True).out.split("\n", 1)[1] for db in ("h5py.odb", "fields.odb")]
    check("h5py writer: the same listing as the library's", listings[0] == listings[1])


def sets(folder):
    """Gmsh physical groups, named and not, on cells of the mesh's dimension and on boundary faces."""
    write_mesh(os.path.join(folder, "sets.msh"), POINTS, [("tetra", TETS), ("triangle", np.array([[0, 1, 2], [1, 2, 4]]))],
               cell_data={"gmsh:physical": [np.array([1, 2]), np.array([3, 3])],
                          "gmsh:geometrical": [np.array([1, 1]), np.array([2, 2])]},
               field_data={"SOLID": np.array([1, 3]), "BASE": np.array([3, 2])})
    if not imported(folder, "sets", "-o", "sets.odb", "sets.msh"):
        return
    with h5py.File(os.path.join(folder, "sets.odb"), "r") as f:
        got = {(kind, name): list(f["assembly/%sSets/%s/PART-1-1" % (kind, name)][()])
               for kind in ("node", "element") for name in f["assembly/%sSets" % kind]}
        want = {("element", "SOLID"): [1], ("element", "TAG_2"): [2], ("node", "BASE"): [1, 2, 3, 5]}
        check("sets: physical groups", got == want, str(got))
        check("sets: boundary faces are no elements", len(f["assembly/instances/PART-1-1/elements/labels"]) == 2)


def dolfinx_like(folder, name, u_rows, legacy=False):
    """An XDMF series with inline arrays: dolfinx's layout (a mesh grid, a temporal collection of grids
    that point at it) or legacy FEniCS's (every grid of the collection carries the mesh itself)."""
    pts, cells = (" ".join("%g" % v for v in array.reshape(-1)) for array in (POINTS, TETS))
    mesh = ('<Topology TopologyType="Tetrahedron" NumberOfElements="2" NodesPerElement="4"><DataItem Dimensions="2 4" '
            'NumberType="Int" Format="XML">%s</DataItem></Topology><Geometry GeometryType="XYZ"><DataItem '
            'Dimensions="5 3" Format="XML">%s</DataItem></Geometry>' % (cells, pts))
    pointer = ('<xi:include xpointer="xpointer(/Xdmf/Domain/Grid[@GridType=\'Uniform\'][1]/*[self::Topology or '
               'self::Geometry])" />')
    grids = "".join('<Grid Name="u" GridType="Uniform">%s<Time Value="%d" /><Attribute Name="u" AttributeType="Vector" '
                    'Center="Node"><DataItem Dimensions="%d 3" Format="XML">%s</DataItem></Attribute></Grid>'
                    % (mesh if legacy else pointer, t, rows, " ".join(["%d" % (t + 1)] * rows * 3))
                    for t, rows in enumerate(u_rows))
    harness.write(os.path.join(folder, name), (
        '<?xml version="1.0"?><Xdmf Version="3.0" xmlns:xi="http://www.w3.org/2001/XInclude"><Domain>%s'
        '<Grid Name="u" GridType="Collection" CollectionType="Temporal">%s</Grid></Domain></Xdmf>')
        % ("" if legacy else '<Grid Name="mesh" GridType="Uniform">%s</Grid>' % mesh, grids))


def xdmf_layouts(folder):
    """Both XDMF series layouts give the same frames."""
    for layout, legacy in (("dolfinx", False), ("legacy FEniCS", True)):
        dolfinx_like(folder, "series.xdmf", [5, 5, 5], legacy)
        if not imported(folder, "xdmf " + layout, "-o", "series.odb", "series.xdmf"):
            continue
        with h5py.File(os.path.join(folder, "series.odb"), "r") as f:
            frames = f["steps/Step-1/frames"]
            got = [(frames[k].attrs["frameValue"], frames[k]["fieldOutputs/U/blocks/0/data"][0, 0]) for k in sorted(frames, key=int)]
            check("xdmf %s: frames at the times" % layout, got == [(0.0, 1.0), (1.0, 2.0), (2.0, 3.0)], str(got))


def bad_inputs(folder):
    """Each fault: status 1, one line naming the file, no database left (--partial keeps whole frames)."""
    harness.write(os.path.join(folder, "garbage.vtu"), "not a mesh\n")
    # a 20-node brick whose file order is not the one its format promises
    write_mesh(os.path.join(folder, "wrong.vtu"), quadratic(HEX, EXO_HEX_EDGES) @ A3.T, [("hexahedron20", [range(20)])])
    harness.write(os.path.join(folder, "data.foo"), "1 2 3\n")
    write_mesh(os.path.join(folder, "pyramid.vtu"), POINTS, [("pyramid", np.array([[0, 1, 4, 2, 3]]))])
    write_mesh(os.path.join(folder, "skew.vtu"), POINTS, [("tetra", TETS)], cell_data={"sigma": [np.array([np.arange(9.0)] * 2)]})
    for i, scale in enumerate((1.0, 1.0, 2.0)):
        write_mesh(os.path.join(folder, f"s{i}.vtu"), POINTS * scale, [("tetra", TETS)], point_data={"u": np.full((5, 3), float(i))})
    harness.write(os.path.join(folder, "series.pvd"), '<?xml version="1.0"?><VTKFile type="Collection"><Collection>'
                  + "".join('<DataSet timestep="%d" file="s%d.vtu"/>' % (i, i) for i in range(3))
                  + "</Collection></VTKFile>")
    dolfinx_like(folder, "short.xdmf", [5, 4])
    harness.write(os.path.join(folder, "far.xdmf"), harness.read(os.path.join(folder, "short.xdmf"), "r")
                  .replace(">0 1 2 3 1 2 3 4<", ">0 1 2 3 1 2 3 9<"))
    # (row, arguments, the one line on standard error after "mesh2odb: ", {step: frames} kept with --partial, None for no
    # database, {} for the model alone); those that keep something also run without --partial, which
    # leaves no database.
    one, model, skew = {"Step-1": 1}, {}, "field sigma: tensor of entry 0 is not symmetric (4 against 8)\n"
    rows = [
        ("missing file", ["missing.vtu"], "missing.vtu: cannot read: no such file\n", None),
        ("unreadable file", ["garbage.vtu"], "garbage.vtu: cannot read as vtu: ", None),
        ("unknown format", ["data.foo"],
         "data.foo: unknown format '.foo', expected .vtu, .vtk, .pvd, .xdmf, .med, .e/.exo or .msh\n", None),
        ("hexahedron20 in another order", ["wrong.vtu"],
         "wrong.vtu: cell 0 of type hexahedron20: mid-side nodes are not in C3D20 order\n", None),
        ("cell type without element", ["pyramid.vtu"], "pyramid.vtu: cell type pyramid has no element in the database\n", None),
        ("field of neither length", ["short.xdmf"], "short.xdmf: point data u has 4 values, the mesh has 5 points\n", one),
        ("cell naming a node beyond the points", ["far.xdmf"],
         "far.xdmf: cell 1 of type tetra names node 10, the mesh has 5 points\n", None),
        ("meshes differ between steps", ["series.pvd"],
         "series.pvd: the mesh at time 2 differs from the first one (coordinates of point 2)\n", {"Step-1": 2}),
        ("tensor not symmetric", ["skew.vtu"], "skew.vtu: " + skew, model),
        ("second step faulty", ["s0.vtu", "--step", "Bad=skew.vtu"], "skew.vtu: " + skew, one),
        ("second step of another mesh", ["s0.vtu", "--step", "Other=s2.vtu"],
         "s2.vtu: the mesh at time 0 differs from the first one (coordinates of point 2)\n", one),
    ]
    for (row, args, err, kept), partial in ((r, p) for r in rows for p in ([], ["--partial"]) if p or r[3] is not None):
        row = row + (", --partial" if partial else "")
        r = mesh2odb(folder, "-o", "bad.odb", *partial, *args)
        err = "mesh2odb: " + err
        ok = r.status == 1 and (r.err == err if err.endswith("\n") else r.err.startswith(err) and r.err.count("\n") == 1)
        left = sorted(n for n in os.listdir(folder) if n.startswith("bad.odb"))
        got = left or None
        if left == ["bad.odb"]:
            with h5py.File(os.path.join(folder, "bad.odb"), "r") as f:
                got = {s: len(f["steps"][s]["frames"]) for s in f.get("steps", {})}
        check("bad input: " + row, ok and got == (kept if partial else None), "%s %r, left %s" % (r.status, r.err, got))
        [os.remove(os.path.join(folder, n)) for n in left]
    harness.write(os.path.join(folder, "same.vtu"), harness.read(os.path.join(folder, "s0.vtu")))
    r = mesh2odb(folder, "-o", "same.vtu", "same.vtu")
    check("bad input: output is an input", (r.status, r.err) == (1, "mesh2odb: same.vtu: is an input\n"), r.err)


def command_line(folder):
    tool = os.path.join(BIN, "mesh2odb")
    r = harness.run([tool, "--help"], cwd=folder, text=True)
    check("--help: usage on stdout, status 0", r.status == 0 and "usage: mesh2odb" in r.out and r.err == "", r.err)
    for args, err in ([["--bogus", "x.vtu"], "unrecognized arguments: --bogus"], [[], "no input file (try 'mesh2odb --help')"],
                      [["--map", "u", "x.vtu"], "--map takes SOURCE=FIELD, got 'u'"],
                      [["--map", "u=bad name", "x.vtu"], "--map target 'bad name' must hold letters, digits and underscores only"],
                      [["--step", "x.vtu"], "--step takes NAME=FILE, got 'x.vtu'"],
                      [["--density", "-1", "x.vtu"], "--density must be a positive number, got '-1'"]):
        r = harness.run([tool] + args, cwd=folder, text=True)
        check("bad option %s: status 2, one line" % args, (r.status, r.out, r.err) == (2, "", "mesh2odb: %s\n" % err),
              "%s %r" % (r.status, r.err))


if meshio is None:
    sys.exit(harness.skip(LABEL, "python3-meshio is not installed"))
with harness.scratch("mesh-tables-") as folder:
    for part in (node_order, fields, fallback_writer, sets, xdmf_layouts, bad_inputs, command_line):
        part(folder)
sys.exit(harness.finish(LABEL))
