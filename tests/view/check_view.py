#!/usr/bin/python3
"""odb2xdmf and harvest-plot --model against the program's report: in every frame, each exported array's range
equals the report's whole-model max and min lines of its quantity (as printed, %g).
  check_view.py BIN_DIR export|paraview   read back with h5py and meshio | by ParaView (HARVEST_VIEW=1)"""
import errno, fcntl, itertools, json, os, re, shutil, sys, time, h5py, numpy as np  # noqa: E401

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from harness import ALL_KEYWORDS, check, finish, read, run, scratch, skip, write  # noqa: E402

BIN, MODE = os.path.abspath(sys.argv[1]), sys.argv[2]
I32 = lambda v: np.asarray(v, np.int32)  # noqa: E731

# MID adds the middle nodes of the edges "ab ..." (a, b: corner numbers from 1)
MID = lambda pts, edges: pts + [tuple((np.array(pts[int(a) - 1]) + pts[int(b) - 1]) / 2) for a, b in edges.split()]  # noqa
HEX = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
TRI = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]
TET, WEDGE = TRI + [(0, 0, 1)], TRI + [(0, 0, 1), (1, 0, 1), (0, 1, 1)]
# (name, nodes in the solver's order, VTK cell type ParaView must make of it, integration points)
SOLIDS = [("C3D8", HEX, 12, 8), ("C3D20", MID(HEX, "12 23 34 41 56 67 78 85 15 26 37 48"), 25, 27),
          ("C3D4", TET, 10, 1), ("C3D10", MID(TET, "12 23 31 14 24 34"), 24, 4),
          ("C3D6", WEDGE, 13, 2), ("C3D15", MID(WEDGE, "12 23 31 45 56 64 14 25 36"), 26, 9)]
FLATS = [("CPS4", HEX[:4], 9, 4), ("CPS8", MID(HEX[:4], "12 23 34 41"), 23, 9), ("CPS3", TRI, 5, 1),
         ("CPS6", MID(TRI, "12 23 31"), 22, 3), ("B31", TRI[:2], 4, 1),
         ("B32", [(0, 0, 0), (0.5, 0, 0), (1, 0, 0)], 21, 1)]


def group(parent, key, **attrs):
    g = parent.create_group(key, track_order=True)
    g.attrs.update(attrs)
    return g


def instance(parent, name, nodes, xyz, elements, offsets, conn, **attrs):
    inst = group(parent, name, **attrs)
    group(inst, "nodes").update(labels=I32(nodes), coordinates=np.array(xyz))
    group(inst, "elements").update(labels=I32(elements), offsets=np.array(offsets, np.int64), connectivity=I32(conn))
    return inst


def instance_of(parent, name, elements, dy):
    """Elements side by side along x, nodes from 1: ({type: (element label, its node labels)}, node labels)."""
    xyz, offsets, out = [], [0], {}
    for e, (kind, pts, _, _) in enumerate(elements):
        out[kind] = (100 + e, list(range(len(xyz) + 1, len(xyz) + len(pts) + 1)))
        xyz += [(x + 2 * e, y + dy, z) for x, y, z in pts]
        offsets.append(len(xyz))
    labels = range(1, len(xyz) + 1)
    inst = instance(parent, name, labels, xyz, range(100, 100 + len(elements)), offsets, labels, part=name)
    group(inst, "nodeSets")["FIRST"], group(inst, "elementSets")["FIRST"] = I32(out[elements[0][0]][1]), I32([100])
    return out, labels


def field(outputs, name, code, labels=()):
    f = group(outputs, name, type=np.int32(code))
    if labels:
        f.attrs.create("componentLabels", labels, dtype=h5py.string_dtype("utf-8"))
    return group(f, "blocks")


def block(blocks, position, instance, data, **labels):
    group(blocks, str(len(blocks)), position=position, instance=instance).update(
        data=data, **{k: I32(v) for k, v in labels.items()})


def outputs(f, steps):
    """The header and the steps {name: frame values} of a new database f; the field outputs group of each frame."""
    f.attrs["format"], f.attrs["format_version"] = np.bytes_("odb"), np.int32(2)
    out, all_steps = [], group(f, "steps")
    for step, values in steps.items():
        frames = group(group(all_steps, step), "frames")
        out += [group(group(frames, str(i), incrementNumber=np.int32(i + 1), frameValue=t), "fieldOutputs")
                for i, t in enumerate(values)]
    return out


