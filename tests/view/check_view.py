#!/usr/bin/python3
"""odb2xdmf and harvest-plot --model against the program's report: in every frame, each exported
array's range equals the report's whole-model max and min lines of its quantity (as printed, %g).
  check_view.py BIN_DIR export     read back with h5py and meshio (no ParaView)
  check_view.py BIN_DIR paraview   read back by ParaView (HARVEST_VIEW=1): node orders, the picture,
                                   the solved bracket when ccx is installed
Databases: odbgen's, the bracket and two written here (every cell type over two instances, fields
at every position, one missing in a frame; a plane model of 8-node quads)."""
import json
import os
import re
import shutil
import sys

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import ALL_KEYWORDS, check, finish, read, run, scratch, skip, write  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
BIN, MODE = os.path.abspath(sys.argv[1]), sys.argv[2]
EXAMPLES = os.path.join(HERE, "..", "..", "examples", "calculix")
STR = h5py.string_dtype("utf-8")

# ---- databases written here ----------------------------------------------------------------------

MID = lambda pts, pairs: pts + [tuple((np.array(pts[a - 1]) + np.array(pts[b - 1])) / 2) for a, b in pairs]  # noqa
HEX = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
TET = [(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1)]
WEDGE = [(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (0, 1, 1)]
QUAD = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
TRI = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]
# (name, nodes in the solver's order, VTK cell type ParaView must make of it, integration points)
SOLIDS = [("C3D8", HEX, 12, 8),
          ("C3D20", MID(HEX, [(1, 2), (2, 3), (3, 4), (4, 1), (5, 6), (6, 7), (7, 8), (8, 5), (1, 5), (2, 6),
                              (3, 7), (4, 8)]), 25, 27),
          ("C3D4", TET, 10, 1), ("C3D10", MID(TET, [(1, 2), (2, 3), (3, 1), (1, 4), (2, 4), (3, 4)]), 24, 4),
          ("C3D6", WEDGE, 13, 2),
          ("C3D15", MID(WEDGE, [(1, 2), (2, 3), (3, 1), (4, 5), (5, 6), (6, 4), (1, 4), (2, 5), (3, 6)]), 26, 9)]
FLATS = [("CPS4", QUAD, 9, 4), ("CPS8", MID(QUAD, [(1, 2), (2, 3), (3, 4), (4, 1)]), 23, 9),
         ("CPS3", TRI, 5, 1), ("CPS6", MID(TRI, [(1, 2), (2, 3), (3, 1)]), 22, 3), ("B31", [(0, 0, 0), (1, 0, 0)], 4, 1),
         ("B32", [(0, 0, 0), (0.5, 0, 0), (1, 0, 0)], 21, 1)]


def group(parent, key, **attrs):
    g = parent.create_group(key, track_order=True)
    for k, v in attrs.items():
        g.attrs[k] = v
    return g


def instance_of(parent, name, elements, shift, first_node):
    """Elements side by side along x; returns {type: (element labels, their node labels)}."""
    labels, xyz, conn, offsets, out = [], [], [], [0], {}
    for e, (kind, pts, _, _) in enumerate(elements):
        nodes = []
        for p in pts:
            labels.append(first_node + len(labels))
            xyz.append((p[0] + 2 * e + shift[0], p[1] + shift[1], p[2] + shift[2]))
            nodes.append(labels[-1])
        conn += nodes
        offsets.append(len(conn))
        out[kind] = (100 + e, nodes)
    inst = group(parent, name, part=name)
    n = group(inst, "nodes")
    n["labels"] = np.array(labels, np.int32)
    n["coordinates"] = np.array(xyz)
    el = group(inst, "elements")
    el["labels"] = np.arange(100, 100 + len(elements), dtype=np.int32)
    el["offsets"] = np.array(offsets, np.int64)
    el["connectivity"] = np.array(conn, np.int32)
    group(inst, "nodeSets")["FIRST"] = np.array(out[elements[0][0]][1], np.int32)
    group(inst, "elementSets")["FIRST"] = np.array([100], np.int32)
    return out, np.array(labels, np.int32)


