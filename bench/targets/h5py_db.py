"""Writes a database the way a user's h5py script does: the contents of odbgen's
`model` (hexahedra, S and PEEQ at 8 integration points, U at the nodes, float32)
but one block per field output, each array in chunks of about 1 MiB with
Fletcher-32. The benchmark holds the read floor and the program against both
layouts.
    /usr/bin/python3 h5py_db.py OUT.odb [--elements N] [--frames N]"""
import argparse
import sys

import h5py
import numpy as np

CHUNK = 1 << 20
SLAB = 1 << 20  # rows written at a time: memory stays bounded whatever the size
STR = h5py.string_dtype("utf-8")


def group(parent, key, **attrs):
    g = parent.create_group(key, track_order=True)
    for k, v in attrs.items():
        g.attrs[k] = v
    return g


def dataset(parent, name, rows, width, dtype, fill):
    """A chunked, checksummed array of `rows` rows, written a slab at a time by fill(start, stop)."""
    shape = (rows,) if width == 0 else (rows, width)
    row_bytes = np.dtype(dtype).itemsize * max(width, 1)
    chunk = (min(rows, max(1, CHUNK // row_bytes)),) + shape[1:]
    ds = parent.create_dataset(name, shape=shape, dtype=dtype, chunks=chunk, fletcher32=True)
    for start in range(0, rows, SLAB):
        stop = min(rows, start + SLAB)
        ds[start:stop] = fill(start, stop)


def write(path, elements, frames, points=8):
    n = max(1, round(elements ** (1 / 3)))
    nz = -(-elements // (n * n))
    elements = n * n * nz
    nodes = (n + 1) * (n + 1) * (nz + 1)
    rng = np.random.default_rng(1)
    with h5py.File(path, "w", libver=("v110", "latest"), track_order=True) as f:
        f.attrs["format"] = np.bytes_("odb")
        f.attrs["format_version"] = np.int32(2)
        group(group(f, "parts"), "PART-1")
        inst = group(group(group(f, "assembly", name=np.bytes_("ASSEMBLY")), "instances"), "PART-1-1",
                     part=np.bytes_("PART-1"))
        node_group, element_group = group(inst, "nodes"), group(inst, "elements")
        dataset(node_group, "labels", nodes, 0, np.int32, lambda a, b: np.arange(a + 1, b + 1, dtype=np.int32))

        def xyz(a, b):
            i = np.arange(a, b)
            return 10.0 * np.stack([i % (n + 1), i // (n + 1) % (n + 1), i // (n + 1) ** 2], axis=1)

        def corners(a, b):
            e = np.arange(a, b)
            base = e % n + (n + 1) * (e // n % n + (n + 1) * (e // (n * n)))
            step = [0, 1, n + 2, n + 1]
            return (1 + base[:, None] + np.array(step + [s + (n + 1) ** 2 for s in step])).astype(np.int32).ravel()

        dataset(node_group, "coordinates", nodes, 3, np.float64, xyz)
        dataset(element_group, "labels", elements, 0, np.int32, lambda a, b: np.arange(a + 1, b + 1, dtype=np.int32))
        dataset(element_group, "offsets", elements + 1, 0, np.int64, lambda a, b: 8 * np.arange(a, b))
        dataset(element_group, "connectivity", 8 * elements, 0, np.int32,
                lambda a, b: corners(a // 8, b // 8))
        frames_group = group(group(group(f, "steps"), "Step-1", description=np.bytes_("Load")), "frames")
        rows = elements * points
        for i in range(frames):
            t = (i + 1) / frames
            outputs = group(group(frames_group, str(i), incrementNumber=np.int32(i + 1), frameValue=t),
                            "fieldOutputs")
            u = group(outputs, "U", description=np.bytes_("Spatial displacement"), type=np.int32(3))
            u.attrs.create("componentLabels", ["U1", "U2", "U3"], dtype=STR)
            block = group(group(u, "blocks"), "0", instance=np.bytes_("PART-1-1"), position=np.bytes_("NODAL"))
            dataset(block, "data", nodes, 3, np.float32, lambda a, b: t * rng.standard_normal((b - a, 3), np.float32))
            dataset(block, "nodeLabels", nodes, 0, np.int32, lambda a, b: np.arange(a + 1, b + 1, dtype=np.int32))
            for name, width, code in [("S", 6, 5), ("PEEQ", 0, 2)]:
                field = group(outputs, name, type=np.int32(code))
                if width:
                    field.attrs.create("componentLabels", [name + c for c in ["11", "22", "33", "12", "13", "23"]],
                                       dtype=STR)
                block = group(group(field, "blocks"), "0", instance=np.bytes_("PART-1-1"),
                              position=np.bytes_("INTEGRATION_POINT"))
                shape = (lambda k: (k, width)) if width else (lambda k: (k,))
                dataset(block, "data", rows, width, np.float32,
                        lambda a, b: 100 * t * rng.standard_normal(shape(b - a), np.float32))
                dataset(block, "elementLabels", rows, 0, np.int32,
                        lambda a, b: (np.arange(a, b, dtype=np.int32) // points + 1))
                dataset(block, "integrationPoints", rows, 0, np.int32,
                        lambda a, b: (np.arange(a, b, dtype=np.int32) % points + 1))
    return elements, nodes


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out")
    ap.add_argument("--elements", type=int, default=1_500_000)
    ap.add_argument("--frames", type=int, default=2)
    args = ap.parse_args(argv)
    elements, nodes = write(args.out, args.elements, args.frames)
    print(f"{args.out}: {elements} elements, {nodes} nodes, {args.frames} frame(s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