def write_mixed(path, rng):
    """Two instances (every solid type; every flat type and a line), three frames over two steps: U at the nodes, S at
    the integration points, E at the element nodes, EVOL per element, TEMP at the centroids; PE in frame 1 only."""
    with h5py.File(path, "w", track_order=True) as f:
        asm = group(f, "assembly")
        insts = group(asm, "instances")   # node and element labels repeat across instances
        have = {"SOLIDS": instance_of(insts, "SOLIDS", SOLIDS, 0), "FLATS": instance_of(insts, "FLATS", FLATS, 3)}
        group(group(asm, "elementSets"), "BOTH").update(SOLIDS=I32([101, 102]), FLATS=I32([100]))
        node_sets = group(asm, "nodeSets")
        group(node_sets, "TIPS")["SOLIDS"] = I32([1, 2, 3])
        group(node_sets, "HIDDEN", internal=np.int32(1))["SOLIDS"] = I32([1])
        for k, out in enumerate(outputs(f, {"Step-1": (0.5, 1.0), "Step-2": (1.0,)})):
            u = field(out, "U", 3, ["U1", "U2", "U3"])
            for inst, (_, nodes) in have.items():
                block(u, "NODAL", inst, rng.normal(size=(len(nodes), 3)).astype(np.float32), nodeLabels=nodes)
            s, e = (field(out, q, 5, [q + c for c in ("11", "22", "33", "12", "13", "23")]) for q in "SE")
            for inst, (kind, _, _, points) in [("SOLIDS", t) for t in SOLIDS] + [("FLATS", t) for t in FLATS[:4]]:
                label, nodes = have[inst][0][kind]
                values = 100 * rng.normal(size=(points, 6))
                if points > 2:   # two points of the same, largest von Mises: S12 and S13 swapped
                    values[1:3] = 10 * values[1], 10 * values[1][[0, 1, 2, 4, 3, 5]]
                block(s, "INTEGRATION_POINT", inst, values, elementLabels=[label] * points,
                      integrationPoints=range(1, points + 1))
                if inst == "SOLIDS":
                    block(e, "ELEMENT_NODAL", inst, rng.normal(size=(len(nodes), 6)).astype(np.float32),
                          elementLabels=[label] * len(nodes), nodeLabels=nodes)
            block(field(out, "EVOL", 2), "WHOLE_ELEMENT", "SOLIDS", rng.uniform(1, 2, size=(len(SOLIDS), 1)),
                  elementLabels=range(100, 100 + len(SOLIDS)))
            block(field(out, "TEMP", 2), "CENTROID", "FLATS", rng.normal(size=len(FLATS)),
                  elementLabels=range(100, 100 + len(FLATS)))
            if k == 0:
                block(field(out, "PE", 2), "INTEGRATION_POINT", "SOLIDS", rng.normal(size=16),
                      elementLabels=[100] * 8 + [101] * 8, integrationPoints=list(range(1, 9)) * 2)


def write_plane(path, rng, n=6):
    """A plane-stress plate of n x n 8-node quads, two frames: U of two components, S of four at the element nodes."""
    grid = [(i, j) for j in range(2 * n + 1) for i in range(2 * n + 1) if not (i % 2 and j % 2)]
    grid = {p: k + 1 for k, p in enumerate(grid)}
    ring = [(0, 0), (2, 0), (2, 2), (0, 2), (1, 0), (2, 1), (1, 2), (0, 1)]
    conn = np.ravel([[grid[2 * i + a, 2 * j + b] for a, b in ring] for j in range(n) for i in range(n)])
    with h5py.File(path, "w", track_order=True) as f:
        inst = instance(group(group(f, "assembly"), "instances"), "PLATE-1", list(grid.values()),
                        [(i / 2, j / 2, 0.0) for i, j in grid], range(1, n * n + 1), range(0, 8 * n * n + 1, 8), conn)
        group(inst, "elementSets")["EDGE"] = I32(range(1, n + 1))
        for out in outputs(f, {"Step-1": (1.0, 2.0)}):
            block(field(out, "U", 3, ["U1", "U2"]), "NODAL", "PLATE-1", rng.normal(size=(len(grid), 2)),
                  nodeLabels=list(grid.values()))
            block(field(out, "S", 8, ["S11", "S22", "S33", "S12"]), "ELEMENT_NODAL", "PLATE-1",
                  50 * rng.normal(size=(8 * n * n, 4)), elementLabels=np.repeat(range(1, n * n + 1), 8), nodeLabels=conn)


