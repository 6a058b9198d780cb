#!/usr/bin/python3
"""harvest-response on the golden reports (expected values from hand-written regular expressions over the
report's own lines, not from the module's pattern translation), and the report parser rebuilding every golden
name from its parts; with --loops, the optimisation examples on the bracket (scipy loop in its fast form, the
Dakota driver), solved by ccx.   check_response.py [--loops] BIN_DIR GOLDEN_CASES_DIR|EXAMPLES_DIR"""
import csv, importlib.util, json, math, os, re, shutil, sys, time

LOOPS = sys.argv[1] == "--loops"
bin_dir, cases = os.path.abspath(sys.argv[1 + LOOPS]), os.path.abspath(sys.argv[2 + LOOPS])
tool = os.path.join(bin_dir, "harvest-response")
sys.path[:0] = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"), os.path.join(bin_dir, "..", "python")]
from harness import check, finish, read, report_lines, run, scratch, skip, write  # noqa: E402
import harvestodb.report as hr  # noqa: E402


def respond(*args, cwd):
    r = run([tool, *args], cwd, timeout=60, text=True)
    return r.status, r.out, r.err


def golden(case):
    return os.path.join(cases, case, "expected")


SET = r"[A-Za-z0-9]+(?:_[A-Za-z0-9]+)*"  # one name part: no "__" inside

# case, response, regex over names (None: the response's own pattern is an exact name), expected:
# "value" (computed here from the matched lines), or the text the failure reason must hold.
TABLE = [
    ("field_sets", "peak = max(Step_1__Frame_*__S__mises__max)", r"Step_1__Frame_\d+__S__mises__max", "value"),
    ("field_sets", "sets = count(Step_1__Frame_3__*__S__mises__max)", rf"Step_1__Frame_3__{SET}__S__mises__max", "value"),
    ("field_sets", "total = sum(**__S__mises__enggmax)", r".*__S__mises__enggmax", "value"),  # more digits than %g
    ("field_sets", "one = first(**__E_ONE__**__enggmax)", r".*__E_ONE__.*__enggmax", "value"),
    ("field_sets", "end = last(Step_1__**__TOP__**__enggmin)", r"Step_1__.*__TOP__.*__enggmin", "value"),
    ("field_sets", "none = count(Step_9__**)", r"Step_9__.*", "value"),
    ("field_sets", "cross = max(Step_1__Frame_*__mises__max)", None, "matches no line"),
    ("field_sets", "plain = Step_1__Frame_3__S__mises__max", None, "value"),
    ("field_sets", "two = Step_1__Frame_3__*__U__mag__max", None, "matches 3 lines"),
    ("trav_walk_full", "mass = Load_Step_2__Mass", None, "value"),
    ("trav_walk_full", "masses = sum(*__Mass)", r"[^_]+(?:_[^_]+)*__Mass", "value"),
    ("trav_walk_full", "centre = count(**MassCenter)", r".*MassCenter", "value"),   # sequences are no numbers
    ("trav_walk_full", "temp = min(**__TEMP__min)", r".*__TEMP__min", "value"),
    ("trav_walk_full", "rf = absmax(Step_1__History_M*__RF_2_7)", r"Step_1__History_M(?:ax|in)__RF_2_7", "value"),
    ("hist_values", "hi = max(Step_1__History_Max__**)", None, "is a start value"),
    ("field_nan", "none = Step_1__Frame_0__NONE__enggmax", None, "is a start value"),
    ("field_nan", "big = max(Step_1__Frame_0__BIG__*)", r"Step_1__Frame_0__BIG__(?:max|min|enggmax|enggmin)", "value"),
    ("trav_mass_special", "m = Step_3__Mass", None, "is nan"),
    ("trav_mass_special", "n = count(**Mass)", r".*Mass", "value"),
    ("field_names_only", "names = max(**__S__mises__max)", r".*__S__mises__max", "value"),
]


