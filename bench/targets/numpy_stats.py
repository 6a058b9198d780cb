"""The whole-model statistics of a full run (maximum, minimum and the 5 %
engineering extremes of each field's main quantity and of its components)
computed with numpy, as an engineer would script them; with --check
PARAMS.txt, also compares each number with the program's report.
    /usr/bin/python3 numpy_stats.py DB.odb [--check params.txt]

The program selects block by block and keeps the component figures of a
field's last block; this script does the same so that the numbers agree."""
import sys

import h5py
import numpy as np

PER = 5.0
TENSORS = range(5, 10)


def engg(values):
    """Engineering minimum and maximum: the k-th value from each end, k = n * PER / 100."""
    n = values.size
    k = int(min(max(n * PER / 100.0, 0.0), n))
    pos = k - 1 if k > 0 else 0
    part = np.partition(values, (pos, n - 1 - pos))
    return part[n - 1 - pos], part[pos]


def block_stats(data, kind, element):
    """(main values, their extremes and engineering extremes, per-component stats) of one block."""
    if kind in TENSORS and element:
        s = data.astype(np.float64)
        d1, d2, d3 = s[:, 0] - s[:, 1], s[:, 1] - s[:, 2], s[:, 2] - s[:, 0]
        main = np.sqrt((d1 * d1 + d2 * d2 + d3 * d3) / 2.0 + 3.0 * (s[:, 3] ** 2 + s[:, 4] ** 2 + s[:, 5] ** 2))
        main = main.astype(np.float32)
        cols = [data[:, m] for m in range(6)]
    elif kind == 3:
        sq = data * data
        total = sq[:, 0]
        for m in range(1, data.shape[1]):
            total = total + sq[:, m]
        main = np.sqrt(total)
        cols = [data[:, c] if c < data.shape[1] else np.zeros_like(data[:, 0]) for c in range(3)]
    else:
        main = data[:, -1]
        return (data.max(), data.min()) + engg(main), []
    return (main.max(), main.min()) + engg(main), [(c.max(), c.min()) + engg(c) for c in cols]


def field_lines(head, field):
    kind = int(field.attrs["type"])
    blocks = [b for b in field["blocks"].values() if b["data"].shape[0] > 0]
    if not blocks:
        return {}
    mx, mn, emx, emn = -np.inf, np.inf, -np.inf, np.inf
    comps = []
    for b in blocks:
        data = b["data"][()]
        data = data.reshape(data.shape[0], -1)
        main, comps = block_stats(data, kind, "elementLabels" in b)
        mx, mn, emx, emn = max(mx, main[0]), min(mn, main[1]), max(emx, main[2]), min(emn, main[3])
    label = {3: "mag__"}.get(kind, "mises__" if kind in TENSORS else "")
    out = {}
    for stat, v in zip(("max", "min", "enggmax", "enggmin"), (mx, mn, emx, emn)):
        out[f"{head}{label}{stat}"] = v
    names = ["1", "2", "3"] if kind == 3 else ["11", "22", "33", "12", "13", "23"]
    for name, c in zip(names, comps):
        for stat, v in zip(("max", "min", "enggmax", "enggmin"), c):
            out[f"{head}{name}__{stat}"] = v
    return out


def compute(path):
    out = {}
    with h5py.File(path, "r") as f:
        for step_name, step in f["steps"].items():
            for frame in step["frames"].values():
                inc = int(frame.attrs["incrementNumber"])
                for name, field in frame.get("fieldOutputs", {}).items():
                    head = f"{step_name.replace('-', '_').replace(' ', '_')}__Frame_{inc}__{name}__"
                    out.update(field_lines(head, field))
    return out


def check(ours, params):
    """True when every number, printed as the report prints (6 significant digits), is the report's."""
    theirs = {}
    for line in open(params):
        key, _, value = line.rstrip("\n").partition("\t")
        theirs[key] = value
    bad = [k for k, v in ours.items() if theirs.get(k) != f"{float(v):g}"]
    for k in bad[:10]:
        print(f"numpy_stats: {k}: numpy {float(ours[k]):g}, program {theirs.get(k)}", file=sys.stderr)
    return not bad


def main():
    ours = compute(sys.argv[1])
    if len(sys.argv) == 4 and sys.argv[2] == "--check":
        if not check(ours, sys.argv[3]):
            sys.exit(1)
        print(f"numpy_stats: {len(ours)} numbers agree with {sys.argv[3]}")
    else:
        print(f"{len(ours)} numbers")


if __name__ == "__main__":
    main()