def field(outputs, name, code, labels):
    f = group(outputs, name, type=np.int32(code))
    if labels:
        f.attrs.create("componentLabels", labels, dtype=STR)
    return group(f, "blocks")


def block(blocks, position, instance, data, **labels):
    b = group(blocks, str(len(blocks)), position=position, instance=instance)
    b["data"] = data
    for k, v in labels.items():
        b[k] = np.asarray(v, np.int32)


def write_mixed(path, rng):
    """Two instances (every solid type; every flat type and a line), three frames over two steps:
    U at the nodes, S at the integration points (a block per type), E at the element nodes,
    EVOL per element, TEMP at the centroids of the flat instance; PE only in the first frame."""
    with h5py.File(path, "w", track_order=True) as f:
        f.attrs["format"], f.attrs["format_version"] = np.bytes_("odb"), np.int32(2)
        asm = group(f, "assembly")
        insts = group(asm, "instances")
        solids, solid_nodes = instance_of(insts, "SOLIDS", SOLIDS, (0, 0, 0), 1)
        flats, flat_nodes = instance_of(insts, "FLATS", FLATS, (0, 3, 0), 1)   # labels repeat across instances
        both = group(group(asm, "elementSets"), "BOTH")
        both["SOLIDS"], both["FLATS"] = np.array([101, 102], np.int32), np.array([100], np.int32)
        node_sets = group(asm, "nodeSets")
        group(node_sets, "TIPS")["SOLIDS"] = np.array([1, 2, 3], np.int32)
        hidden = group(node_sets, "HIDDEN")
        hidden.attrs["internal"] = np.int32(1)
        hidden["SOLIDS"] = np.array([1], np.int32)
        steps = group(f, "steps")
        frame_no = 0
        for step, values in (("Step-1", (0.5, 1.0)), ("Step-2", (1.0,))):
            frames = group(group(steps, step), "frames")
            for i, t in enumerate(values):
                out = group(group(frames, str(i), incrementNumber=np.int32(i + 1), frameValue=t), "fieldOutputs")
                u = field(out, "U", 3, ["U1", "U2", "U3"])
                for inst, nodes in (("SOLIDS", solid_nodes), ("FLATS", flat_nodes)):
                    block(u, "NODAL", inst, rng.normal(size=(len(nodes), 3)).astype(np.float32), nodeLabels=nodes)
                s = field(out, "S", 5, ["S11", "S22", "S33", "S12", "S13", "S23"])
                e = field(out, "E", 5, ["E11", "E22", "E33", "E12", "E13", "E23"])
                for inst, types in (("SOLIDS", SOLIDS), ("FLATS", FLATS[:4])):
                    have = solids if inst == "SOLIDS" else flats
                    for kind, _, _, points in types:
                        label, nodes = have[kind]
                        values = 100 * rng.normal(size=(points, 6))
                        if points > 2:   # two points of the same, largest von Mises: S12 and S13 swapped
                            values[1] *= 10
                            values[2] = values[1][[0, 1, 2, 4, 3, 5]]
                        block(s, "INTEGRATION_POINT", inst, values,
                              elementLabels=[label] * points, integrationPoints=range(1, points + 1))
                        if inst == "SOLIDS":
                            block(e, "ELEMENT_NODAL", inst, rng.normal(size=(len(nodes), 6)).astype(np.float32),
                                  elementLabels=[label] * len(nodes), nodeLabels=nodes)
                ev = field(out, "EVOL", 2, [])
                block(ev, "WHOLE_ELEMENT", "SOLIDS", rng.uniform(1, 2, size=(len(SOLIDS), 1)),
                      elementLabels=range(100, 100 + len(SOLIDS)))
                temp = field(out, "TEMP", 2, [])
                block(temp, "CENTROID", "FLATS", rng.normal(size=len(FLATS)), elementLabels=range(100, 100 + len(FLATS)))
                if frame_no == 0:
                    pe = field(out, "PE", 2, [])
                    block(pe, "INTEGRATION_POINT", "SOLIDS", rng.normal(size=16),
                          elementLabels=[100] * 8 + [101] * 8, integrationPoints=list(range(1, 9)) * 2)
                frame_no += 1