def tool(name, *argv, cwd, timeout=300, fsize=64 << 20):
    return run([os.path.join(BIN, name), *argv], cwd, timeout=timeout, fsize=fsize, text=True)


def export(db, out):
    return tool("odb2xdmf", "-o", out, db, cwd=os.path.dirname(out))


def databases(work, bracket=False):
    """{case: path} of the databases written here, odbgen's and the solved bracket if asked, each as work/CASE.xdmf."""
    rng, dbs = np.random.default_rng(23), {case: os.path.join(work, case + ".odb") for case in ("mixed", "plane", "odbgen")}
    write_mixed(dbs["mixed"], rng)
    write_plane(dbs["plane"], rng)
    tool("odbgen", "--elements", "120", "--steps", "2", "--frames", "2", "--single", dbs["odbgen"], cwd=work)
    dbs = {c: db for c, db in {**dbs, "bracket": bracket and solve_bracket(work)}.items() if db}
    for case, db in dbs.items():
        r = export(db, os.path.join(work, case + ".xdmf"))
        check(f"{case}: export", r.status == 0 and r.err == "", r.err)
    return dbs


def compare_ranges(case, db, work, ranges):
    """Every whole-model max and min line of the program's report of db (every keyword) against the range of the
    array of its quantity in ranges[frame] = {array: (min, max) per column}; values reduced from several points
    (multi) by quantity only."""
    folder = os.path.join(work, "report-" + os.path.basename(db))
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "config.txt"), ALL_KEYWORDS)
    r = tool("harvestodb", "-odb", os.path.abspath(db), "-config", "config.txt", cwd=folder)
    check(f"{db}: report", r.status == 0 and os.path.exists(os.path.join(folder, "paramsdone.txt")), r.err)
    params = os.path.join(folder, "params.txt")
    lines = dict(line.rsplit("\t", 1) for line in read(params, "r").splitlines()) if os.path.exists(params) else {}
    compared, clean = 0, lambda name: name.replace("-", "_").replace(" ", "_")
    with h5py.File(db, "r") as f:
        frames = [(step, i, g["frames"][str(i)]) for step, g in f["steps"].items() for i in range(len(g["frames"]))]
        for k, (step, i, fr) in enumerate(frames):
            for name, fo in fr.get("fieldOutputs", {}).items():
                code, increment = int(fo.attrs["type"]), int(fr.attrs.get("incrementNumber", i))
                q = ["mag"] if code == 3 else ["mises"] if code in (5, 6, 7, 8, 9) else []   # the quantity
                multi = any(len(b["elementLabels"]) > len(np.unique(b["elementLabels"][()]))
                            for b in fo["blocks"].values() if "elementLabels" in b)
                comps = [str(c + 1) if code == 3 else (l.decode() if isinstance(l, bytes) else l)[-2:]
                         for c, l in enumerate(fo.attrs.get("componentLabels", []))]
                base = f"{clean(step)}__Frame_{increment}__{clean(name)}"
                for side, stat in enumerate(("min", "max")):
                    wanted = [("__".join([base, *q, stat]), 0, "_".join([name, *q]) + ("_min" if multi and not side else ""))]
                    wanted += [(f"{base}__{c}__{stat}", col, name) for col, c in enumerate(comps) if q and not multi]
                    for line, col, array in (w for w in wanted if w[0] in lines):
                        value = ranges[k][array][side][col] if ranges[k].get(array) is not None else None
                        check(f"{case}: {step}:{increment} {array}[{col}] {stat}",
                              value is not None and f"{value:g}" == lines[line], f"report {lines[line]}, export {value}")
                        compared += 1
    check(f"{case}: some ranges compared", compared > 0)