def expected_value(case, text, regex):
    """The response's value text, computed from the report lines that regex matches."""
    how = re.fullmatch(r"\w+ = (\w+)\(.*\)", text)
    how = how.group(1) if how else "first"
    regex = regex or re.escape(text.split("= ", 1)[1])
    picked = [(n, v) for n, v in report_lines(os.path.join(golden(case), "params.txt"))
              if re.fullmatch(regex, n) and not v.startswith("(") and v != "None"]
    numbers = [float(v) for _, v in picked]
    if how == "count":
        return str(len(picked))
    if how == "sum":
        return "%.10g" % math.fsum(numbers)
    if how == "absmax":
        return max((v.lstrip("-") for _, v in picked), key=float)
    at = {"first": 0, "last": len(picked) - 1, "max": numbers.index(max(numbers)) if numbers else 0,
          "min": numbers.index(min(numbers)) if numbers else 0}[how]
    return picked[at][1]


def check_table(work):
    for case, text, regex, want in TABLE:
        status, out, err = respond("--response", text, golden(case), cwd=work)
        name = text.split(" =")[0]
        ok = ((status, out) == (0, f"{name} {expected_value(case, text, regex)}\n") if want == "value" else
              status == 1 and out == "" and want in err and err.startswith(f"harvest-response: {name}: "))
        check(f"{case}: {text}" + ("" if want == "value" else " fails"), ok, f"status {status}, {out!r}, {err!r}")
    # All rows at once from a file, in each format: one failing row fails the evaluation.
    rows = [(t, r, w) for c, t, r, w in TABLE if c == "field_sets" and w == "value"]
    write(os.path.join(work, "responses.txt"), "# the field_sets rows\n\n" + "".join(f"{t}   # {r}\n" for t, r, _ in rows))
    values = [(t.split(" =")[0], expected_value("field_sets", t, r)) for t, r, _ in rows]
    # (format, the output, the output when one more response fails)
    bad = "bad: Step_1__Nothing matches no line\n"
    for fmt, want, failed in (("lines", "".join(f"{n} {v}\n" for n, v in values), ""),
                              ("json", {n: float(v) for n, v in values}, ""),
                              ("dakota", "".join(f"{v} {n}\n" for n, v in values), "fail\n"),
                              ("dakota-free", "".join(f"{v}\n" for _, v in values), "fail\n"),
                              ("csv", "ok," + ",".join(v for _, v in values) + ",\n", "failed" + "," * (len(values) + 2) + bad)):
        for more, expected in (((), (0, want, "")),
                               (("--response", "bad = Step_1__Nothing"), (1, failed, "harvest-response: " + bad))):
            status, out, err = respond("-r", "responses.txt", "--format", fmt, *more, golden("field_sets"), cwd=work)
            got = json.loads(out) if fmt == "json" and status == 0 else out
            check(f"format {fmt}" + (", failed" if more else ""), (status, got, err) == expected, f"{status}, {out!r}, {err!r}")