def write_plane(path, rng, n=6):
    """A plane-stress plate of n x n 8-node quads: U with two components, S with four (2-D planar),
    at the element nodes, two frames."""
    grid = {(i, j): None for j in range(2 * n + 1) for i in range(2 * n + 1) if not (i % 2 and j % 2)}
    grid = {p: k + 1 for k, p in enumerate(sorted(grid, key=lambda p: (p[1], p[0])))}
    labels, xyz = list(grid.values()), [(i / 2, j / 2, 0.0) for i, j in grid]
    ring = [(0, 0), (2, 0), (2, 2), (0, 2), (1, 0), (2, 1), (1, 2), (0, 1)]
    conn = [[grid[2 * i + a, 2 * j + b] for a, b in ring] for j in range(n) for i in range(n)]
    with h5py.File(path, "w", track_order=True) as f:
        f.attrs["format"], f.attrs["format_version"] = np.bytes_("odb"), np.int32(2)
        inst = group(group(group(f, "assembly"), "instances"), "PLATE-1")
        nodes, el = group(inst, "nodes"), group(inst, "elements")
        nodes["labels"], nodes["coordinates"] = np.array(labels, np.int32), np.array(xyz)
        el["labels"] = np.arange(1, n * n + 1, dtype=np.int32)
        el["offsets"] = np.arange(0, 8 * n * n + 1, 8, dtype=np.int64)
        el["connectivity"] = np.array(conn, np.int32).ravel()
        group(inst, "elementSets")["EDGE"] = np.arange(1, n + 1, dtype=np.int32)
        frames = group(group(group(f, "steps"), "Step-1"), "frames")
        for i in range(2):
            out = group(group(frames, str(i), incrementNumber=np.int32(i + 1), frameValue=float(i + 1)), "fieldOutputs")
            block(field(out, "U", 3, ["U1", "U2"]), "NODAL", "PLATE-1", rng.normal(size=(len(labels), 2)),
                  nodeLabels=labels)
            block(field(out, "S", 8, ["S11", "S22", "S33", "S12"]), "ELEMENT_NODAL", "PLATE-1",
                  50 * rng.normal(size=(8 * n * n, 4)), elementLabels=np.repeat(np.arange(1, n * n + 1), 8),
                  nodeLabels=np.ravel(conn))


def databases(work, bracket=False):
    """{case: path} of the databases written here, odbgen's and the bracket if asked and solved, each
    exported to CASE.xdmf in work."""
    rng = np.random.default_rng(23)
    dbs = {case: os.path.join(work, case + ".odb") for case in ("mixed", "plane", "odbgen")}
    write_mixed(dbs["mixed"], rng)
    write_plane(dbs["plane"], rng)
    r = run([os.path.join(BIN, "odbgen"), "--elements", "120", "--steps", "2", "--frames", "2", "--single",
             dbs["odbgen"]], work, timeout=120, text=True)
    check("odbgen", r.status == 0, r.err)
    dbs.update({"bracket": solve_bracket(work)} if bracket else {})
    for case, db in [(c, db) for c, db in dbs.items() if db]:
        r = export(db, os.path.join(work, case + ".xdmf"))
        check(f"{case}: export", r.status == 0 and r.err == "", r.err)
    return {c: db for c, db in dbs.items() if db}


# ---- the report and the export, side by side ------------------------------------------------------

