#!/usr/bin/python3
"""harvest-plot on the golden reports: the summary's numbers against the report itself,
the PNG, reports without field lines, unknown names, results tables and failures.
  check_plot.py SCRIPTS_DIR GOLDEN_CASES_DIR
The expected numbers are found here with plain patterns over the file, not with the
module that harvest-plot uses."""

import csv
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile

import matplotlib
matplotlib.use("Agg")
import matplotlib.image  # noqa: E402

scripts, cases = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
tool = os.path.join(scripts, "harvest-plot")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def limits():
    resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 20, 64 << 20))


def run(*args, cwd):
    p = subprocess.run([tool, *args], cwd=cwd, capture_output=True, text=True, timeout=120, preexec_fn=limits)
    return p.returncode, p.stdout, p.stderr


def rows_of(summary):
    """Table rows of a summary, cells split at two or more blanks."""
    return [re.split(r" {2,}", line.strip()) for line in summary.splitlines() if line.startswith("  ")]


def greatest(lines, pattern):
    """(value text, frame, group 2) of the first line holding the greatest value that matches."""
    best = None
    for name, value in lines:
        m = re.fullmatch(pattern, name)
        if m and value != "nan" and (best is None or float(value) > float(best[0])):
            best = (value, m.group(1), m.group(2) if m.re.groups > 1 else None)
    return best


def expected_rows(lines):
    """The summary rows that the report's own lines call for."""
    out, steps, by_name = [], [], dict(lines)
    for name, _ in lines:
        m = re.match(r"(.*?)__(Frame_\d+|History|History_Max|History_Min|Mass|MassCenter)(__|$)", name)
        if m and m.group(1).replace(" ", "_") not in steps:
            steps.append(m.group(1).replace(" ", "_"))
    for step in steps:
        mass = [v for n, v in lines if n.replace(" ", "_") == step + "__Mass"]
        if mass:
            out.append(("mass", [step, mass[0]]))
        s = re.escape(step)
        for field, quantity, label in (("S", "mises", "S von Mises"), ("U", "mag", "U magnitude")):
            whole = greatest(lines, rf"{s}__Frame_(\d+)__{field}__{quantity}__max")
            engg = greatest(lines, rf"{s}__Frame_(\d+)__{field}__{quantity}__enggmax")
            sets = greatest(lines, rf"{s}__Frame_(\d+)__(.+)__{field}__{quantity}__max")
            if whole or sets:
                row = [step, label, f"{whole[0]} ({whole[1]})" if whole else "-",
                       f"{engg[0]} ({engg[1]})" if engg else "-",
                       f"{sets[2]} {sets[0]} ({sets[1]})" if sets else "-"]
                out.append(("field", row))
        for name, value in lines:
            m = re.fullmatch(rf"{s}__History_Max__(.+)", name)
            low = by_name.get(f"{step}__History_Min__{m.group(1)}") if m else None
            if m and low is not None and float(low) < float(value):  # min above max: an empty history
                out.append(("history", [step, m.group(1), low, value]))
    return out


