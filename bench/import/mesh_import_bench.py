#!/usr/bin/python3
"""mesh2odb on a large XDMF time series in dolfinx's layout: import throughput and peak memory, against
a baseline in the same run.

usage: mesh_import_bench.py BIN_DIR [--size-mb MB] [--divisions N] [--keep DIR]

Writes a series of about MB megabytes (default 1024) with h5py: a box of N x N x N bricks cut into six
tetrahedra each (default N = 60: 226981 nodes, 1296000 cells), and per time step a nodal displacement
(3 doubles a node) and a cell stress (9 doubles a cell, symmetric), as many steps as reach the size.
Then, in turns, best of --runs (default 1):
  baseline  h5py reads every array of the series and writes it to a plain HDF5 file (same bytes);
  import    mesh2odb --quiet SERIES.xdmf, a child process;
and prints the input size, the seconds and MB/s of each, their ratio, the peak resident memory of the
import (the child's ru_maxrss) beside the size of one time step and of the mesh, and a checksum of the
database (the sum of the last frame's stress) against the series'. Files go to a temporary folder that
is deleted (--keep DIR keeps them there); every file is limited to 8 GB and the import to an hour.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import h5py
import numpy as np


def box(n):
    """Points and tetrahedra (six per brick) of the unit cube in n^3 bricks."""
    g = np.linspace(0.0, 1.0, n + 1)
    x, y, z = np.meshgrid(g, g, g, indexing="ij")
    points = np.stack([x.ravel(), y.ravel(), z.ravel()], axis=1)
    i, j, k = np.meshgrid(np.arange(n), np.arange(n), np.arange(n), indexing="ij")
    base = (i * (n + 1) + j) * (n + 1) + k
    c = [base + o for o in (0, (n + 1) ** 2, (n + 1) ** 2 + n + 1, n + 1, 1, (n + 1) ** 2 + 1,
                            (n + 1) ** 2 + n + 2, n + 2)]   # brick corners
    tets = [(0, 1, 2, 6), (0, 2, 3, 6), (0, 3, 7, 6), (0, 7, 4, 6), (0, 4, 5, 6), (0, 5, 1, 6)]
    cells = np.concatenate([np.stack([c[a].ravel(), c[b].ravel(), c[d].ravel(), c[e].ravel()], axis=1)
                            for a, b, d, e in tets])
    return points, cells


def write_series(folder, size_mb, n):
    points, cells = box(n)
    step_bytes = len(points) * 3 * 8 + len(cells) * 9 * 8
    steps = max(2, int(round(size_mb * 1e6 / step_bytes)))
    h5 = os.path.join(folder, "series.h5")
    rng = np.random.default_rng(1)
    grids = []
    with h5py.File(h5, "w") as f:
        f["Mesh/mesh/geometry"] = points
        f["Mesh/mesh/topology"] = cells
        for t in range(1, steps + 1):
            f["Function/u/%d" % t] = np.outer(points[:, 0] ** 2, [0.0, 0.0, -1e-3 * t])
            s = rng.standard_normal((len(cells), 3, 3))
            f["Function/sigma/%d" % t] = ((s + s.transpose(0, 2, 1)) * t).reshape(-1, 9)
    for name, center, width, kind in (("u", "Node", 3, "Vector"), ("sigma", "Cell", 9, "Tensor")):
        rows = len(points) if center == "Node" else len(cells)
        items = "".join(
            '<Grid Name="%s" GridType="Uniform"><xi:include xpointer="xpointer(/Xdmf/Domain/Grid[@GridType=\'Uniform\']'
            '[1]/*[self::Topology or self::Geometry])" /><Time Value="%d" /><Attribute Name="%s" AttributeType="%s" '
            'Center="%s"><DataItem Dimensions="%d %d" Format="HDF">series.h5:/Function/%s/%d</DataItem></Attribute>'
            '</Grid>\n' % (name, t, name, kind, center, rows, width, name, t) for t in range(1, steps + 1))
        grids.append('<Grid Name="%s" GridType="Collection" CollectionType="Temporal">\n%s</Grid>\n' % (name, items))
    with open(os.path.join(folder, "series.xdmf"), "w") as f:
        f.write('<?xml version="1.0"?>\n<Xdmf Version="3.0" xmlns:xi="http://www.w3.org/2001/XInclude"><Domain>\n'
                '<Grid Name="mesh" GridType="Uniform"><Topology TopologyType="Tetrahedron" NumberOfElements="%d" '
                'NodesPerElement="4"><DataItem Dimensions="%d 4" NumberType="Int" Format="HDF">series.h5:/Mesh/mesh/'
                'topology</DataItem></Topology><Geometry GeometryType="XYZ"><DataItem Dimensions="%d 3" Format="HDF">'
                'series.h5:/Mesh/mesh/geometry</DataItem></Geometry></Grid>\n%s</Domain></Xdmf>\n'
                % (len(cells), len(cells), len(points), "".join(grids)))
    return steps, step_bytes, points.nbytes + cells.nbytes


def baseline(folder):
    start = time.monotonic()
    with h5py.File(os.path.join(folder, "series.h5"), "r") as src, \
            h5py.File(os.path.join(folder, "copy.h5"), "w") as dst:
        def copy(name, obj):
            if isinstance(obj, h5py.Dataset):
                dst[name] = obj[()]
        src.visititems(copy)
    seconds = time.monotonic() - start
    os.remove(os.path.join(folder, "copy.h5"))
    return seconds


def limits():
    resource.setrlimit(resource.RLIMIT_FSIZE, (8 << 30, 8 << 30))
    resource.setrlimit(resource.RLIMIT_CPU, (3600, 3600))


def run_import(bin_dir, folder):
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.monotonic()
    p = subprocess.Popen([os.path.join(bin_dir, "mesh2odb"), "--quiet", "-o", "series.odb", "series.xdmf"],
                         cwd=folder, preexec_fn=limits, start_new_session=True)
    try:
        status = p.wait(timeout=3600)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, 9)
        p.wait()
        raise SystemExit("mesh_import_bench: the import took more than an hour")
    seconds = time.monotonic() - start
    if status != 0:
        raise SystemExit("mesh_import_bench: mesh2odb ended with status %d" % status)
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return seconds, peak * 1024 if peak > before else None


def main(argv=None):
    p = argparse.ArgumentParser(prog="mesh_import_bench.py")
    p.add_argument("bin_dir")
    p.add_argument("--size-mb", type=float, default=1024)
    p.add_argument("--divisions", type=int, default=60)
    p.add_argument("--runs", type=int, default=1)
    p.add_argument("--keep")
    args = p.parse_args(argv)
    folder = args.keep or tempfile.mkdtemp(prefix="mesh-import-bench-")
    os.makedirs(folder, exist_ok=True)
    try:
        steps, step_bytes, mesh_bytes = write_series(folder, args.size_mb, args.divisions)
        size = os.path.getsize(os.path.join(folder, "series.h5")) + os.path.getsize(os.path.join(folder, "series.xdmf"))
        base, imp, peak = [], [], 0
        for _ in range(args.runs):
            base.append(baseline(folder))
            seconds, rss = run_import(args.bin_dir, folder)
            imp.append(seconds)
            peak = max(peak, rss or 0)
        with h5py.File(os.path.join(folder, "series.odb"), "r") as f, \
                h5py.File(os.path.join(folder, "series.h5"), "r") as s:
            frames = len(f["steps/Step-1/frames"])
            got = f["steps/Step-1/frames/%d/fieldOutputs/S/blocks/0/data" % (frames - 1)][()][:, :3].sum()
            want = s["Function/sigma/%d" % steps][()][:, [0, 4, 8]].sum()
        mb = size / 1e6
        print("series: %d steps, %.0f MB (%.1f MB a step, mesh %.1f MB)" % (steps, mb, step_bytes / 1e6, mesh_bytes / 1e6))
        print("baseline h5py copy: %.2f s, %.0f MB/s" % (min(base), mb / min(base)))
        print("mesh2odb import:    %.2f s, %.0f MB/s (%.2fx the baseline's time)" % (min(imp), mb / min(imp), min(imp) / min(base)))
        print("peak RSS of the import: %.0f MB (%.1f time steps)" % (peak / 1e6, peak / step_bytes))
        print("checksum: database %.6g, series %.6g, frames %d of %d" % (got, want, frames, steps))
        return 0 if np.isclose(got, want) and frames == steps else 1
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