def report_of(db, work):
    """{line name: value text} of the program's report of db (every keyword)."""
    folder = os.path.join(work, "report-" + os.path.basename(db))
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "config.txt"), ALL_KEYWORDS)
    r = run([os.path.join(BIN, "harvestodb"), "-odb", os.path.abspath(db), "-config", "config.txt"], folder,
            timeout=300, text=True)
    params = os.path.join(folder, "params.txt")
    check(f"{db}: report", r.status == 0 and os.path.exists(os.path.join(folder, "paramsdone.txt")), r.err)
    return dict(line.rsplit("\t", 1) for line in read(params, "r").splitlines()) if os.path.exists(params) else {}


def clean(name):
    return name.replace("-", "_").replace(" ", "_")


def compare_ranges(case, db, lines, ranges_of_frame):
    """Every whole-model max and min line of the report against the range of the array of the same
    quantity in the same frame (frames and fields read with h5py); ranges_of_frame(k) -> {array:
    (min per column, max per column)}. Element values reduced from several points (multi) are
    compared by their largest (max) and smallest (min) quantity, their components not at all."""
    compared = 0
    with h5py.File(db, "r") as f:
        frames = [(step, i, g["frames"][str(i)]) for step, g in f["steps"].items() for i in range(len(g["frames"]))]
        for k, (step, i, fr) in enumerate(frames):
            ranges = ranges_of_frame(k)
            for name, fo in fr.get("fieldOutputs", {}).items():
                code = int(fo.attrs["type"])
                quantity = "mag" if code == 3 else "mises" if code in (5, 6, 7, 8, 9) else None
                multi = any(len(b["elementLabels"]) > len(np.unique(b["elementLabels"][()]))
                            for b in fo["blocks"].values() if "elementLabels" in b)
                labels = [l.decode() if isinstance(l, bytes) else l for l in fo.attrs.get("componentLabels", [])]
                comps = [str(c + 1) for c in range(len(labels))] if code == 3 else [l[-2:] for l in labels]
                base = f"{clean(step)}__Frame_{int(fr.attrs.get('incrementNumber', i))}__{clean(name)}"
                wanted = []
                for stat in ("max", "min"):
                    wanted.append((f"{base}__{quantity}__{stat}" if quantity else f"{base}__{stat}", stat, 0,
                                   name + (f"_{quantity}" if quantity else "") + ("_min" if multi and stat == "min" else "")))
                    if quantity and not multi:
                        wanted += [(f"{base}__{c}__{stat}", stat, col, name) for col, c in enumerate(comps)]
                for line, stat, col, array in (w for w in wanted if w[0] in lines):
                    got = ranges.get(array)
                    value = None if got is None else (got[1] if stat == "max" else got[0])[col]
                    check(f"{case}: {step}:{fr.attrs.get('incrementNumber', i)} {array}[{col}] {stat}",
                          value is not None and f"{value:g}" == lines[line], f"report {lines[line]}, export {value}")
                    compared += 1
    check(f"{case}: some ranges compared", compared > 0)


def h5_ranges(xdmf_path):
    """Per frame {array: (min, max) per column} straight from the export's HDF5 file (NaN skipped)."""
    text, frames = read(xdmf_path, "r"), []
    with h5py.File(xdmf_path[:-len(".xdmf")] + ".h5", "r") as f:
        for grid in re.findall(r'<Grid Name="[^"]*" GridType="Uniform">(.*?)</Grid>', text, re.S):
            ranges = {}
            for name, path in re.findall(r'<Attribute Name="([^"]*)".*?:(/[^<]*)</DataItem>', grid):
                a = f[path][()].astype(np.float64).reshape(len(f[path]), -1)
                a = a[~np.isnan(a).any(axis=1)]
                ranges[name] = (a.min(axis=0), a.max(axis=0)) if len(a) else None
            frames.append(ranges)
    return frames


def export(db, out, *extra):
    return run([os.path.join(BIN, "odb2xdmf"), "-o", out, *extra, db], os.path.dirname(out), timeout=300, text=True)


# ---- without ParaView -----------------------------------------------------------------------------

