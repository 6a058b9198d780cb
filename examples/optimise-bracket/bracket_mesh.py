#!/usr/bin/python3
"""Writes the mesh of the bundled L-bracket (examples/calculix/bracket_mesh.inp) for other shapes:
the plate thickness T and the width W of both arms, arms 60 mm long, and the number of bricks across
the width and the thickness (DIV) and along the rest of each arm (4 DIV).

  bracket_mesh.py [-t T] [-w W] [--div DIV] [-o FILE]      defaults: 12, 12, 6, bracket_mesh.inp

The defaults give the bundled mesh node for node. Node n = 1 + i + (N+1) (j + (N+1) k) sits at
(X(i), X(j), k T / DIV), N = 5 DIV, where X spreads the first DIV divisions over the width and the
other 4 DIV over the rest of the arm; bricks (C3D8I) fill the L of cells with i < DIV or j < DIV.
Sets: NALL, EALL; SUPPORT, the top face of the upright arm (y = 60); LOAD, the end face of the
horizontal arm (x = 60); LOADPT, the node in the middle of that face (DIV even); CORNER, the bricks
within two divisions of the inner corner.
"""
import argparse
import sys

LENGTH = 60.0


def mesh(t=12.0, w=12.0, div=6):
    """The deck text of the mesh."""
    if not (0 < w < LENGTH and t > 0 and div >= 2):
        raise ValueError(f"no bracket with thickness {t:g}, width {w:g} and {div} divisions")
    n = 5 * div
    rest = n - div

    def x(i):
        return i * w / div if i <= div else w + (i - div) * (LENGTH - w) / rest

    def node(i, j, k):
        return 1 + i + (n + 1) * (j + (n + 1) * k)

    def inside(i, j):  # a node of the L
        return i <= div or j <= div

    out = ["** L-bracket mesh: arms %g mm long and %g mm wide, %g mm thick, %d bricks across." % (LENGTH, w, t, div),
           "** Written by examples/optimise-bracket/bracket_mesh.py.",
           "*NODE, NSET=NALL"]
    for k in range(div + 1):
        for j in range(n + 1):
            out += ["%d,%.6g,%.6g,%.6g" % (node(i, j, k), x(i), x(j), k * t / div)
                    for i in range(n + 1) if inside(i, j)]
    out.append("*ELEMENT, TYPE=C3D8I, ELSET=EALL")
    corner, number = [], 0
    for k in range(div):
        for j in range(n):
            for i in range(n):
                if i >= div and j >= div:
                    continue
                number += 1
                a, b = node(i, j, k), node(i, j, k + 1)
                out.append("%d,%d,%d,%d,%d,%d,%d,%d,%d" % (number, a, a + 1, a + n + 2, a + n + 1,
                                                           b, b + 1, b + n + 2, b + n + 1))
                if div - 2 <= i < div + 2 and div - 2 <= j < div + 2:
                    corner.append(number)
    every = range(div + 1)
    sets = [("NSET", "SUPPORT", sorted(node(i, n, k) for i in every for k in every)),
            ("NSET", "LOAD", sorted(node(n, j, k) for j in every for k in every)),
            ("NSET", "LOADPT", [node(n, div // 2, div // 2)]),
            ("ELSET", "CORNER", corner)]
    for kind, name, members in sets:
        out.append(f"*{kind}, {kind}={name}")
        out += [",".join(map(str, members[s:s + 16])) for s in range(0, len(members), 16)]
    return "\n".join(out) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-t", type=float, default=12.0, help="thickness (mm)")
    parser.add_argument("-w", type=float, default=12.0, help="arm width (mm)")
    parser.add_argument("--div", type=int, default=6, help="bricks across the width and thickness")
    parser.add_argument("-o", default="bracket_mesh.inp", help="the mesh file to write")
    args = parser.parse_args(argv)
    try:
        text = mesh(args.t, args.w, args.div)
        with open(args.o, "w") as f:
            f.write(text)
    except (ValueError, OSError) as e:
        print(f"bracket_mesh.py: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
