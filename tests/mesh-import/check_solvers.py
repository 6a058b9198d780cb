#!/usr/bin/python3
"""mesh2odb on results that real solvers compute here: the dolfinx cantilever (an XDMF series), the
same arrays written as MED and Exodus II (mesh_writers.py), a Gmsh model with physical groups and
data views, and FreeFem++'s plate as a .pvd series of .vtu files. Every report line agrees with numpy
computed from the solver's own arrays, and the cantilever agrees with beam theory.
  HARVEST_MESH_SOLVERS=1 check_solvers.py BIN_DIR SOURCE_DIR   (without it: skipped, the default suite stays fast)
"""
import importlib.util, os, shutil, sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "support")]
import harness, mesh_writers, report_model  # noqa: E402
from harness import check  # noqa: E402

LABEL = "mesh-import"


def compare(bin_dir, folder, name, database, want):
    """harvestodb's report of every keyword on database against the lines want holds."""
    harness.write(os.path.join(folder, "cfg.txt"), harness.ALL_KEYWORDS)
    [os.remove(os.path.join(folder, f)) for f in ("params.txt", "paramsdone.txt") if os.path.exists(os.path.join(folder, f))]
    r = harness.run([os.path.join(bin_dir, "harvestodb"), "-odb", database, "-config", "cfg.txt"], cwd=folder,
                    timeout=120, text=True)
    check("harvestodb on %s" % database, r.status == 0 and os.path.exists(os.path.join(folder, "paramsdone.txt")), r.err)
    text = harness.present(folder, "params.txt").get("params.txt", b"").decode()
    print("%s: %d report lines checked" % (name, report_model.compare(check, name, text, want)))
    return text


def mesh2odb(bin_dir, folder, *args):
    r = harness.run([os.path.join(bin_dir, "mesh2odb"), "--quiet"] + list(args), cwd=folder, timeout=300, text=True)
    check("mesh2odb %s" % " ".join(args), r.status == 0 and r.err == "", "status %s: %s" % (r.status, r.err))
    out = args[args.index("-o") + 1]
    c = harness.run([os.path.join(bin_dir, "odbinfo"), "--check", out], cwd=folder, timeout=120, text=True)
    check("odbinfo --check %s" % out, c.status == 0, c.out[-300:] + c.err)
    return r.status == 0


def beam_checks(label, text, a):
    length, width, height, young, _, force = a["beam"]
    load, inertia = force * len(a["times"]), width * height ** 3 / 12
    tip, root = load * length ** 3 / (3 * young * inertia), load * length * (height / 2) / inertia
    last = "Step_1__Frame_%d__" % (len(a["times"]) - 1)
    lines = dict(line.split("\t") for line in text.splitlines())
    u, s = (float(lines.get(last + q, "nan")) for q in ("U__mag__max", "S__11__max"))
    check(label + ": tip displacement within 15% of beam theory", abs(u - tip) <= 0.15 * tip, "%g against %g" % (u, tip))
    check(label + ": root stress within 15% of beam theory", abs(s - root) <= 0.15 * root, "%g against %g" % (s, root))


def dolfinx_cases(bin_dir, source_dir, folder):
    if not importlib.util.find_spec("dolfinx"):
        return False
    script = os.path.join(source_dir, "examples", "dolfinx-cantilever", "cantilever.py")
    r = harness.run(["/usr/bin/python3", script, "out"], cwd=folder, timeout=600, fsize=256 << 20, text=True)
    if not check("dolfinx cantilever solved", r.status == 0, r.err[-500:]):
        return True
    a = dict(np.load(os.path.join(folder, "out", "arrays.npz")))
    clamp, tip, blocks = mesh_writers.regions(a)[:3]   # dolfinx's facet and cell tags
    xdmf = report_model.expected("Step_1", mesh_writers.frames(a), {"FACET_TAG_1": clamp, "FACET_TAG_2": tip},
                                 {"TAG_1": blocks[0], "TAG_2": blocks[1]}, a["cells"])
    for name, write in [("xdmf", lambda *_: ("out/cantilever.xdmf", xdmf))] + mesh_writers.WRITERS:
        path, want = write(folder, a) or (None, None)
        if path is None or not mesh2odb(bin_dir, folder, "-o", name + ".odb", path):
            continue
        text = compare(bin_dir, folder, name, name + ".odb", want)
        if name == "xdmf":
            beam_checks(name, text, a)
    return True


