#!/usr/bin/python3
"""mesh2odb on results that real solvers compute here: the dolfinx cantilever (XDMF series and its .pvd),
the same arrays written as MED and Exodus II with the formats' own libraries and with meshio, a
Gmsh model with physical groups and a data view, and FreeFem++'s plate as a .pvd series of .vtu files. Every report line agrees with numpy computed from the
solver's own arrays, and the cantilever agrees with beam theory.

usage: HARVEST_MESH_SOLVERS=1 check_solvers.py BIN_DIR SOURCE_DIR

Without HARVEST_MESH_SOLVERS=1 it reports itself skipped, so that the default suite stays fast.
"""
import os
import shutil
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import report_model  # noqa: E402
from harness import check  # noqa: E402

LABEL = "mesh-import"


def report(bin_dir, folder, database):
    harness.write(os.path.join(folder, "cfg.txt"), harness.ALL_KEYWORDS)
    for f in ("params.txt", "paramsdone.txt"):
        if os.path.exists(os.path.join(folder, f)):
            os.remove(os.path.join(folder, f))
    r = harness.run([os.path.join(bin_dir, "harvestodb"), "-odb", database, "-config", "cfg.txt"], cwd=folder,
                    timeout=120, text=True)
    check("harvestodb on %s" % database, r.status == 0 and os.path.exists(os.path.join(folder, "paramsdone.txt")), r.err)
    return harness.read(os.path.join(folder, "params.txt"), "r") if os.path.exists(os.path.join(folder, "params.txt")) else ""


def mesh2odb(bin_dir, folder, *args):
    r = harness.run([os.path.join(bin_dir, "mesh2odb"), "--quiet"] + list(args), cwd=folder, timeout=300, text=True)
    check("mesh2odb %s" % " ".join(args), r.status == 0 and r.err == "", "status %s: %s" % (r.status, r.err))
    out = args[args.index("-o") + 1]
    c = harness.run([os.path.join(bin_dir, "odbinfo"), "--check", out], cwd=folder, timeout=120, text=True)
    check("odbinfo --check %s" % out, c.status == 0, c.out[-300:] + c.err)
    return r.status == 0


def cantilever_model(a, frames, with_stress=True, with_sets=True, step="Step_1"):
    """The report lines of the cantilever's arrays (frames: indices into the load levels)."""
    cells, points = a["cells"], a["points"]
    fields = []
    for increment, level in enumerate(frames):
        f = [("U", "vector", "NODAL", a["u"][level])]
        if with_stress:
            s = a["sigma"][level].reshape(-1, 3, 3)
            sym = (s + s.transpose(0, 2, 1)) / 2
            f.append(("S", "tensor", "CENTROID",
                      np.stack([sym[:, 0, 0], sym[:, 1, 1], sym[:, 2, 2], sym[:, 0, 1], sym[:, 0, 2], sym[:, 1, 2]], 1)))
        fields.append((increment, f))
    node_sets, element_sets = {}, {}
    if with_sets:
        length = a["beam"][0]
        node_sets = {"FACET_TAG_1": np.nonzero(np.isclose(points[:, 0], 0.0))[0],
                     "FACET_TAG_2": np.nonzero(np.isclose(points[:, 0], length))[0]}
        element_sets = {"TAG_%d" % t: np.nonzero(a["cell_marks"] == t)[0] for t in (1, 2)}
    return report_model.expected(step, fields, node_sets, element_sets, cells)


def beam_checks(label, text, a):
    length, width, height, young, _, force = a["beam"]
    load = force * len(a["times"])
    inertia = width * height ** 3 / 12
    tip = load * length ** 3 / (3 * young * inertia)
    root = load * length * (height / 2) / inertia
    last = "Step_1__Frame_%d__" % (len(a["times"]) - 1)
    lines = dict(line.split("\t") for line in text.splitlines())
    u = float(lines.get(last + "U__mag__max", "nan"))
    s = float(lines.get(last + "S__11__max", "nan"))
    check(label + ": tip displacement within 15% of beam theory", abs(u - tip) <= 0.15 * tip, "%g against %g" % (u, tip))
    check(label + ": root stress within 15% of beam theory", abs(s - root) <= 0.15 * root, "%g against %g" % (s, root))


def dolfinx_cases(bin_dir, source_dir, folder):
    try:
        import dolfinx  # noqa: F401
    except ImportError:
        return False
    script = os.path.join(source_dir, "examples", "dolfinx-cantilever", "cantilever.py")
    r = harness.run(["/usr/bin/python3", script, "out"], cwd=folder, timeout=600, fsize=256 << 20, text=True)
    if not check("dolfinx cantilever solved", r.status == 0, r.err[-500:]):
        return True
    a = dict(np.load(os.path.join(folder, "out", "arrays.npz")))
    levels = list(range(len(a["times"])))

    if mesh2odb(bin_dir, folder, "-o", "xdmf.odb", "out/cantilever.xdmf"):
        text = report(bin_dir, folder, "xdmf.odb")
        n = report_model.compare(check, "xdmf", text, cantilever_model(a, levels))
        print("xdmf: %d report lines checked" % n)
        beam_checks("xdmf", text, a)
    if mesh2odb(bin_dir, folder, "-o", "pvd.odb", "out/cantilever.pvd"):
        text = report(bin_dir, folder, "pvd.odb")
        n = report_model.compare(check, "pvd", text, cantilever_model(a, levels, with_stress=False, with_sets=False))
        print("pvd: %d report lines checked" % n)
    import mesh_writers
    for name, write in mesh_writers.WRITERS:
        path = write(folder, a)
        if path is None:
            continue
        if mesh2odb(bin_dir, folder, "-o", name + ".odb", path):
            text = report(bin_dir, folder, name + ".odb")
            n = report_model.compare(check, name, text, mesh_writers.expected(name, a))
            print("%s: %d report lines checked" % (name, n))
    return True


