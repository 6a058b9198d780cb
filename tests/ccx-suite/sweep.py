#!/usr/bin/python3
"""sweep.py CCX2ODB HARVESTODB [DECK...]

The decks of calculix-ccx-test (all, or those named) solved by ccx two at a time under limits, imported with
ccx2odb, reported by harvestodb with every keyword and checked against the solver's files: extremes of U, S and
S_IP per frame, value counts per increment, names that read back. unsolvable.txt lists the decks the solver does
not complete here, restarts.txt those that read another's restart file. HARVEST_CCX_SWEEP_DIR=DIR keeps the solves.
"""
import concurrent.futures, contextlib, gzip, math, os, re, shutil, signal, subprocess, sys, time, types  # noqa: E401
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from harness import ALL_KEYWORDS, check, finish, fresh, read, run, scratch, skip, write  # noqa: E402

FILE_LIMIT, MEMORY_LIMIT = 1 << 30, 6 << 30  # bytes per file any child writes; address space of one solve
TIMEOUT, JOBS = 90, 2  # seconds per solve (an import or report gets four times as long); decks at a time
RESTARTS = {}  # deck -> deck whose restart file it reads


def read_source(decks, name):  # a file of the deck folder, gunzipped when only NAME.gz is there (None if neither)
    path = os.path.join(decks, name)
    return read(path) if os.path.exists(path) else gzip.decompress(read(path + ".gz")) if os.path.exists(path + ".gz") \
        else None


def submodel_inputs(text):  # the result files a deck's *SUBMODEL cards read
    return [m.group(1).decode() for m in re.finditer(rb"(?im)^\*submodel\b.*?\binput\s*=\s*([^,\s]+)", text)]


def solve(deck, decks, work):
    folder = fresh(os.path.join(work, deck))
    write(os.path.join(folder, deck + ".inp"), text := read_source(decks, deck + ".inp"))
    # Files the deck reads (submodel results, restart file): from the deck folder, or written by another deck's solve.
    reads = [(f, os.path.join(work, f[:-4], f)) for f in submodel_inputs(text)]
    reads += [(deck + ".rin", os.path.join(work, RESTARTS[deck], RESTARTS[deck] + ".rout"))] if deck in RESTARTS else []
    for name, made in reads:
        data = read_source(decks, name)
        if (data := read(made) if data is None and os.path.exists(made) else data) is not None:
            write(os.path.join(folder, name), data)
    env = dict(os.environ, OMP_NUM_THREADS="1", CCX_NPROC_EQUATION_SOLVER="1", CCX_NPROC_RESULTS="1")
    r = run(["ccx", "-i", deck], folder, TIMEOUT, FILE_LIMIT, MEMORY_LIMIT, env, text=True)
    write(os.path.join(folder, "solve.log"), r.out + r.err)
    reason = solver_failure(r.status, r.out + r.err)
    write(os.path.join(folder, "solve.txt"), "%s\t%.1f\t%s\n" % ("failed" if reason else "ok", r.seconds, reason))
    return deck, r.seconds, reason


def solver_failure(status, log):  # the reason the solver did not complete, or '' when it did
    if status is None:
        return "takes longer than %d s here" % TIMEOUT
    error = re.search(r"^.*\*ERROR.*(\n(?!.*\*ERROR).*)?", log, re.M)  # the message goes on in the next line
    if error:
        return re.sub(r"\s+", " ", error[0].strip())[:120]
    return ("killed by signal %s" % signal.Signals(-status).name if status < 0 else
            "exit status %d" % status if status else "")


def read_solve(folder):  # (completed, seconds, reason) of an earlier solve in folder, or None
    with contextlib.suppress(OSError, ValueError):
        state, seconds, reason = read(os.path.join(folder, "solve.txt"), "r").rstrip("\n").split("\t")
        return state == "ok", float(seconds), reason