def h5_ranges(xdmf_path):
    """Per frame {array: (min, max) per column, None when all NaN} straight from the export's HDF5 file."""
    grids = re.findall(r'<Grid Name="[^"]*" GridType="Uniform">(.*?)</Grid>', read(xdmf_path, "r"), re.S)
    with h5py.File(xdmf_path[:-len(".xdmf")] + ".h5", "r") as f:
        frames = [{name: f[path][()].astype(np.float64).reshape(len(f[path]), -1)
                   for name, path in re.findall(r'<Attribute Name="([^"]*)".*?:(/[^<]*)</DataItem>', grid)} for grid in grids]
    frames = [{n: a[~np.isnan(a).any(axis=1)] for n, a in fr.items()} for fr in frames]   # rows without NaN
    return [{n: (a.min(axis=0), a.max(axis=0)) if len(a) else None for n, a in fr.items()} for fr in frames]


def sizes(db):
    """(nodes, elements) of a database, every instance's: what each frame of its export must hold."""
    with h5py.File(db, "r") as f:
        insts = f["assembly/instances"].values()
        return sum(len(i["nodes/labels"]) for i in insts), sum(len(i["elements/labels"]) for i in insts)


def check_export(work):
    dbs = databases(work)
    for case, db in dbs.items():
        out = os.path.join(work, case + ".xdmf")
        text, frames, elements = read(out, "r"), h5_ranges(out), sizes(db)[1]
        items = re.findall(r"<DataItem[^>]*>", text)
        check(f"{case}: every array in HDF5", items and all('Format="HDF"' in i for i in items)
              and not re.search(r">\s*-?\d", text.replace("</DataItem>", "")), text[:300])
        # every frame's topology: as many cells as the database has elements, by its count and its rows
        topologies = re.findall(r'<Topology TopologyType="([^"]*)" NumberOfElements="(\d+)"[^>]*>'
                                r'<DataItem[^>]*Dimensions="(\d+)', text)
        check(f"{case}: every frame's topology holds the database's {elements} elements",
              len(topologies) == text.count('GridType="Uniform"') > 0 and all(
                  int(n) == elements and (kind == "Mixed" or int(rows) == elements) for kind, n, rows in topologies),
              str(topologies[:3]))
        compare_ranges(case, db, work, frames)
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
    before, r = h5_bytes(out), export(dbs["odbgen"], out)
    check("odbgen: exported over its last export", r.status == 0 and h5_bytes(out) == before, r.err)
    check_meshio(work, dbs)
    check_bad_input(work, dbs["mixed"])
    check_reduction(dbs)


def check_reduction(dbs):
    """The module's reading and reduction of each block against numpy's of the block read whole, array for array in
    bytes: the row of an element's largest von Mises is its first point of that value (some mixed elements have two)."""
    sys.path.insert(0, os.path.join(BIN, "..", "python"))
    from harvestodb import xdmf
    module = xdmf.place_block
    as_bytes = lambda f, mesh: {k: (a.dtype, a.shape, a.tobytes()) for k, a in xdmf.field_arrays(f, mesh).items()}  # noqa
    for case, db in dbs.items():
        with xdmf.open_database(db) as d:
            mesh = xdmf.Mesh(d, db)
            for f, frame in ((f, fr) for st in d.steps.values() for fr in st.frames for f in fr.field_outputs.values()):
                got = as_bytes(f, mesh)
                xdmf.place_block = lambda *_: None   # numpy only (xdmf.numpy_block)
                want = as_bytes(f, mesh)
                xdmf.place_block = module
                check(f"{case}: {f.name} of frame {frame.increment_number}: the module's reduction is numpy's",
                      got == want, str(sorted(got)))
    # a file system that refuses writes past the page cache: the export writes through it, the same bytes
    real, refused = os.pwrite, []

    def pwrite(fd, data, at):
        if fcntl.fcntl(fd, fcntl.F_GETFL) & os.O_DIRECT:
            refused.append(at)
            raise OSError(errno.EINVAL, "Invalid argument")
        return real(fd, data, at)
    work = os.path.dirname(dbs["odbgen"])
    db, out = os.path.join(work, "pages.odb"), os.path.join(work, "refused.xdmf")
    tool("odbgen", "--elements", "3000", "--frames", "1", "--single", db, cwd=work)   # arrays of whole pages
    export(db, os.path.join(work, "pages.xdmf"))
    os.pwrite = pwrite
    try:
        xdmf.export(db, out)
    finally:
        os.pwrite = real
    check("O_DIRECT refused: written through the page cache, the same bytes",
          refused and h5_bytes(out) == h5_bytes(os.path.join(work, "pages.xdmf")), str(refused))
    check_read_ahead(db, work)