work = tempfile.mkdtemp(prefix="plot-test-")
try:
    # Beside the golden reports, one with three frames per step where the maxima fall in
    # different frames: field_sets again as frame 9 with every number scaled by 1.5, and as
    # frame 1 with the whole-model von Mises maximum raised above both.
    reports = [(c, os.path.join(cases, c, "expected", "params.txt")) for c in sorted(os.listdir(cases))]
    frames = os.path.join(work, "frames.txt")
    with open(frames, "w") as f:
        for line in open(os.path.join(cases, "field_sets", "expected", "params.txt")):
            name, value = line.rstrip("\n").split("\t")
            f.write(line)
            f.write(f"{name.replace('Frame_3', 'Frame_9')}\t{float(value) * 1.5:g}\n")
            raised = "1000" if name == "Step_1__Frame_3__S__mises__max" else value
            f.write(f"{name.replace('Frame_3', 'Frame_1')}\t{raised}\n")
    reports.append(("frames", frames))
    for case, report in reports:
        if not os.path.exists(report):
            continue
        lines = [tuple(line.rstrip("\n").rsplit("\t", 1)) for line in open(report)]
        status, out, err = run("--summary", report, cwd=work)
        check(status == 0 and err == "", f"{case}: summary status {status}, stderr {err!r}")
        got = rows_of(out)
        for kind, row in expected_rows(lines):
            # a set cell may list tied sets after its first one
            hit = any(r[:len(row)] == row if kind != "field" else
                      r[:4] == row[:4] and len(r) == 5 and r[4].split(", tied")[0] == row[4] for r in got)
            check(hit, f"{case}: summary lacks {kind} row {row}")
        has_field = any("__Frame_" in n for n, _ in lines)
        check(("greatest maxima" in out) == any(k == "field" for k, _ in expected_rows(lines)),
              f"{case}: field table present or absent against the report")
        if not has_field and lines:
            check("mass and centre of mass" in out or "history outputs" in out,
                  f"{case}: report without field lines gives mass or history")
        check("other lines: 0" in out, f"{case}: no other lines expected")

    # The picture, on reports with field lines, history only, and nothing at all.
    for case in ("field_sets", "trav_walk_full", "hist_values", "trav_no_steps"):
        png = os.path.join(work, case + ".png")
        status, _, err = run("-o", png, "--set", "TOP", os.path.join(cases, case, "expected", "params.txt"),
                             cwd=work)
        check(status == 0, f"{case}: plot status {status}: {err}")
        with open(png, "rb") as f:
            check(f.read(8) == b"\x89PNG\r\n\x1a\n", f"{case}: PNG signature")
        shape = matplotlib.image.imread(png).shape
        check(shape[0] > 100 and shape[1] > 100, f"{case}: PNG readable, {shape}")
        check(case != "field_sets" or "__max" not in err and "TOP" not in err,
              f"{case}: no field panel left out: {err!r}")
        check(case != "trav_walk_full" or err.count("S__mises__max") == 1,
              f"{case}: a missing panel is said once: {err!r}")

    # Names of no known family are counted and change nothing else.
    base = open(os.path.join(cases, "field_sets", "expected", "params.txt")).read()
    odd = os.path.join(work, "odd.txt")
    with open(odd, "w") as f:
        f.write("Step_1__Frame_3__S__mises__median\t900\nUserLine\t1\nno tab here\n" + base)
    _, plain, _ = run("--summary", os.path.join(cases, "field_sets", "expected", "params.txt"), cwd=work)
    status, out, _ = run("--summary", odd, cwd=work)
    check(status == 0 and "other lines: 3 (e.g. 'Step_1__Frame_3__S__mises__median'" in out, "other lines counted")
    check(rows_of(out) == rows_of(plain), "other lines change no table")

    # A results table: one database per row, quoted messages, a failed row.
    table = os.path.join(work, "results.csv")
    parsed = {}
    for d in ("field_sets", "trav_walk_full"):
        with open(os.path.join(cases, d, "expected", "params.txt")) as f:
            parsed[d] = dict(tuple(line.rstrip("\n").rsplit("\t", 1)) for line in f)
    names = list(dict.fromkeys(n for r in parsed.values() for n in r))
    with open(table, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["database", "status", "message"] + names)
        for d, r in parsed.items():
            w.writerow([f"runs/{d}/db.odb", "ok", ""] + [r.get(n, "") for n in names])
        w.writerow(["runs/bad/db.odb", "failed", 'db.odb: "x", y: not a database'] + [""] * len(names))
    status, out, _ = run("--summary", table, cwd=work)
    got = rows_of(out)
    check(status == 0 and ["runs/field_sets/db.odb", "ok", "Step_1", "90 (3)", "10 (3)", "-"] in got,
          f"results table summary: {got}")
    check(["runs/trav_walk_full/db.odb", "ok", "Load_Step_2", "-", "-", "3"] in got, "results table mass")
    check('runs/bad/db.odb: db.odb: "x", y: not a database' in out, "results table message")
    status, _, _ = run("-o", "t.png", table, cwd=work)
    check(status == 0 and open(os.path.join(work, "t.png"), "rb").read(8) == b"\x89PNG\r\n\x1a\n",
          "results table PNG")

    # Failures: status 1, the tool's message, no PNG left behind.
    status, _, err = run("--summary", "missing.txt", cwd=work)
    check(status == 1 and err == "harvest-plot: missing.txt: No such file or directory\n", f"missing: {err!r}")
    status, _, err = run("-o", "no/such/dir/x.png", odd, cwd=work)
    check(status == 1 and err.endswith("harvest-plot: no/such/dir/x.png: No such file or directory\n")
          and not os.path.exists(os.path.join(work, "no")), f"unwritable: {err!r}")
finally:
    shutil.rmtree(work, ignore_errors=True)

print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