def read_frd(path):
    """(found anything after the header or its end record, result blocks) of an ASCII .frd; a block's
    rows hold the values of each node as written (no computed ALL)."""
    blocks, anything, heads = [], False, 0
    step = increment = mode = block = fmt = section = None
    with open(path, encoding="latin-1", newline="\n") as f:
        for line, words in ((raw.rstrip("\r\n"), raw.split()) for raw in f):
            if not words:
                continue
            key = line[1:3] if line.startswith(" -") else words[0][:4] if words[0].startswith("100C") else words[0]
            anything |= key in ("2C", "3C", "100C", "9999")
            if key in ("2C", "3C", "100C"):
                section, fmt = key, int(words[-1])
                if fmt > 1:
                    raise ValueError("%s: binary .frd blocks are not read here" % path)
            if key == "1PSTEP":
                increment, step, mode = int(words[2]), int(words[3]), None
            elif key == "1PMODE":
                mode = int(words[1])
            elif key == "100C":
                block, last = types.SimpleNamespace(name="", step=step, increment=increment if mode is None else mode,
                                                    value=float(line[12:24]), rows=[], kind=line[56:58].strip(),
                                                    counter=line[58:63].strip()), blocks[-1:]
                heads += 1
                # The importer's rule: the step and increment of the previous block again at another time
                # (an analysis keyword outside *STEP) is the next increment.
                if (last and mode is None and last[0].step == step and block.increment <= last[0].increment
                        and not same_time(last[0].value, block.value)):
                    block.increment = last[0].increment + 1
            elif key == "-4" and section == "100C":
                block.name = line[5:13].strip()
            elif key in ("-1", "-2") and section == "100C":
                start = 3 + (5 if fmt == 0 else 10)
                values = [float(line[i:i + 12]) for i in range(start, len(line), 12) if line[i:i + 12].strip()]
                (block.rows.append if key == "-1" else block.rows[-1].extend)(values)
            elif key == "-3":
                if section == "100C" and block is not None:
                    blocks.append(block)
                section = block = None
    # Blocks of buckling steps (analysis type 4) get the importer's increments: the base state (factor 0) 0,
    # then each result set (the header's output counter) the next one.
    last = None  # the previous buckling block
    for b in blocks if heads == len(blocks) else ():
        if b.kind == "4":
            new = last is None or b.counter != last.counter
            first = last is None or last.step != b.step or (b.value == 0 and last.increment > 0 and new)
            b.increment = int(b.value != 0) if first else last.increment + new
        last = b if b.kind == "4" else None
    return anything, blocks


def mises(t):  # von Mises of rows xx yy zz and three shears (in any order), as float32 values are
    t = np.asarray(t, dtype=np.float32).astype(np.float64)
    return np.sqrt(((t[:, 0] - t[:, 1]) ** 2 + (t[:, 1] - t[:, 2]) ** 2 + (t[:, 2] - t[:, 0]) ** 2) / 2
                   + 3 * (t[:, 3] ** 2 + t[:, 4] ** 2 + t[:, 5] ** 2))


def magnitude(v):
    return np.sqrt((np.asarray(v, dtype=np.float32).astype(np.float64)[:, :3] ** 2).sum(axis=1))


DAT_HEADER = re.compile(r"^\s*(\S.*?)\s*(?:\((.*)\))?\s*for\s*(?:set\s*(\S+)\s+and\s+|all contact elements\s+and\s+)?"
                        r"time\s+(\S+)\s*$")


def read_dat(path):  # printed blocks: (what, set, time, rows of values without their ids)
    blocks, current = [], None  # current: what, set, time, ids per row, rows
    for line in read(path).decode("latin-1").split("\n"):
        m = DAT_HEADER.match(line.rstrip())
        if m:
            what, columns = m.group(1), m.group(2) or ""
            ids = 0 if what.startswith(("total", "center of gravity")) else \
                2 if ("integ.pnt" in columns or "+face" in columns) else 1
            current = (what, m.group(3) or "", float(m.group(4)), ids, [])
            blocks.append(current)
            continue
        words = line.split()
        if current is None or not words:
            current = None if current and current[4] else current  # the blank line after the rows
            continue
        numbers = []
        with contextlib.suppress(ValueError):  # shell rows end in the name of their element set
            for w in words:
                numbers.append(float(w))
        if len(numbers) > current[3] and (len(numbers) == len(words) or current[3]):
            current[4].append(numbers[current[3]:])
        else:
            current = None  # some other table
    return [b[:3] + (b[4],) for b in blocks]