def gmsh_case(bin_dir, folder):
    """Physical groups as sets, data views as fields, against the values given to Gmsh."""
    try:
        import gmsh  # noqa: F401
    except ImportError:
        return False
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gmsh_model.py")
    r = harness.run(["/usr/bin/python3", script, "box.msh"], cwd=folder, timeout=300, fsize=64 << 20, text=True)
    if not check("gmsh model made", r.status == 0, r.err[-500:]) or not mesh2odb(bin_dir, folder, "-o", "gmsh.odb", "box.msh"):
        return True
    g = np.load(os.path.join(folder, "box.npz"))
    import h5py
    with h5py.File(os.path.join(folder, "gmsh.odb"), "r") as f:     # the model as the database holds it
        xyz = f["assembly/instances/PART-1-1/nodes/coordinates"][()]
        body = f["assembly/elementSets/BODY/PART-1-1"][()]
        off = f["assembly/instances/PART-1-1/elements/offsets"][()]
        conn = f["assembly/instances/PART-1-1/elements/connectivity"][()]
    check("gmsh: nodes as Gmsh made them", len(xyz) == len(g["xyz"]) and np.allclose(np.sort(xyz, 0), np.sort(g["xyz"], 0)))
    # Gmsh's arrays in the database's node order (matched by coordinates), and the sets from the geometry.
    order = np.lexsort(g["xyz"].T)[np.argsort(np.lexsort(xyz.T))]
    cells = [conn[off[i]:off[i + 1]] - 1 for i in range(len(off) - 1)]
    frames = [(0, [("NT", "scalar", "NODAL", g["temperature"][order]), ("U", "vector", "NODAL", g["displacement"][order])])]
    want = report_model.expected("Step_1", frames, {"BASE": np.nonzero(np.isclose(xyz[:, 2], 0))[0]},
                                 {"BODY": body - 1}, cells)
    n = report_model.compare(check, "gmsh", report(bin_dir, folder, "gmsh.odb"), want)
    print("gmsh: %d report lines checked" % n)
    return True


def freefem_case(bin_dir, folder):
    """FreeFem++'s plane-strain plate, two load levels as .vtu (iovtk), read as a .pvd series."""
    plugins = "/usr/lib/freefem++"
    if shutil.which("FreeFem++") is None or not os.path.exists(os.path.join(plugins, "iovtk.so")):
        return False
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plate.edp")
    env = dict(os.environ, FF_LOADPATH=plugins)
    r = harness.run(["FreeFem++", "-nw", "-v", "0", script], cwd=folder, timeout=300, fsize=64 << 20, env=env, text=True)
    if not check("freefem++ plate solved", r.status == 0, (r.out + r.err)[-500:]):
        return True
    harness.write(os.path.join(folder, "plate.pvd"), '<?xml version="1.0"?><VTKFile type="Collection"><Collection>'
                  '<DataSet timestep="1" file="plate_1.vtu"/><DataSet timestep="2" file="plate_2.vtu"/>'
                  '</Collection></VTKFile>')
    if not mesh2odb(bin_dir, folder, "-o", "plate.odb", "plate.pvd"):
        return True
    frames = []
    labels = np.loadtxt(os.path.join(folder, "plate_labels.txt"), ndmin=1)   # becomes the cell field Label
    for k in (1, 2):
        x, y, ux, uy = np.loadtxt(os.path.join(folder, "plate_%d.txt" % k)).T
        frames.append((k - 1, [("U", "vector", "NODAL", np.stack([ux, uy, 0 * ux], axis=1)),
                               ("Label", "scalar", "CENTROID", labels)]))
    want = report_model.expected("Step_1", frames, {}, {}, [])
    n = report_model.compare(check, "freefem", report(bin_dir, folder, "plate.odb"), want)
    print("freefem: %d report lines checked" % n)
    return True


def main(argv):
    if len(argv) != 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    bin_dir, source_dir = (os.path.abspath(p) for p in argv[1:])
    if os.environ.get("HARVEST_MESH_SOLVERS") != "1":
        return harness.skip(LABEL, "solver runs are the CI stage scripts/ci/mesh-import (HARVEST_MESH_SOLVERS=1)")
    with harness.scratch("mesh-import-") as folder:
        ran = dolfinx_cases(bin_dir, source_dir, folder)
        ran = gmsh_case(bin_dir, folder) or ran
        ran = freefem_case(bin_dir, folder) or ran
        if not ran:
            return harness.skip(LABEL, "none of python3-dolfinx, python3-gmsh, freefem++ is installed")
    return harness.finish(LABEL)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