def check_export(work):
    dbs = databases(work)
    for case, db in dbs.items():
        out = os.path.join(work, case + ".xdmf")
        text = read(out, "r")
        items = re.findall(r"<DataItem[^>]*>", text)
        check(f"{case}: every array in HDF5", items and all('Format="HDF"' in i for i in items)
              and not re.search(r">\s*-?\d", text.replace("</DataItem>", "")), text[:300])
        # every frame's topology: as many cells as the database has elements, by its count and its rows
        topologies = re.findall(r'<Topology TopologyType="([^"]*)" NumberOfElements="(\d+)"[^>]*>'
                                r'<DataItem[^>]*Dimensions="(\d+)', text)
        elements, grids = sizes(db)[1], text.count('GridType="Uniform"')
        check(f"{case}: every frame's topology holds the database's {elements} elements",
              len(topologies) == grids > 0 and all(int(n) == elements and (kind == "Mixed" or int(rows) == elements)
                                                   for kind, n, rows in topologies), str(topologies[:3]))
        frames = h5_ranges(out)
        compare_ranges(case, db, report_of(db, work), lambda k: frames[k])
        check_sets(case, db, frames)
    # a field in one frame only; frame values that do not rise: numbered instead, and said
    mixed = h5_ranges(os.path.join(work, "mixed.xdmf"))
    check("PE only in the frame that has it", "PE" in mixed[0] and all("PE" not in f for f in mixed[1:]))
    still = os.path.join(work, "still.odb")
    shutil.copy(dbs["plane"], still)
    with h5py.File(still, "r+") as f:
        f["steps/Step-1/frames/1"].attrs["frameValue"] = 1.0
    r = export(still, os.path.join(work, "still.xdmf"))
    check("frame values that stand still", "times: frame numbers" in r.out, r.out)
    for case, times in (("mixed", ["0.5", "1.0", "2.0"]), ("still", ["0.0", "1.0"])):
        got = re.findall(r'<Time Value="([^"]*)"', read(os.path.join(work, case + ".xdmf"), "r"))
        check(f"{case}: times", got == times, str(got))
    # exported again under the same name, over the export it replaces: the same bytes
    out = os.path.join(work, "odbgen.xdmf")
    before = h5_bytes(out)
    r = export(dbs["odbgen"], out)
    check("odbgen: exported over its last export", r.status == 0 and h5_bytes(out) == before, r.err)
    check_meshio(work, dbs)
    check_bad_input(work, dbs["mixed"])
    check_reduction(dbs)


def check_reduction(dbs):
    """The module's reading and reduction of each block, against numpy's of the block read whole
    (xdmf.numpy_block), array for array in bytes: the row of an element's largest von Mises is its
    first point of that value (the mixed model's elements of more than two points have two)."""
    sys.path.insert(0, os.path.join(BIN, "..", "python"))
    from harvestodb import xdmf
    module, numpy_only = xdmf.place_block, lambda *_: None
    for case, db in dbs.items():
        with xdmf.open_database(db) as d:
            mesh = xdmf.Mesh(d, db)
            for f, frame in ((f, fr) for st in d.steps.values() for fr in st.frames for f in fr.field_outputs.values()):
                got = {k: (a.dtype, a.shape, a.tobytes()) for k, a in xdmf.field_arrays(f, mesh).items()}
                xdmf.place_block = numpy_only
                try:
                    want = {k: (a.dtype, a.shape, a.tobytes()) for k, a in xdmf.field_arrays(f, mesh).items()}
                finally:
                    xdmf.place_block = module
                check(f"{case}: {f.name} of frame {frame.increment_number}: the module's reduction is numpy's",
                      got == want, str(sorted(got)))


def h5_bytes(xdmf):
    """{dataset: (dtype, shape, bytes)} of an export's HDF5 file."""
    out = {}
    with h5py.File(xdmf[:-len(".xdmf")] + ".h5", "r") as h:
        h.visititems(lambda n, o: out.update({n: (o.dtype.str, o.shape, o[()].tobytes())})
                     if isinstance(o, h5py.Dataset) else None)
    return out