def read_sta(path):  # (step, increment, total time) of each increment the .sta lists
    rows = []
    for line in read(path).decode("latin-1").split("\n") if os.path.exists(path) else []:
        w = line.split()
        if len(w) >= 7 and w[0].isdigit() and w[1].isdigit() and not w[2].endswith("U"):  # U: not converged
            step, inc, t = int(w[0]), int(w[1]), float(w[4])
            if rows and rows[-1][0] == step and inc <= rows[-1][1] and not same_time(rows[-1][2], t):
                inc = rows[-1][1] + 1  # repeated at another time, as in the .frd
            rows.append((step, inc, t))
    return rows


def same_time(a, b):  # times printed with six or seven digits that are the same instant
    return abs(a - b) <= 1e-5 * max(abs(a), abs(b)) + 1e-30


def database_counts(path):
    """{(step, increment): {field: values of .frd kind}}, total .dat-kind values; nodal values spread count once."""
    import h5py
    frames, dat_values = {}, 0
    with h5py.File(path, "r") as db:
        for s, (name, step) in enumerate(db.get("steps", {}).items(), 1):
            s = int(name[5:]) if re.fullmatch(r"Step-\d+", name) else s
            for i, frame in step.get("frames", {}).items():
                counts = frames.setdefault((s, int(frame.attrs.get("incrementNumber", int(i)))), {})
                for name, field in frame.get("fieldOutputs", {}).items():
                    spread = {}  # width -> nodes of the ELEMENT_NODAL blocks
                    for b in field.get("blocks", {}).values():
                        data, position = b["data"], b.attrs["position"]
                        width = data.shape[1] if len(data.shape) == 2 else 1
                        if position in ("NODAL", b"NODAL"):
                            counts[name] = counts.get(name, 0) + data.shape[0] * width
                        elif position in ("ELEMENT_NODAL", b"ELEMENT_NODAL"):
                            spread.setdefault(width, set()).update(b["nodeLabels"][()].tolist())
                        else:
                            dat_values += data.shape[0] * width
                    counts[name] = counts.get(name, 0) + sum(len(nodes) * width for width, nodes in spread.items())
            for region in step.get("historyRegions", {}).values():
                dat_values += sum(o["data"].shape[0] for o in region.get("historyOutputs", {}).values())
    return frames, dat_values


def expected_extremes(frd_blocks, dat_blocks, sta):  # {name without __max/__min: (max, min, scale)} from the solver
    out = {}

    def add(name, values):
        hi, lo = float(np.max(values)), float(np.min(values))
        hi, lo = (max(hi, out[name][0]), min(lo, out[name][1])) if name in out else (hi, lo)
        out[name] = (hi, lo, max(abs(hi), abs(lo)))

    for b in (b for b in frd_blocks if b.step is not None and b.rows):
        rows = np.array(b.rows, dtype=np.float64)
        line = {("DISP", 3): ("U__mag", magnitude), ("STRESS", 6): ("S__mises", mises)}.get((b.name, rows.shape[1]))
        if line:
            add("Step_%d__Frame_%d__%s" % (b.step, b.increment, line[0]), line[1](rows))
    for what, _, t, rows in dat_blocks:
        # the (step, increment) whose total time is nearest t, within the .sta's six digits
        near = min(sta, key=lambda row: abs(row[2] - t), default=None)
        if what == "stresses" and rows and near and same_time(near[2], t) and all(len(r) == 6 for r in rows):
            add("Step_%d__Frame_%d__S_IP__mises" % near[:2], mises(np.array(rows)))
    return out