def check_read_ahead(db, work):
    """The read-ahead brings a database whose pages were dropped into the page cache, and resident() says so; files
    it cannot read, or that hold nothing, are left alone. Where dropping does nothing (tmpfs), the first row cannot
    fail."""
    from harvestodb import readahead
    fd = os.open(db, os.O_RDONLY)
    os.fsync(fd)
    os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    os.close(fd)
    dropped, ahead = readahead.resident(db), readahead.start(db)
    for _ in range(500):   # at most 10 s
        if readahead.resident(db) == 1.0:
            break
        time.sleep(0.02)
    ahead.stop()
    ahead.stop()   # a second stop does nothing
    empty, missing = os.path.join(work, "empty.odb"), os.path.join(work, "missing.odb")
    open(empty, "w").close()
    for what, got, want in [(f"a dropped database ({dropped:.0%} cached), read ahead", readahead.resident(db), 1.0),
                            ("a missing file", (readahead.start(missing), readahead.resident(missing)), (None, 0.0)),
                            ("an empty file", readahead.resident(empty), 0.0)]:
        check(f"read-ahead: {what}", got == want, f"{got} (expected {want})")


def h5_bytes(xdmf):
    """{dataset: (dtype, shape, bytes)} of an export's HDF5 file."""
    with h5py.File(xdmf[:-len(".xdmf")] + ".h5", "r") as h:
        names = []
        h.visit(names.append)
        return {n: (h[n].dtype.str, h[n].shape, h[n][()].tobytes()) for n in names if isinstance(h[n], h5py.Dataset)}


def check_sets(case, db, frames):
    """In every frame, a 0/1 set array counts the set's members; internal sets are not exported."""
    want = {}
    with h5py.File(db, "r") as f:
        owners = [(inst + ".", g) for inst, g in f["assembly/instances"].items()] + [("", f["assembly"])]
        for (prefix, owner), (kind, array) in itertools.product(owners, (("nodeSets", "nset"), ("elementSets", "elset"))):
            for name, members in owner.get(kind, {}).items():
                if not members.attrs.get("internal", 0):   # a set of the assembly: a dataset per instance
                    want[f"{array}_{prefix}{name}"] = sum(len(np.unique(v[()])) for v in (
                        members.values() if isinstance(members, h5py.Group) else [members]))
    with h5py.File(os.path.join(os.path.dirname(db), case + ".h5"), "r") as h:
        for name, count in want.items():
            got = int(h[f"sets/{name}"][()].sum()) if f"sets/{name}" in h else None
            check(f"{case}: set {name} counts its members", got == count, f"{got} != {count}")
        check(f"{case}: sets in every frame, internal ones left out",
              "sets/nset_HIDDEN" not in h and all(n in fr for fr in frames for n in want))


