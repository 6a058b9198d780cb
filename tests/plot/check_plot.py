#!/usr/bin/python3
"""harvest-plot on the golden reports: the summary's numbers against the report itself (found with plain
patterns over the file, not with harvest-plot's module), the PNG, reports without field lines, unknown
names, results tables and failures.   check_plot.py BIN_DIR GOLDEN_CASES_DIR"""
import csv, os, re, sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.image  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import check, finish, read, report_lines, run, scratch, write  # noqa: E402

tool, cases = os.path.join(os.path.abspath(sys.argv[1]), "harvest-plot"), os.path.abspath(sys.argv[2])


def plot(*args, cwd):
    r = run([tool, *args], cwd, timeout=120, text=True)
    return r.status, r.out, r.err


def golden(case):
    return os.path.join(cases, case, "expected", "params.txt")


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
    out, by_name = [], dict(lines)
    steps = (re.match(r"(.*?)__(Frame_\d+|History|History_Max|History_Min|Mass|MassCenter)(__|$)", n) for n, _ in lines)
    for step in dict.fromkeys(m.group(1).replace(" ", "_") for m in steps if m):
        out += [("mass", [step, v]) for n, v in lines if n.replace(" ", "_") == step + "__Mass"][:1]
        s = re.escape(step)
        for field, quantity, label in (("S", "mises", "S von Mises"), ("U", "mag", "U magnitude")):
            whole = greatest(lines, rf"{s}__Frame_(\d+)__{field}__{quantity}__max")
            engg = greatest(lines, rf"{s}__Frame_(\d+)__{field}__{quantity}__enggmax")
            sets = greatest(lines, rf"{s}__Frame_(\d+)__(.+)__{field}__{quantity}__max")
            if whole or sets:
                out.append(("field", [step, label, f"{whole[0]} ({whole[1]})" if whole else "-",
                                      f"{engg[0]} ({engg[1]})" if engg else "-",
                                      f"{sets[2]} {sets[0]} ({sets[1]})" if sets else "-"]))
        for name, value in lines:
            m = re.fullmatch(rf"{s}__History_Max__(.+)", name)
            low = by_name.get(f"{step}__History_Min__{m.group(1)}") if m else None
            if low is not None and float(low) < float(value):  # min above max: an empty history
                out.append(("history", [step, m.group(1), low, value]))
    return out


def check_summaries(work):
    # Beside the golden reports, one with three frames per step where the maxima fall in different frames: field_sets
    # again as frame 9 with every number scaled by 1.5, and as frame 1 with the whole-model von Mises maximum raised above both.
    reports = [(c, golden(c)) for c in sorted(os.listdir(cases)) if os.path.exists(golden(c))]
    frames = []
    for line in read(golden("field_sets"), "r").splitlines():
        name, value = line.split("\t")
        raised = "1000" if name == "Step_1__Frame_3__S__mises__max" else value
        frames += [line, f"{name.replace('Frame_3', 'Frame_9')}\t{float(value) * 1.5:g}",
                   f"{name.replace('Frame_3', 'Frame_1')}\t{raised}"]
    write(os.path.join(work, "frames.txt"), "\n".join(frames) + "\n")
    for case, report in reports + [("frames", os.path.join(work, "frames.txt"))]:
        status, out, err = plot("--summary", report, cwd=work)
        check(f"{case}: summary", status == 0 and err == "", f"status {status}, stderr {err!r}")
        got, expected = rows_of(out), expected_rows(report_lines(report))
        for kind, row in expected:  # a set cell may list tied sets after its first one
            check(f"{case}: summary has {kind} row {row}", any(r[:len(row)] == row if kind != "field" else
                  r[:4] == row[:4] and len(r) == 5 and r[4].split(", tied")[0] == row[4] for r in got))
        check(f"{case}: field table present or absent against the report",
              ("greatest maxima" in out) == any(k == "field" for k, _ in expected))


def check_pictures(work):
    """Reports with field lines, history only, and nothing at all."""
    for case in ("field_sets", "trav_walk_full", "hist_values", "trav_no_steps"):
        png = os.path.join(work, case + ".png")
        status, _, err = plot("-o", png, "--set", "TOP", golden(case), cwd=work)
        shape = matplotlib.image.imread(png).shape if status == 0 else (0, 0)
        said = {"field_sets": not re.search("__max|TOP", err), "trav_walk_full": err.count("S__mises__max") == 1}
        check(f"{case}: plot, a panel left out said once", shape[0] > 100 and shape[1] > 100 and said.get(case, True),
              f"status {status}, shape {shape}, {err}")


def check_odd_names_and_tables(work):
    odd = os.path.join(work, "odd.txt")
    write(odd, "Step_1__Frame_3__S__mises__median\t900\nUserLine\t1\nno tab here\n" + read(golden("field_sets"), "r"))
    _, plain, _ = plot("--summary", golden("field_sets"), cwd=work)
    status, out, _ = plot("--summary", odd, cwd=work)
    check("other lines counted", status == 0 and "other lines: 3 (e.g. 'Step_1__Frame_3__S__mises__median'" in out)
    check("other lines change no table", rows_of(out) == rows_of(plain))

    # A results table: one database per row, quoted messages, a failed row.
    parsed = {d: dict(report_lines(golden(d))) for d in ("field_sets", "trav_walk_full")}
    names = list(dict.fromkeys(n for r in parsed.values() for n in r))
    with open(os.path.join(work, "results.csv"), "w", newline="") as f:
        csv.writer(f).writerows([["database", "status", "message"] + names]
                                + [[f"runs/{d}/db.odb", "ok", ""] + [r.get(n, "") for n in names] for d, r in parsed.items()]
                                + [["runs/bad/db.odb", "failed", 'db.odb: "x", y: not a database'] + [""] * len(names)])
    status, out, _ = plot("--summary", "results.csv", cwd=work)
    got = rows_of(out)
    check("results table summary", status == 0 and ["runs/field_sets/db.odb", "ok", "Step_1", "90 (3)", "10.0802 (3)", "-"]
          in got, str(got))
    check("results table mass", ["runs/trav_walk_full/db.odb", "ok", "Load_Step_2", "-", "-", "3"] in got)
    check("results table message", 'runs/bad/db.odb: db.odb: "x", y: not a database' in out)
    status, _, _ = plot("-o", "t.png", "results.csv", cwd=work)
    check("results table PNG", status == 0 and read(os.path.join(work, "t.png"))[:8] == b"\x89PNG\r\n\x1a\n")

    # Failures: status 1, the tool's message, no PNG left behind.
    status, _, err = plot("--summary", "missing.txt", cwd=work)
    check("missing report", status == 1 and err == "harvest-plot: missing.txt: No such file or directory\n", err)
    status, _, err = plot("-o", "no/such/dir/x.png", odd, cwd=work)
    check("unwritable picture", status == 1 and err.endswith("harvest-plot: no/such/dir/x.png: No such file or directory\n")
          and not os.path.exists(os.path.join(work, "no")), err)
    # --model without ParaView on the path: one line naming the package, nothing written.
    r = run([tool, "--model", "db.odb", "--field", "U", "-o", "v.png"], work, timeout=60, text=True,
            env=dict(os.environ, PATH="/nonexistent"))
    check("--model: no ParaView", r.status == 1 and r.err.count("\n") == 1 and "Debian package paraview" in r.err
          and not os.path.exists(os.path.join(work, "v.png")), f"{r.status} {r.err!r}")


with scratch("plot-test-") as folder:
    for part in (check_summaries, check_pictures, check_odd_names_and_tables):
        part(folder)
sys.exit(finish("check_plot"))