def compare_extremes(expected, report, fail):  # params.txt against the expected extremes; how many lines compared
    params = {}
    for name, _, value in (line.partition("\t") for line in read(report, "r").splitlines()):
        with contextlib.suppress(ValueError):  # history lines hold (time, value) pairs
            params[name] = float(value)
    for name, (hi, lo, scale) in sorted(expected.items()):
        for suffix, want in (("__max", hi), ("__min", lo)):
            got = params.get(name + suffix)
            if got is None:
                fail("extreme", "no line %s%s (expected %.6g)" % (name, suffix, want))
            elif not (abs(got - want) <= 2e-5 * abs(want) + 1e-6 * scale or (math.isnan(got) and math.isnan(want))):
                fail("extreme", "%s%s is %.6g, the solver's files give %.6g" % (name, suffix, got, want))
    return 2 * len(expected)


def compare_counts(frd_blocks, dat_blocks, db_path, fail):
    frames, dat_in_db, in_frd = *database_counts(db_path), {}
    for b in frd_blocks:
        in_frd[b.step, b.increment] = in_frd.get((b.step, b.increment), 0) + sum(len(r) for r in b.rows)
    for key, in_file in in_frd.items():
        if in_file != sum(frames.get(key, {}).values()):
            fail("count", "step %s increment %s: .frd %d values, database %s" % (*key, in_file, frames.get(key)))
    if (in_file := sum(len(r) for b in dat_blocks for r in b[3])) != dat_in_db:
        fail("count", ".dat has %d values, the database %d (element fields and history)" % (in_file, dat_in_db))


def check_deck(deck, folder, exes):
    """Imports, reports and checks one solved deck: a dict of what happened, with its failures."""
    solved = read_solve(folder)
    r = {"deck": deck, "solved": bool(solved and solved[0]), "reason": solved[2] if solved else "not solved",
         "seconds": solved[1] if solved else 0.0, "imported": False, "checked": False, "lines": 0, "failures": []}
    try:
        import_and_check(deck, folder, exes, solved, r, lambda *f: r["failures"].append(f))
    except Exception as e:  # a file this script cannot read is a finding too, not the end of the sweep
        r["failures"].append(("harness", "%s: %s" % (type(e).__name__, e)))
    return r


def import_and_check(deck, folder, exes, solved, r, fail):
    if not solved or solved[2].startswith(("takes longer", "killed by")):
        return  # stopped at any point of writing: nothing to hold the importer to
    frd, odb, dat = (os.path.join(folder, deck + ext) for ext in (".frd", ".odb", ".dat"))
    anything, frd_blocks = read_frd(frd) if os.path.exists(frd) else (False, [])
    [os.remove(os.path.join(folder, f)) for f in os.listdir(folder) if f.endswith(".odb") or ".odb.tmp" in f]
    imp = run([exes[0], deck], folder, 4 * TIMEOUT, FILE_LIMIT, text=True)
    if os.path.exists(frd) and not anything:
        # The solver stopped before it wrote anything: the import must say so and write nothing.
        # (A header and the end record is a complete file without results.)
        if imp.status == 0 or "unexpected end of file" in imp.err or os.path.exists(odb):
            fail("import", "a .frd with only its header: status %s, %s" % (imp.status, imp.err.strip() or "no message"))
        return
    if imp.status != 0:
        return fail("import", "status %s: %s" % (imp.status, imp.err.strip()[-300:]))
    r["imported"] = True
    write(os.path.join(report := fresh(os.path.join(folder, "report")), "all.cfg"), ALL_KEYWORDS)
    rep = run([exes[1], "-odb", f"../{deck}.odb", "-config", "all.cfg"], report, 4 * TIMEOUT, FILE_LIMIT, text=True)
    if rep.status != 0 or not os.path.exists(os.path.join(report, "paramsdone.txt")):
        return fail("report", "status %s: %s" % (rep.status, rep.err.strip()[-300:]))
    dat_blocks, params = read_dat(dat) if os.path.exists(dat) else [], os.path.join(report, "params.txt")
    expected = expected_extremes(frd_blocks, dat_blocks, read_sta(os.path.join(folder, deck + ".sta")))
    r["lines"] = compare_extremes(expected, params, fail)
    check_names_read_back(params, fail)
    compare_counts(frd_blocks, dat_blocks, odb, fail)
    r["checked"] = True