def check_meshio(work, dbs):
    try:
        import meshio
    except ImportError:
        return print("meshio: not installed (Debian python3-meshio), its read-back skipped")
    for case in ("plane", "odbgen"):   # meshio 5 reads single-type meshes, and mixed ones of linear types only
        out = os.path.join(work, case + ".xdmf")
        (points, cells), frames = sizes(dbs[case]), h5_ranges(out)
        with meshio.xdmf.TimeSeriesReader(out) as reader:
            pts, blocks = reader.read_points_cells()
            got = (len(pts), sum(len(b.data) for b in blocks), reader.num_steps)
            check(f"{case}: meshio points, cells, steps", got == (points, cells, len(frames)), str(got))
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
    broken, badmesh = os.path.join(folder, "broken.odb"), os.path.join(folder, "badmesh.odb")
    shutil.copy(good, broken)
    with h5py.File(broken, "r+") as f:
        del f["steps/Step-1/frames/1/fieldOutputs/S/blocks/0/data"]
    shutil.copy(broken, badmesh)
    with h5py.File(badmesh, "r+") as f:   # the mesh's failure is the one reported
        f["assembly/instances/FLATS/elements/connectivity"][0] = 999
    before = sorted(os.listdir(folder))
    # (the last: a file size limit refuses HDF5's own writes too, which once crashed the command as it ended)
    for argv, err in ((["missing.odb"], "missing.odb: /: file does not exist"),
                      (["--fields", "U,STRESS", good], f"{good}: no field output STRESS in any frame "
                                                       "(fields: E, EVOL, PE, S, TEMP, U)"),
                      (["broken.odb"], "broken.odb: /steps/Step-1/frames/1/fieldOutputs/S/blocks/0: data is missing"),
                      (["badmesh.odb"], "badmesh.odb: /assembly/instances/FLATS: element 100 refers to node 999, "
                                        "which the instance does not have"),
                      (["-o", "nodir/x.xdmf", good], "nodir/x.h5: No such file or directory"),
                      ([good], "x.h5: File too large")):
        r = tool("odb2xdmf", "-o", "x.xdmf", *argv, cwd=folder, timeout=60, fsize=4096 if argv == [good] else 64 << 20)
        check(f"{argv}: status 1, one line, nothing written", r.status == 1 and r.err == f"odb2xdmf: {err}\n"
              and r.out == "" and sorted(os.listdir(folder)) == before, f"{r.err!r} {os.listdir(folder)}")


def check_paraview(work):
    dbs = databases(work, bracket=True)
    types = {"mixed": [t for _, _, t, _ in SOLIDS + FLATS], "plane": [23], "odbgen": [12]}
    for case, db in dbs.items():
        out = os.path.join(work, case + ".xdmf")
        for attempt in range(3):   # a display taken by another X server meanwhile is tried again, as harvest-plot does
            r = run(["xvfb-run", "-a", "-n", str(100 + (os.getpid() * 7 + attempt * 101 + 13) % 30000), "pvbatch",
                     os.path.join(HERE, "pv_read_back.py"), out], work, timeout=300, fsize=1 << 30, text=True)
            if r.status == 0 or "bad X server connection" not in r.err:
                break
        got = next((json.loads(l[9:]) for l in r.out.splitlines() if l.startswith("READBACK ")), None)
        if not check(f"{case}: ParaView reads it", r.status == 0 and got is not None, r.err[-2000:]):
            continue
        (points, cells), times = sizes(db), [float(t) for t in re.findall(r'<Time Value="([^"]*)"', read(out, "r"))]
        want = {"points": [points] * len(times), "cells": [cells] * len(times), "times": times, "misread": [],
                "cell_types": sorted(types.get(case, got["cell_types"]))}   # misread: cells not in their node order
        for key, value in want.items():
            check(f"{case}: {key}", got[key] == value, f"{got[key]} != {value}")
        frames = [{n.split(":", 1)[1]: (a["min"], a["max"]) for n, a in fr.items() if a["max"]} for fr in got["frames"]]
        compare_ranges(case + " (ParaView)", db, work, frames)
        sets = {n.split(":", 1)[1] for n in got["frames"][0] if "set_" in n}
        check(f"{case}: set arrays", sets and sets <= set(h5_ranges(out)[0]))
        if case != "plane":
            check_picture(case, db, work)
    # bad input to --model: one line, status 1, no picture and no scratch folder left
    folder, mixed = os.path.join(work, "bad-model"), dbs["mixed"]
    os.makedirs(folder)
    for argv, err in ((["--model", mixed, "--field", "NOPE"], "no field output NOPE in frame Step-2:1"),
                      (["--model", mixed, "--frame", "Step-1:7"], "no frame Step-1:7; frames: Step-1:1, Step-1:2"),
                      (["--model", os.path.join(work, "mixed.xdmf")], "file is not an hdf5 file")):
        r = tool("harvest-plot", *argv, cwd=folder, timeout=120)
        check(f"{argv[2:]}: --model refuses", r.status == 1 and r.err.count("\n") == 1 and err in r.err
              and os.listdir(folder) == [], f"{r.status} {r.err!r} {os.listdir(folder)}")