def check_marker_and_outputs(work):
    os.makedirs(os.path.join(work, "run"))
    shutil.copy(os.path.join(golden("field_sets"), "params.txt"), os.path.join(work, "run", "params.txt"))
    ask = ("--response", "peak = max(**__S__mises__max)")
    status, out, err = respond(*ask, "run", cwd=work)
    check("no paramsdone.txt", (status, out) == (1, "") and "paramsdone.txt: missing" in err, err)
    status, out, err = respond(*ask, "--no-marker", "run", cwd=work)
    check("--no-marker", (status, out) == (0, "peak 90\n"), f"{status}, {out!r}, {err!r}")
    write(os.path.join(work, "run", "paramsdone.txt"), "Done\n")
    status, out, err = respond(*ask, "run/params.txt", "--format", "dakota", cwd=work)
    check("paramsdone.txt beside it", (status, out, err) == (0, "90 peak\n", ""), f"{status}, {out!r}, {err!r}")
    os.utime(os.path.join(work, "run", "paramsdone.txt"), (time.time() - 100,) * 2)
    status, out, err = respond(*ask, "--format", "dakota", "-o", "results.out", "run", cwd=work)
    check("stale paramsdone.txt: fail in the results file", (status, out, read(os.path.join(work, "results.out"), "r"))
          == (1, "", "fail\n") and "older than params.txt" in err, err)

    # A history file: the header once, a row per evaluation, design columns first; a foreign header is refused.
    os.utime(os.path.join(work, "run", "paramsdone.txt"))
    for column, report in (("1", "run"), ("2", "missing")):
        respond(*ask, "--format", "csv", "-o", "history.csv", "--column", f"t={column}", report, cwd=work)
    rows = list(csv.reader(read(os.path.join(work, "history.csv"), "r").splitlines()))
    check("history rows", rows == [["t", "status", "peak", "reason"], ["1", "ok", "90", ""],
                                   ["2", "failed", "", "missing: no report"]], str(rows))
    status, _, err = respond(*ask, "--format", "csv", "-o", "history.csv", "run", cwd=work)
    check("history header differs", status == 1 and "history.csv: its header is not status,peak,reason" in err, err)

    # Warnings: whole-model component lines, not set ones; the value still comes.
    shutil.copy(os.path.join(golden("field_nan"), "params.txt"), os.path.join(work, "nan.txt"))
    for pattern, warned, report in (
            ("max(Step_1__Frame_3__U__1__max)", True, "run"), ("max(**__S__11__enggmax)", True, "run"),
            ("max(Step_1__Frame_3__TOP__U__1__max)", False, "run"), ("count(**__U__1__max)", False, "run"),
            ("max(*__*__SN__mises__max)", True, "nan.txt"), ("max(*__*__S__mises__max)", False, "nan.txt"),
            ("max(**__NODES__SN__mises__max)", False, "nan.txt")):
        status, _, err = respond("--response", "x = " + pattern, "--no-marker", report, cwd=work)
        check(f"warning for {pattern}", status == 0 and ("warning" in err) == warned
              and (not warned or "shared component slots" in err), err)

    # Refused: (arguments, status, what the one line on standard error holds); usage faults are status 2.
    write(os.path.join(work, "twice.txt"), "a = S\n\na = max(S)\nb\n")
    for args, want_status, want in (
            (["--format", "xml", *ask], 2, "--format xml: expected one of"), ([], 2, "no response"),
            (["--bogus", *ask], 2, "unknown option --bogus"), (["-o"], 2, "-o needs a value"),
            (["--column", "x", *ask], 2, "--column needs NAME=VALUE"),
            (["--response", "1x = S", "run"], 1, "a response name"),
            (["--response", "x = median(S)", "run"], 1, "unknown reduction 'median'"),
            (["--response", "x = max()", "run"], 1, "a pattern is"),
            (["-r", "twice.txt", "run"], 1,
             "harvest-response: twice.txt:4: 'b': expected NAME = PATTERN or NAME = REDUCTION(PATTERN)\n"),
            ([*ask, "missing/params.txt"], 1, "harvest-response: missing/params.txt: no report\n")):
        status, out, err = respond(*args, cwd=work)
        check(f"refused {args}", (status, out, err.count("\n")) == (want_status, "", 1) and want in err, err)
    status, out, err = respond("--help", cwd=work)
    check("--help", status == 0 and out.startswith("usage: harvest-response") and err == "")


# Every line of every golden report read back by the parser: a known family, the same name when built again
# from its parts, and one family of quantities per field (a scalar field never beside a magnitude).
FAMILIES = [{""}, {"mag", "1", "2", "3"}, set(hr.QUANTITIES) - {"mag", "1", "2", "3"}]


def check_parser():
    count = 0
    for case in sorted(c for c in os.listdir(cases) if os.path.exists(os.path.join(golden(c), "params.txt"))):
        report, kinds = hr.read_params(os.path.join(golden(case), "params.txt")), {}
        for name, text, rec in report.entries:
            count += 1
            if check(f"{case}: {name} read back", rec is not None and hr.name_of(rec) == name, rec and hr.name_of(rec)) \
                    and isinstance(rec, hr.FieldLine):
                kinds.setdefault((rec.step, rec.frame, rec.region, rec.field), set()).add(rec.quantity)
        for key, quantities in kinds.items():
            check(f"{case}: {key} one kind of field", any(quantities <= f for f in FAMILIES), str(quantities))
    check("parser saw the golden reports", count > 1000, str(count))