def check_names_read_back(params, fail):
    """Every line of a report through the parser of harvest-plot and harvest-response: a known family, the same
    name built again from the parsed parts, and no name twice (a script reading the report into a dictionary would
    keep one silently)."""
    import harvestodb.report as hr
    seen = set()
    for name, _, rec in hr.read_params(params).entries:
        if rec is None or hr.name_of(rec) != name:
            fail("names", "%s reads back as %s" % (name, hr.name_of(rec) if rec else "no known line"))
        if name in seen:
            fail("names", "%s appears twice in params.txt" % name)
        seen.add(name)


def read_list(name):  # deck -> the solver's reason, from lines 'deck<TAB>reason' ('#' starts a comment)
    lines = [line.split("#", 1)[0].rstrip() for line in read(os.path.join(HERE, name), "r").splitlines()]
    return {d.strip(): reason.strip() for d, _, reason in (line.partition("\t") for line in lines if line)}


def solve_all(decks, names, work):  # solves names into work; decks that read another deck's results wait for it
    later = {n for n in names if n in RESTARTS or any(
        f[:-4] in names for f in submodel_inputs(read_source(decks, n + ".inp")))}
    for batch in ([n for n in names if n not in later], [n for n in names if n in later]):
        with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
            for done in concurrent.futures.as_completed([pool.submit(solve, n, decks, work) for n in batch]):
                print("solved %-24s %7.1f s %s" % done.result(), flush=True)


def main():
    if len(sys.argv) < 3 or sys.argv[1].startswith("-"):
        sys.exit(__doc__)
    exes, only, keep = [os.path.abspath(a) for a in sys.argv[1:3]], sys.argv[3:], os.getenv("HARVEST_CCX_SWEEP_DIR")
    # the folder where Debian's calculix-ccx-test put its decks
    files = subprocess.run(["dpkg", "-L", "calculix-ccx-test"], capture_output=True, text=True).stdout.split()
    decks = next((os.path.dirname(f) for f in files if f.endswith((".inp", ".inp.gz"))), None)
    if not shutil.which("ccx") or not decks:
        return skip("ccx-suite", "needs ccx and the decks of calculix-ccx-test")
    names = sorted({f[:-len(ext)] for f in os.listdir(decks) for ext in (".inp", ".inp.gz") if f.endswith(ext)})
    names = [n for n in only if n in names] if only else names
    RESTARTS.update(read_list("restarts.txt"))
    sys.path.insert(0, os.path.join(os.path.dirname(exes[1]), "..", "python"))  # the package beside the bin folder
    listed = read_list("unsolvable.txt")
    with (contextlib.nullcontext(keep) if keep else scratch("ccx-sweep-")) as work:
        os.makedirs(work, exist_ok=True)
        start = time.monotonic()
        solve_all(decks, [n for n in names if not keep or read_solve(os.path.join(work, n)) is None], work)
        solved_in = time.monotonic() - start
        with concurrent.futures.ProcessPoolExecutor(JOBS) as pool:
            results = list(pool.map(check_deck, names, [os.path.join(work, n) for n in names], [exes] * len(names)))
    for r in results:
        reason = listed.get(r["deck"])
        check("%s solve" % r["deck"], r["solved"] or reason is not None,
              "the solver fails here and the deck is not listed: " + r["reason"])
        for stage, message in r["failures"]:
            check("%s %s" % (r["deck"], stage), False, message)
        if r["solved"] and reason is not None:
            print("NOTE %-22s listed (%s) but now solves%s" % (r["deck"], reason, "" if r["failures"] else
                                                             ": take it off the list"))
    print("ccx-suite: %d decks, %d solved, %d listed as unsolvable, %d imported, %d checked, %d extreme lines compared"
          % (len(results), sum(r["solved"] for r in results), sum(r["deck"] in listed for r in results),
             *(sum(r[k] for r in results) for k in ("imported", "checked", "lines"))))
    slowest = max(results, key=lambda r: r["seconds"], default={"seconds": 0, "deck": "-"})
    print("seconds: %.0f solving, %.0f checking, %.0f the slowest solve (%s)" % (
        solved_in, time.monotonic() - start - solved_in, slowest["seconds"], slowest["deck"]))
    return finish("ccx-suite")


if __name__ == "__main__":
    sys.exit(main())