def check_sets(case, db, frames):
    """In every frame, a 0/1 set array counts the set's members; internal sets are not exported."""
    want = {}
    with h5py.File(db, "r") as f:
        owners = [(inst + ".", g) for inst, g in f["assembly/instances"].items()] + [("", f["assembly"])]
        for prefix, owner in owners:
            for kind, array in (("nodeSets", "nset"), ("elementSets", "elset")):
                for name, members in owner.get(kind, {}).items():
                    if not members.attrs.get("internal", 0):
                        per = members.values() if isinstance(members, h5py.Group) else [members]
                        want[f"{array}_{prefix}{name}"] = sum(len(np.unique(v[()])) for v in per)
    with h5py.File(os.path.join(os.path.dirname(db), case + ".h5"), "r") as h:
        for name, count in want.items():
            got = int(h[f"sets/{name}"][()].sum()) if f"sets/{name}" in h else None
            check(f"{case}: set {name} counts its members", got == count, f"{got} != {count}")
        check(f"{case}: sets in every frame, internal ones left out", "sets/nset_HIDDEN" not in h
              and all(n in fr for fr in frames for n in want))


def sizes(db):
    """(nodes, elements) of a database, every instance's: what each frame of its export must hold."""
    with h5py.File(db, "r") as f:
        insts = f["assembly/instances"].values()
        return sum(len(i["nodes/labels"]) for i in insts), sum(len(i["elements/labels"]) for i in insts)


def check_meshio(work, dbs):
    try:
        import meshio
    except ImportError:
        print("meshio: not installed (Debian python3-meshio), its read-back skipped")
        return
    for case in ("plane", "odbgen"):   # meshio 5 reads single-type meshes, and mixed ones of linear types only
        out, (points, cells) = os.path.join(work, case + ".xdmf"), sizes(dbs[case])
        frames = h5_ranges(out)
        with meshio.xdmf.TimeSeriesReader(out) as reader:
            pts, blocks = reader.read_points_cells()
            check(f"{case}: meshio points, cells, steps", (len(pts), sum(len(b.data) for b in blocks), reader.num_steps)
                  == (points, cells, len(frames)), f"{len(pts)} {[len(b.data) for b in blocks]} {reader.num_steps}")
            for k in range(reader.num_steps):
                _, point_data, cell_data = reader.read_data(k)
                check(f"{case}: meshio frame {k} arrays", set(point_data) | set(cell_data) == set(frames[k]))
                for name, values in cell_data.items():
                    v, want = np.concatenate(values).reshape(cells, -1), frames[k][name]
                    check(f"{case}: meshio frame {k} {name}",
                          want is None or np.allclose(np.nanmax(v, axis=0), want[1], equal_nan=True))


def check_bad_input(work, good):
    folder = os.path.join(work, "bad")
    os.makedirs(folder)
    shutil.copy(good, os.path.join(folder, "broken.odb"))
    with h5py.File(os.path.join(folder, "broken.odb"), "r+") as f:
        del f["steps/Step-1/frames/1/fieldOutputs/S/blocks/0/data"]
    shutil.copy(os.path.join(folder, "broken.odb"), os.path.join(folder, "badmesh.odb"))
    with h5py.File(os.path.join(folder, "badmesh.odb"), "r+") as f:   # the mesh's failure is the one reported
        f["assembly/instances/FLATS/elements/connectivity"][0] = 999
    before = sorted(os.listdir(folder))
    cases = [(["missing.odb"], "odb2xdmf: missing.odb: /: file does not exist\n"),
             (["--fields", "U,STRESS", good], f"odb2xdmf: {good}: no field output STRESS in any frame "
                                              "(fields: E, EVOL, PE, S, TEMP, U)\n"),
             (["broken.odb"], "odb2xdmf: broken.odb: /steps/Step-1/frames/1/fieldOutputs/S/blocks/0: data is "
                              "missing\n"),
             (["badmesh.odb"], "odb2xdmf: badmesh.odb: /assembly/instances/FLATS: element 100 refers to node 999, "
                               "which the instance does not have\n"),
             (["-o", "nodir/x.xdmf", good], "odb2xdmf: nodir/x.h5: No such file or directory\n")]
    for argv, err in cases:
        r = run([os.path.join(BIN, "odb2xdmf"), "-o", "x.xdmf", *argv], folder, timeout=60, text=True)
        check(f"{argv}: status 1, one line, nothing written", r.status == 1 and r.err == err and r.out == ""
              and sorted(os.listdir(folder)) == before, f"{r.err!r} {os.listdir(folder)}")