# ---- the optimisation examples (--loops) ----------------------------------------------------------------

def failing_ccx(work, thickness):
    """A solver that fails for one shape (the mesh writer names the thickness in its first line), else ccx."""
    path = os.path.join(work, "ccx-failing")
    write(path, '#!/bin/sh\ngrep -q ", %s mm thick" bracket_mesh.inp && { echo "refused on purpose"; exit 3; }\n'
                'exec ccx "$@"\n' % thickness)
    os.chmod(path, 0o755)
    return path


def from_report(folder):
    """(mass, stress) texts of an evaluation's report, by plain patterns."""
    lines = report_lines(os.path.join(folder, "params.txt"))
    mass = next(v for n, v in lines if n == "Step_1__Mass")
    stress = max((v for n, v in lines if re.fullmatch(r"Step_2__Frame_\d+__S__mises__enggmax", n)), key=float)
    return mass, stress


def check_scipy_loop(work, examples):
    argv = ["/usr/bin/python3", os.path.join(examples, "optimise-bracket", "optimise.py"), bin_dir, "study",
            "--fast", "--ccx", failing_ccx(work, "16"), "--solve-timeout", "60"]
    first = run(argv, work, timeout=400, fsize=256 << 20, text=True)
    history = os.path.join(work, "study", "history.csv")
    rows = list(csv.DictReader(read(history, "r").splitlines()))
    check("scipy loop: status 0", first.status == 0, f"{first.status}: {first.err[-500:]}")
    check("scipy loop: a few evaluations", 3 <= len(rows) <= 10, str(len(rows)))
    failed = [r for r in rows if r["status"] == "failed"]
    check("scipy loop: the failed solve is a failed evaluation", len(failed) == 1 and failed[0]["t"] == "16.0000"
          and failed[0]["reason"].startswith("ccx: status 3") and failed[0]["mass"] == "", str(failed))
    ok = [r for r in rows if r["status"] == "ok"]
    for r in ok:
        want = from_report(os.path.join(work, "study", r["folder"]))
        check(f"scipy loop: evaluation {r['evaluation']} from its report", (r["mass"], r["stress"]) == want, f"{r}, report {want}")
    best = min((r for r in ok if float(r["stress"]) <= 100), key=lambda r: float(r["mass"]), default=None)
    check("scipy loop: a feasible optimum lighter than the start", best is not None and float(best["t"]) < 12
          and f"optimum: t = {best['t']} mm" in first.out, first.out[-800:])
    check("scipy loop: the optimum's summary", "greatest maxima over the frames" in first.out)
    png = os.path.join(work, "study", "optimise.png")
    check("scipy loop: plot", os.path.exists(png) and read(png)[:8] == b"\x89PNG\r\n\x1a\n")
    before = read(history)
    again = run(argv, work, timeout=400, fsize=256 << 20, text=True)
    check("scipy loop: a rerun solves nothing", again.status == 0 and read(history) == before
          and ", 0 solved," in again.out, again.out[-500:])


def dakota_params(aprepro, t, asv, label, number):
    """A Dakota parameters file in its standard form ('value name' lines) or its APREPRO one."""
    rows = [("variables", "DAKOTA_VARS", 2), ("t", "t", t), ("w", "w", "1.400000000000000e+01"),
            ("functions", "DAKOTA_FNS", 2), ("ASV_1:mass", "ASV_1:mass", asv), (f"ASV_2:{label}", None, 1),
            ("derivative_variables", "DAKOTA_DER_VARS", 2), ("DVV_1:t", None, 1), ("DVV_2:w", None, 2),
            ("analysis_components", "DAKOTA_AN_COMPS", 0), ("eval_id", "DAKOTA_EVAL_ID", number)]
    return "".join(f"{'':20}{{ {name or tag:<15} = {value:>22} }}\n" if aprepro else f"{value:>43} {tag}\n"
                   for tag, name, value in rows)