def peak_of(db, increment):
    """(element label of the largest S von Mises, of the engineering maximum (5 %), the largest) in Step-1."""
    with h5py.File(db, "r") as f:
        fr = next(fr for fr in f["steps/Step-1/frames"].values() if fr.attrs["incrementNumber"] == increment)
        blocks = list(fr["fieldOutputs/S/blocks"].values())
        s = np.concatenate([np.pad(b["data"][()].astype(np.float64), ((0, 0), (0, 6 - b["data"].shape[1]))) for b in blocks])
        labels = np.concatenate([b["elementLabels"][()] for b in blocks])
    q = np.sqrt(((s[:, 0] - s[:, 1]) ** 2 + (s[:, 1] - s[:, 2]) ** 2 + (s[:, 2] - s[:, 0]) ** 2) / 2
                + 3 * (s[:, 3] ** 2 + s[:, 4] ** 2 + s[:, 5] ** 2))
    engg = np.sort(q)[len(q) - 1 - max(int(min(len(q) * 5 / 100, len(q))) - 1, 0)]
    return int(labels[np.argmax(q)]), int(labels[np.nonzero(q == engg)[0][0]]), float(q.max())


def check_picture(case, db, work):
    increment, png = 2 if case == "bracket" else 1, os.path.join(work, case + "-view.png")
    r = tool("harvest-plot", "--model", db, "--frame", f"Step-1:{increment}", "--size", "640x480", "-o", png,
             cwd=work, timeout=400)
    if not check(f"{case}: picture", r.status == 0 and os.path.exists(png), r.err):
        return
    from matplotlib.image import imread
    image = imread(png)
    colours = len(np.unique((image[:, :, :3] * 255).astype(np.uint8).reshape(-1, 3), axis=0))
    check(f"{case}: picture of the size asked, not blank", image.shape[:2] == (480, 640) and colours > 100,
          f"{image.shape} {colours} colours")
    top, engg, value = peak_of(db, increment)
    marked = re.findall(r"^(maximum|engineering maximum \(5 %\)): S von Mises (\S+) at element (\d+)"
                        r".*centroid at \(", r.out, re.M)
    check(f"{case}: marked elements, the maximum's value and where they are",
          [(m[0].split(" ")[0], int(m[2])) for m in marked] == [("maximum", top), ("engineering", engg)]
          and marked[0][1] == f"{value:g}", f"{r.out!r} vs {top}, {engg}, {value:g}")


def solve_bracket(work):
    """The bracket solved by ccx and imported; None (said) when ccx is not installed."""
    if not shutil.which("ccx"):
        return print("bracket: ccx not installed (Debian calculix-ccx), left out")
    folder = os.path.join(work, "bracket")
    os.makedirs(folder)
    for name in ("bracket.inp", "bracket_mesh.inp"):
        shutil.copy(os.path.join(HERE, "..", "..", "examples", "calculix", name), folder)
    ccx = run(["ccx", "-i", "bracket"], folder, timeout=600, fsize=1 << 30, env=dict(os.environ, OMP_NUM_THREADS="1"))
    r = tool("ccx2odb", "bracket", cwd=folder)
    check("bracket: ccx, ccx2odb", ccx.status == 0 and r.status == 0, f"{ccx.err[-500:]} {r.err}")
    return os.path.join(folder, "bracket.odb") if r.status == 0 else None


if MODE == "paraview" and not os.environ.get("HARVEST_VIEW"):   # minutes of ParaView: not in the default run
    sys.exit(skip("check_view paraview", "runs in scripts/ci/view (HARVEST_VIEW=1 ctest -L view)"))
if MODE == "paraview" and not (shutil.which("pvbatch") and shutil.which("xvfb-run")):
    sys.exit(skip("check_view paraview", "pvbatch or xvfb-run missing (Debian paraview, xvfb)"))
with scratch("view-test-") as folder:
    (check_paraview if MODE == "paraview" else check_export)(folder)
sys.exit(finish(f"check_view {MODE}"))