# ---- with ParaView --------------------------------------------------------------------------------

def pvbatch(script, *args, cwd):
    """(status, READBACK object or None, stderr) of a pvbatch run under xvfb-run, guarded."""
    for attempt in range(3):   # a display taken by another X server meanwhile is tried again, as harvest-plot does
        display = 100 + (os.getpid() * 7 + attempt * 101 + 13) % 30000
        r = run(["xvfb-run", "-a", "-n", str(display), "pvbatch", script, *args], cwd, timeout=300,
                fsize=1 << 30, text=True)
        if r.status == 0 or "bad X server connection" not in r.err:
            break
    got = next((json.loads(l[9:]) for l in r.out.splitlines() if l.startswith("READBACK ")), None)
    return r.status, got, r.err[-2000:]


def check_paraview(work):
    dbs = databases(work, bracket=True)
    types = {"mixed": [t for _, _, t, _ in SOLIDS + FLATS], "plane": [23], "odbgen": [12]}
    for case, db in dbs.items():
        out = os.path.join(work, case + ".xdmf")
        status, got, err = pvbatch(os.path.join(HERE, "pv_read_back.py"), out, cwd=work)
        if not check(f"{case}: ParaView reads it", status == 0 and got is not None, err):
            continue
        (points, cells) = sizes(db)
        times = [float(t) for t in re.findall(r'<Time Value="([^"]*)"', read(out, "r"))]
        check(f"{case}: points, cells of every frame, times", (got["points"], got["cells"], got["times"])
              == ([points] * len(times), [cells] * len(times), times),
              f"{got['points']} {got['cells']} {got['times']} != {points} {cells} {times}")
        check(f"{case}: cell types", case not in types or got["cell_types"] == sorted(types[case]),
              str(got["cell_types"]))
        check(f"{case}: every cell read in its node order", got["misread"] == [], str(got["misread"]))
        frames = [{n.split(":", 1)[1]: (a["min"], a["max"]) for n, a in fr.items() if a["max"]} for fr in got["frames"]]
        compare_ranges(case + " (ParaView)", db, report_of(db, work), lambda k: frames[k])
        sets = {n.split(":", 1)[1] for n in got["frames"][0] if "set_" in n}
        check(f"{case}: set arrays", sets and sets <= set(h5_ranges(out)[0]))
        if case != "plane":
            check_picture(case, db, work)
    # bad input to --model: one line, status 1, no picture and no scratch folder left
    mixed = dbs["mixed"]
    for argv, err in ((["--model", mixed, "--field", "NOPE"], "no field output NOPE in frame Step-2:1"),
                      (["--model", mixed, "--frame", "Step-1:7"], "no frame Step-1:7; frames: Step-1:1, Step-1:2"),
                      (["--model", os.path.join(work, "mixed.xdmf")], "file is not an hdf5 file")):
        folder = os.path.join(work, "bad-model")
        os.makedirs(folder, exist_ok=True)
        r = run([os.path.join(BIN, "harvest-plot"), *argv], folder, timeout=120, text=True)
        check(f"{argv[2:]}: --model refuses", r.status == 1 and r.err.count("\n") == 1 and err in r.err
              and os.listdir(folder) == [], f"{r.status} {r.err!r} {os.listdir(folder)}")