def check_dakota_driver(work, examples):
    driver = os.path.join(examples, "dakota", "driver")
    env = dict(os.environ, HARVEST_BIN=bin_dir, HARVEST_MESH_DIV="2", CCX=failing_ccx(work, "5"), HARVEST_SOLVE_TIMEOUT="60")
    # form, t, ASV of the mass, second label, then the results file or the status and message
    rows = [(False, "8.000000000000000e+00", 1, "stress", "values"),
            (True, "6.500000000000000e+00", 1, "stress", "values"),
            (True, "5.000000000000000e+00", 1, "stress", "fail\n"),
            (False, "8.000000000000000e+00", 1, "weight", "functions mass weight, the responses give"),
            (False, "8.000000000000000e+00", 3, "stress", "derivatives asked for")]
    for number, (aprepro, t, asv, label, want) in enumerate(rows, 1):
        name = f"dakota driver {number} ({'APREPRO' if aprepro else 'standard'}, t {t[:3]}, {want[:20]!r})"
        write(os.path.join(work, f"params.in.{number}"), dakota_params(aprepro, t, asv, label, number))
        r = run([driver, f"params.in.{number}", f"results.out.{number}"], work, timeout=200, fsize=256 << 20, env=env, text=True)
        results = os.path.join(work, f"results.out.{number}")
        got = read(results, "r") if os.path.exists(results) else None
        if want == "values":
            want = "%s mass\n%s stress\n" % from_report(os.path.join(work, "evals", str(number)))
        solved = (r.status, got) == (0, want) and (want != "fail\n" or f"evaluation {number}: ccx: status 3" in r.err)
        refused = r.status == 1 and got is None and want in r.err   # want: the message, not a results file
        check(name, refused if not want.endswith("\n") else solved, f"{r.status}, {got!r}, {r.err}")


def check_mesh(examples):
    """The mesh writer gives the bundled mesh at 12 by 12 mm, and moves only coordinates for another shape."""
    sys.path.insert(0, os.path.join(examples, "optimise-bracket"))
    import bracket_mesh

    body = lambda text: [line for line in text.splitlines() if not line.startswith("**")]   # noqa: E731 (no comment lines)
    bundled = body(read(os.path.join(examples, "calculix", "bracket_mesh.inp"), "r"))
    check("mesh writer: the bundled mesh", body(bracket_mesh.mesh()) == bundled)
    other = body(bracket_mesh.mesh(8.0, 16.0))
    same_topology = all(a == b or (a[0].isdigit() and a.split(",")[0] == b.split(",")[0]) for a, b in zip(other, bundled))
    nodes = [tuple(map(float, line.split(",")[1:])) for line in other[1:other.index("*ELEMENT, TYPE=C3D8I, ELSET=EALL")]]
    check("mesh writer: another shape", len(other) == len(bundled) and same_topology
          and max(z for _, _, z in nodes) == 8.0 and max(x for x, _, _ in nodes) == 60.0
          and {round(x, 4) for x, y, _ in nodes if y == 60.0} == {round(16.0 * i / 6, 4) for i in range(7)})


if LOOPS:
    for have, package in ((shutil.which("ccx"), "calculix-ccx"), (importlib.util.find_spec("scipy"), "python3-scipy")):
        if not have:
            sys.exit(skip("check_response --loops", "needs %s (scripts/setup %s)" % (package.split("-")[-1], package)))
    check_mesh(cases)
    with scratch("optimise-test-") as folder:
        check_dakota_driver(folder, cases)
        check_scipy_loop(folder, cases)
    sys.exit(finish("check_response --loops"))

with scratch("response-test-") as folder:
    check_table(folder)
    check_marker_and_outputs(folder)
check_parser()
sys.exit(finish("check_response"))
