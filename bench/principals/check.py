#!/usr/bin/python3
"""Checks the fast principal values against the cyclic Jacobi ones and numpy's eigvalsh.

Feeds seeded random tensors of several classes (general, float data, repeated and nearly repeated
eigenvalues, diagonal, plane, zeros, pure shear, integers, huge and tiny entries) through the check
program and reports, per class: how often the closed form decided (the rest fell back on Jacobi),
whether a Jacobi value fell outside the closed form's bounds and how often a float the fast method
gives differs from the Jacobi float (both must be never), how often Jacobi's doubles differ from
eigvalsh's, and how often a fast float, and the printed number (6 significant digits), differs from
eigvalsh's. Exit status 1 when any Jacobi value is outside its bounds or any fast float differs.

    check.py --program build-bench/bin/principal_check [--count 10000000]
"""
import argparse
import subprocess
import sys

import numpy as np

CLASSES = ["general", "float data", "repeated", "nearly repeated", "triple", "diagonal", "plane",
           "zeros", "pure shear", "integers", "huge", "tiny"]
RECORD = np.dtype([("fast", "<f4", 4), ("jacobi", "<f8", 3), ("decided", "<i4"), ("outside", "<i4")])


def rotated(rng, n, eig):
    """Tensors Q diag(eig) Q^T with random rotations Q, as rows 11 22 33 12 13 23."""
    q, r = np.linalg.qr(rng.standard_normal((n, 3, 3)))
    q *= np.sign(np.diagonal(r, axis1=1, axis2=2))[:, None, :]
    m = np.einsum("nij,nj,nkj->nik", q, eig, q)
    return np.stack([m[:, 0, 0], m[:, 1, 1], m[:, 2, 2], m[:, 0, 1], m[:, 0, 2], m[:, 1, 2]], axis=1)


def tensors(kind, rng, n):
    """n tensors of one class, as an (n, 6) float64 array."""
    u = rng.uniform(-1000, 1000, (n, 6))
    if kind == "general":
        return u
    if kind == "float data":
        return u.astype(np.float32).astype(np.float64)
    if kind == "repeated":
        a, b = rng.uniform(-1000, 1000, (2, n))
        return rotated(rng, n, np.stack([a, a, b], axis=1))
    if kind == "nearly repeated":
        a, b = rng.uniform(-1000, 1000, (2, n))
        rel = 10.0 ** rng.uniform(-16, -4, n)
        return rotated(rng, n, np.stack([a, a * (1 + rel), b], axis=1))
    if kind == "triple":
        a = rng.uniform(-1000, 1000, n)
        t = np.zeros((n, 6))
        t[:, :3] = a[:, None]
        t[:, 3:] = u[:, 3:] * 10.0 ** rng.uniform(-18, -6, (n, 1))
        return t
    if kind == "diagonal":
        u[:, 3:] = 0.0
        u[: n // 4, 1] = u[: n // 4, 0]  # ties
        u[n // 4: n // 2, :3] *= rng.choice([0.0, -0.0, 1.0], (n // 2 - n // 4, 3))
        return u
    if kind == "plane":
        u[:, 4:] = 0.0
        u[: n // 2, 2] = 0.0
        return u
    if kind == "zeros":
        return u * (rng.random((n, 6)) < 0.5)
    if kind == "pure shear":
        t = np.zeros((n, 6))
        t[np.arange(n), 3 + rng.integers(0, 3, n)] = u[:, 0]
        t[: n // 2, 3:] = u[: n // 2, 3:]
        return t
    if kind == "integers":
        return rng.integers(-3, 4, (n, 6)).astype(np.float64)
    if kind == "huge":
        scale = np.where(rng.random(n) < 0.5, 1e30, 1e200)
        return u * scale[:, None]
    if kind == "tiny":
        scale = np.where(rng.random(n) < 0.5, 1e-30, 1e-200)
        return u * scale[:, None]
    raise ValueError(kind)


def printed(values):
    return np.array([f"{v:.6g}" for v in values.astype(np.float64).ravel()])


def check(program, kind, rng, n):
    t = tensors(kind, rng, n)
    run = subprocess.run([program], input=t.tobytes(), capture_output=True, timeout=3600, check=True)
    out = np.frombuffer(run.stdout, dtype=RECORD)
    fast = out["fast"]
    jac = out["jacobi"]
    m = np.zeros((n, 3, 3))
    for k, (i, j) in enumerate([(0, 0), (1, 1), (2, 2), (0, 1), (0, 2), (1, 2)]):
        m[:, i, j] = m[:, j, i] = t[:, k]
    with np.errstate(all="ignore"):
        eig = np.linalg.eigvalsh(m)[:, ::-1]
        eig_f = eig.astype(np.float32)
        jac_f = np.concatenate([jac.astype(np.float32), (jac[:, :1] - jac[:, 2:]).astype(np.float32)], axis=1)
    same = lambda a, b: a.view(np.uint32) == b.view(np.uint32)
    differ = ~same(fast[:, :3], eig_f)
    # Equal floats print alike: only the differing ones are printed.
    shown = printed(fast[:, :3][differ]) != printed(eig_f[differ])
    zero_sign = (fast[:, :3][differ] == 0) & (eig_f[differ] == 0)
    return {
        "count": n,
        "decided": int(out["decided"].sum()),
        "outside": int(out["outside"].sum()),
        "fast != jacobi": int((~same(fast, jac_f)).any(axis=1).sum()),
        "jacobi != eigvalsh": int((jac != eig).any(axis=1).sum()),
        "fast != eigvalsh": int(differ.sum()),
        "printed": int(shown.sum()),
        "zero sign": int((shown & zero_sign).sum()),
        "timing": run.stderr.decode().strip(),
    }


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--program", required=True, help="the principal_check program")
    ap.add_argument("--count", type=int, default=10_000_000, help="tensors in all (default 10 million)")
    ap.add_argument("--seed", type=int, default=24)
    args = ap.parse_args(argv)
    rng = np.random.default_rng(args.seed)
    per = max(1, args.count // len(CLASSES))
    chunk = 1_000_000
    bad = 0
    print("per class: tensors; share the closed form decided; tensors with a Jacobi value outside the bounds;")
    print("tensors with a fast float != Jacobi's; tensors with a Jacobi double != eigvalsh's; values whose float")
    print("!= eigvalsh's float; of those, printed differently (%g, 6 digits), and how many only by a zero's sign")
    print(f"{'class':16} {'tensors':>9} {'decided':>8} {'outside':>7} {'!=jacobi':>8} {'jac!=eig':>9} "
          f"{'!=eig f32':>9} {'printed':>7} {'(0 sign)':>8}  time per tensor")
    for kind in CLASSES:
        total = {}
        for start in range(0, per, chunk):
            r = check(args.program, kind, rng, min(chunk, per - start))
            for k, v in r.items():
                total[k] = v if k == "timing" else total.get(k, 0) + v
        bad += total["fast != jacobi"] + total["outside"]
        print(f"{kind:16} {total['count']:9d} {100 * total['decided'] / total['count']:7.3f}% {total['outside']:7d} "
              f"{total['fast != jacobi']:8d} {total['jacobi != eigvalsh']:9d} {total['fast != eigvalsh']:9d} "
              f"{total['printed']:7d} {total['zero sign']:8d}  {total['timing'].replace('per tensor: ', '')}")
    print("tensors where the fast method differs from Jacobi or its bounds fail:", bad)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
