#!/usr/bin/python3
"""Plots a thickness study's results.csv: the peak von Mises stress over all
frames and the mass against the thickness read from each database's folder
name (points/t012.0/bracket.odb).

  plot.py results.csv out.png
"""
import csv
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def points(path):
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    out = []
    for row in rows:
        m = re.search(r"/t([0-9.]+)/", row["database"])
        if row["status"] != "done" or not m:
            continue
        mises = [float(v) for k, v in row.items()
                 if re.fullmatch(r"Step_[0-9]+__Frame_[0-9]+__S__mises__max", k) and v]
        out.append((float(m.group(1)), max(mises), float(row["Step_1__Mass"]) * 1000.0))
    return sorted(out)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: plot.py results.csv out.png\n")
        return 2
    data = points(sys.argv[1])
    if not data:
        sys.stderr.write(f"plot.py: {sys.argv[1]}: no completed point\n")
        return 1
    t, mises, mass = zip(*data)
    fig, left = plt.subplots(figsize=(6.4, 4.0), dpi=100)
    left.plot(t, mises, "o-", color="tab:red")
    left.set_xlabel("thickness [mm]")
    left.set_ylabel("peak von Mises stress [MPa]", color="tab:red")
    left.grid(True, alpha=0.3)
    right = left.twinx()
    right.plot(t, mass, "s--", color="tab:blue")
    right.set_ylabel("mass [kg]", color="tab:blue")
    left.set_title("L-bracket: thickness sweep (ccx, harvest-many)")
    fig.tight_layout()
    fig.savefig(sys.argv[2])
    print(f"plot.py: wrote {sys.argv[2]} ({len(data)} points)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