def gmsh_case(bin_dir, folder):
    """Physical groups as sets, data views as fields, against the values given to Gmsh."""
    if not importlib.util.find_spec("gmsh"):
        return False
    r = harness.run(["/usr/bin/python3", os.path.join(HERE, "gmsh_model.py"), "box.msh"], cwd=folder, timeout=300,
                    fsize=64 << 20, text=True)
    if not check("gmsh model made", r.status == 0, r.err[-500:]) or not mesh2odb(bin_dir, folder, "-o", "gmsh.odb", "box.msh"):
        return True
    g = np.load(os.path.join(folder, "box.npz"))
    import h5py
    with h5py.File(os.path.join(folder, "gmsh.odb"), "r") as f:     # the model as the database holds it
        xyz, off, conn = (f["assembly/instances/PART-1-1/" + k][()] for k in ("nodes/coordinates", "elements/offsets",
                                                                             "elements/connectivity"))
        body = f["assembly/elementSets/BODY/PART-1-1"][()]
    check("gmsh: nodes as Gmsh made them", len(xyz) == len(g["xyz"]) and np.allclose(np.sort(xyz, 0), np.sort(g["xyz"], 0)))
    # Gmsh's arrays in the database's node order (matched by coordinates), and the sets from the geometry.
    order = np.lexsort(g["xyz"].T)[np.argsort(np.lexsort(xyz.T))]
    cells = [conn[off[i]:off[i + 1]] - 1 for i in range(len(off) - 1)]
    frames = [(0, [("NT", "scalar", "NODAL", g["temperature"][order]), ("U", "vector", "NODAL", g["displacement"][order])])]
    want = report_model.expected("Step_1", frames, {"BASE": np.nonzero(np.isclose(xyz[:, 2], 0))[0]}, {"BODY": body - 1}, cells)
    compare(bin_dir, folder, "gmsh", "gmsh.odb", want)
    return True


def freefem_case(bin_dir, folder):
    """FreeFem++'s plane-strain plate, two load levels as .vtu (iovtk), read as a .pvd series."""
    plugins = "/usr/lib/freefem++"
    if shutil.which("FreeFem++") is None or not os.path.exists(os.path.join(plugins, "iovtk.so")):
        return False
    r = harness.run(["FreeFem++", "-nw", "-v", "0", os.path.join(HERE, "plate.edp")], cwd=folder, timeout=300, fsize=64 << 20,
                    env=dict(os.environ, FF_LOADPATH=plugins), text=True)
    if not check("freefem++ plate solved", r.status == 0, (r.out + r.err)[-500:]):
        return True
    harness.write(os.path.join(folder, "plate.pvd"), '<?xml version="1.0"?><VTKFile type="Collection"><Collection>' + "".join(
        '<DataSet timestep="%d" file="plate_%d.vtu"/>' % (k, k) for k in (1, 2)) + '</Collection></VTKFile>')
    if not mesh2odb(bin_dir, folder, "-o", "plate.odb", "plate.pvd"):
        return True
    labels = np.loadtxt(os.path.join(folder, "plate_labels.txt"), ndmin=1)   # becomes the cell field Label
    columns = [np.loadtxt(os.path.join(folder, "plate_%d.txt" % k)).T for k in (1, 2)]   # x, y, ux, uy
    frames = [(k, [("U", "vector", "NODAL", np.stack([c[2], c[3], 0 * c[2]], axis=1)), ("Label", "scalar", "CENTROID", labels)])
              for k, c in enumerate(columns)]
    compare(bin_dir, folder, "freefem", "plate.odb", report_model.expected("Step_1", frames, {}, {}, []))
    return True


bin_dir, source_dir = (os.path.abspath(p) for p in sys.argv[1:])
if os.environ.get("HARVEST_MESH_SOLVERS") != "1":
    sys.exit(harness.skip(LABEL, "solver runs are the CI stage scripts/ci/mesh-import (HARVEST_MESH_SOLVERS=1)"))
with harness.scratch("mesh-import-") as folder:
    if not any([dolfinx_cases(bin_dir, source_dir, folder), gmsh_case(bin_dir, folder), freefem_case(bin_dir, folder)]):
        sys.exit(harness.skip(LABEL, "none of python3-dolfinx, python3-gmsh, freefem++ is installed"))
sys.exit(harness.finish(LABEL))