def peak_of(db_path, step, increment, name, percentage=5.0):
    """(element label of the largest von Mises, of the engineering maximum, the largest), with numpy."""
    with h5py.File(db_path, "r") as f:
        frames = f["steps"][step]["frames"]
        fr = next(frames[k] for k in frames if int(frames[k].attrs.get("incrementNumber", k)) == increment)
        blocks = list(fr["fieldOutputs"][name]["blocks"].values())
        s = np.concatenate([np.pad(b["data"][()].astype(np.float64), ((0, 0), (0, 6 - b["data"].shape[1])))
                            for b in blocks])
        labels = np.concatenate([b["elementLabels"][()] for b in blocks])
    q = np.sqrt(((s[:, 0] - s[:, 1]) ** 2 + (s[:, 1] - s[:, 2]) ** 2 + (s[:, 2] - s[:, 0]) ** 2) / 2
                + 3 * (s[:, 3] ** 2 + s[:, 4] ** 2 + s[:, 5] ** 2))
    k = int(min(len(q) * percentage / 100, len(q)))
    engg = np.sort(q)[len(q) - 1 - max(k - 1, 0)]
    return int(labels[np.argmax(q)]), int(labels[np.nonzero(q == engg)[0][0]]), float(q.max())


def check_picture(case, db, work):
    step, increment = ("Step-1", 2) if case == "bracket" else ("Step-1", 1)
    png = os.path.join(work, case + "-view.png")
    r = run([os.path.join(BIN, "harvest-plot"), "--model", db, "--frame", f"{step}:{increment}", "--size",
             "640x480", "-o", png], work, timeout=400, text=True)
    if not check(f"{case}: picture", r.status == 0 and os.path.exists(png), r.err):
        return
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.image
    image = matplotlib.image.imread(png)
    colours = len(np.unique((image[:, :, :3] * 255).astype(np.uint8).reshape(-1, 3), axis=0))
    check(f"{case}: picture of the size asked, not blank", image.shape[:2] == (480, 640) and colours > 100,
          f"{image.shape} {colours} colours")
    top, engg, value = peak_of(db, step, increment, "S")
    marked = re.findall(r"^(maximum|engineering maximum \(5 %\)): S von Mises (\S+) at element (\d+)"
                        r".*centroid at \(", r.out, re.M)
    check(f"{case}: marked elements, the maximum's value and where they are",
          [(m[0].split(" ")[0], int(m[2])) for m in marked] == [("maximum", top), ("engineering", engg)]
          and marked[0][1] == f"{value:g}", f"{r.out!r} vs {top}, {engg}, {value:g}")


def solve_bracket(work):
    """The bracket solved by ccx and imported; None (said) when ccx is not installed."""
    if not shutil.which("ccx"):
        print("bracket: ccx not installed (Debian calculix-ccx), left out")
        return None
    folder = os.path.join(work, "bracket")
    os.makedirs(folder)
    for name in ("bracket.inp", "bracket_mesh.inp"):
        shutil.copy(os.path.join(EXAMPLES, name), folder)
    r = run(["ccx", "-i", "bracket"], folder, timeout=600, fsize=1 << 30, env=dict(os.environ, OMP_NUM_THREADS="1"))
    check("bracket: ccx", r.status == 0, r.err[-500:])
    r = run([os.path.join(BIN, "ccx2odb"), "bracket"], folder, timeout=300, text=True)
    check("bracket: ccx2odb", r.status == 0, r.err)
    return os.path.join(folder, "bracket.odb") if r.status == 0 else None


if MODE == "paraview":
    if not os.environ.get("HARVEST_VIEW"):   # minutes of ParaView: not in the default run
        sys.exit(skip("check_view paraview", "runs in scripts/ci/view (HARVEST_VIEW=1 ctest -L view)"))
    if not (shutil.which("pvbatch") and shutil.which("xvfb-run")):
        sys.exit(skip("check_view paraview", "pvbatch or xvfb-run missing (Debian paraview, xvfb)"))
    with scratch("view-test-") as folder:
        check_paraview(folder)
else:
    with scratch("view-test-") as folder:
        check_export(folder)
sys.exit(finish(f"check_view {MODE}"))
