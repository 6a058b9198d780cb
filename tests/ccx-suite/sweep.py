#!/usr/bin/python3
"""Solves every deck of the solver's test suite, imports each with ccx2odb, reports it
with harvestodb (every keyword on) and checks the database against the solver's files.

  sweep.py --ccx2odb EXE --harvestodb EXE --unsolvable LIST --restarts LIST [--work DIR] [--only a,b]

Per deck, in a folder of its own: the solve (ccx under a time limit and a file-size
limit, two decks at a time), the import, the report, then three checks, each computed
from the solver's files by this script alone:
  import   the import succeeds whenever the solver left results, also when it stopped on
           an error; a .frd that stops after its header is refused with a message other
           than "unexpected end of file" (a solve killed by a signal or by the time limit
           may stop anywhere and is not imported);
  extreme  the whole-model extremes of U (magnitude) and S (von Mises) of every frame in
           params.txt agree with the .frd, those of S_IP with the stresses of the .dat;
  count    each frame holds as many values as the .frd blocks of its increment, and the
           element fields and histories as many as the .dat blocks.
Decks the solver does not complete here are listed in LIST ("deck<TAB>reason"); a deck
missing from it that fails to solve is a failure, and so is a listed one that solves
but does not import; what a listed deck left is checked like any other. Decks that read
another deck's restart file are listed in the --restarts list ("deck<TAB>writer") and
solved after it. The summary table comes last.

Without --work everything happens in a temporary folder that is deleted at the end.
With --work DIR (or HARVEST_CCX_SWEEP_DIR=DIR) the solves are kept in DIR/<deck>/ and a
later run checks them again without solving: rebuild the importer, run again, and only
the import and the checks are repeated (--solve-again solves them anew).
"""

import argparse
import concurrent.futures
import gzip
import math
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np

FILE_LIMIT = 1 << 30  # bytes per file any child may write
MEMORY_LIMIT = 6 << 30  # address space of one solver run

CONFIG = """ODB EXTRACTIONS
EXTRACT_MASS
EXTRACT_HISTORY
MINMAX_HISTORY
EXTRACT_FIELD
EXTRACT_ALL
EXTRACT_SPATIAL
EXTRACT_ELEMENT
EXTRACT_STRESS
EXTRACT_FIELD_SETS
EXTRACT_FIELD_COMPONENTS
ENGINEERING_MAX
ENGINEERING_MIN
TENSOR_INVARIANTS
ABSOLUTE_MAX
ABSOLUTE_MIN
PERCENTAGE=5
"""


def limit_child(nice, memory, seconds):
    def apply():
        # A CPU limit too, so that a child orphaned by a killed sweep still ends by itself.
        resource.setrlimit(resource.RLIMIT_CPU, (seconds, seconds))
        resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_LIMIT, FILE_LIMIT))
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        if memory:  # not for our own programs: a sanitizer build reserves terabytes of address space
            resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
        if nice:
            os.nice(nice)
    return apply


def run(cmd, cwd, timeout, nice=0, env=None, memory=None):
    """Runs cmd in its own process group; returns (status or None on timeout, stdout, stderr, seconds)."""
    start = time.monotonic()
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                         start_new_session=True, preexec_fn=limit_child(nice, memory, int(timeout) + 10), env=env)
    try:
        out, err = p.communicate(timeout=timeout)
        status = p.returncode
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, err = p.communicate()
        status = None
    return status, out.decode(errors="replace"), err.decode(errors="replace"), time.monotonic() - start


# ---------------------------------------------------------------------------------------------- solving

def deck_names(decks):
    names = set()
    for f in os.listdir(decks):
        for ext in (".inp", ".inp.gz"):
            if f.endswith(ext):
                names.add(f[:-len(ext)])
    return sorted(names)


def read_source(decks, name):
    """The bytes of a file of the deck folder, gunzipped when only NAME.gz is there (None if neither)."""
    path = os.path.join(decks, name)
    if os.path.exists(path):
        with open(path, "rb") as f:
            return f.read()
    if os.path.exists(path + ".gz"):
        with gzip.open(path + ".gz", "rb") as f:
            return f.read()
    return None


RESTARTS = {}  # deck -> deck whose restart file it reads (--restarts)


def submodel_inputs(text):
    """The result files a deck's *SUBMODEL cards read."""
    return [m.group(1).decode() for m in re.finditer(rb"(?im)^\*submodel\b.*?\binput\s*=\s*([^,\s]+)", text)]


def solve(deck, decks, work, timeout, nice):
    folder = os.path.join(work, deck)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    text = read_source(decks, deck + ".inp")
    with open(os.path.join(folder, deck + ".inp"), "wb") as f:
        f.write(text)
    # Files the deck reads: from the deck folder, or written by solving another deck first.
    for f in submodel_inputs(text):
        data = read_source(decks, f)
        made = os.path.join(work, f[:-4], f)
        if data is None and os.path.exists(made):
            with open(made, "rb") as src:
                data = src.read()
        if data is not None:
            with open(os.path.join(folder, f), "wb") as dst:
                dst.write(data)
    if deck in RESTARTS:
        made = os.path.join(work, RESTARTS[deck], RESTARTS[deck] + ".rout")
        if os.path.exists(made):
            shutil.copy(made, os.path.join(folder, deck + ".rin"))
    env = dict(os.environ, OMP_NUM_THREADS="1", CCX_NPROC_EQUATION_SOLVER="1", CCX_NPROC_RESULTS="1")
    status, out, err, seconds = run(["ccx", "-i", deck], folder, timeout, nice, env, MEMORY_LIMIT)
    with open(os.path.join(folder, "solve.log"), "w") as f:
        f.write(out + err)
    reason = solver_failure(status, out + err, timeout)
    with open(os.path.join(folder, "solve.txt"), "w") as f:
        f.write("%s\t%.1f\t%s\n" % ("ok" if not reason else "failed", seconds, reason))
    return deck, reason, seconds


def solver_failure(status, log, timeout):
    """The reason the solver did not complete, or '' when it did."""
    if status is None:
        return "takes longer than %d s here" % timeout
    lines = log.splitlines()
    for i, line in enumerate(lines):
        if "*ERROR" in line:  # the message goes on in the next line
            more = lines[i + 1].strip() if i + 1 < len(lines) and "*ERROR" not in lines[i + 1] else ""
            return re.sub(r"\s+", " ", (line.strip() + " " + more).strip())[:120]
    if status < 0:
        return "killed by signal %s" % signal.Signals(-status).name
    if status != 0:
        return "exit status %d" % status
    return ""


def read_solve(folder):
    """(completed, seconds, reason) of an earlier solve in folder, or None."""
    try:
        with open(os.path.join(folder, "solve.txt")) as f:
            state, seconds, reason = f.read().rstrip("\n").split("\t")
    except (OSError, ValueError):
        return None
    return state == "ok", float(seconds), reason


# ---------------------------------------------------------------------------------------------- .frd

class FrdBlock:
    def __init__(self, step, increment, value):
        self.name, self.step, self.increment, self.value = "", step, increment, value
        self.nodes, self.rows = [], []  # rows: the values of each node as written (no computed ALL)


def read_frd(path):
    """(found anything after the header or its end record, result blocks) of an ASCII .frd."""
    blocks = []
    anything = False
    step = increment = mode = None
    block = fmt = section = None
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\r\n")
            words = line.split()
            if not words:
                continue
            key = line[1:3] if line.startswith(" -") else words[0][:4] if words[0].startswith("100C") else words[0]
            if key in ("2C", "3C"):
                anything, section, fmt = True, key, int(words[-1])
                if fmt > 1:
                    raise ValueError("%s: binary .frd blocks are not read here" % path)
            elif key == "9999":
                anything = True
            elif key == "1PSTEP":
                increment, step, mode = int(words[2]), int(words[3]), None
            elif key == "1PMODE":
                mode = int(words[1])
            elif key == "100C":
                anything, section, fmt = True, "100C", int(words[-1])
                if fmt > 1:
                    raise ValueError("%s: binary .frd blocks are not read here" % path)
                modal = mode is not None
                block = FrdBlock(step, mode if modal else increment, float(line[12:24]))
                last = blocks[-1] if blocks else None
                # The importer's rule: the step and increment of the previous block again at another time
                # (an analysis keyword outside *STEP) is the next increment.
                if (last and not modal and last.step == step and block.increment <= last.increment
                        and not same_time(last.value, block.value)):
                    block.increment = last.increment + 1
            elif key == "-4" and section == "100C":
                block.name = line[5:13].strip()
            elif key in ("-1", "-2"):
                width = 5 if fmt == 0 else 10
                if section == "100C":
                    values = [float(line[i:i + 12]) for i in range(3 + width, len(line), 12) if line[i:i + 12].strip()]
                    if key == "-1":
                        block.nodes.append(int(line[3:3 + width]))
                        block.rows.append(values)
                    else:
                        block.rows[-1].extend(values)
            elif key == "-3":
                if section == "100C" and block is not None:
                    blocks.append(block)
                section = block = None
    return anything, blocks


def mises(t):
    """von Mises of rows xx yy zz and three shears (in any order), as float32 values are."""
    t = np.asarray(t, dtype=np.float32).astype(np.float64)
    return np.sqrt(((t[:, 0] - t[:, 1]) ** 2 + (t[:, 1] - t[:, 2]) ** 2 + (t[:, 2] - t[:, 0]) ** 2) / 2
                   + 3 * (t[:, 3] ** 2 + t[:, 4] ** 2 + t[:, 5] ** 2))


def magnitude(v):
    v = np.asarray(v, dtype=np.float32).astype(np.float64)
    return np.sqrt((v[:, :3] ** 2).sum(axis=1))


# ---------------------------------------------------------------------------------------------- .dat, .sta

DAT_HEADER = re.compile(r"^\s*(\S.*?)\s*(?:\((.*)\))?\s*for\s*(?:set\s*(\S+)\s+and\s+|all contact elements\s+and\s+)?"
                        r"time\s+(\S+)\s*$")


def read_dat(path):
    """Printed blocks: (what, set, time, rows of values without their ids)."""
    blocks = []
    current = None
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip()
            m = DAT_HEADER.match(line)
            if m:
                what, columns = m.group(1), m.group(2) or ""
                ids = 0 if what.startswith(("total", "center of gravity")) else 2 if ("integ.pnt" in columns or "+face" in columns) else 1
                current = (what, m.group(3) or "", float(m.group(4)), ids, [], "+face" in columns)
                blocks.append(current)
                continue
            words = line.split()
            if current is None:
                continue
            if not words:
                if current[4]:
                    current = None  # the blank line after the rows
                continue
            numbers = []
            for w in words:  # shell rows end in the name of their element set
                try:
                    numbers.append(float(w))
                except ValueError:
                    break
            if len(numbers) > current[3] and (len(numbers) == len(words) or current[3]):
                current[4].append(numbers[current[3]:])
            else:
                current = None  # some other table
    return [b[:3] + (b[4],) for b in blocks]


def read_sta(path):
    """(step, increment, total time) of each increment the .sta lists."""
    rows = []
    if not os.path.exists(path):
        return rows
    with open(path, "rb") as f:
        for raw in f:
            w = raw.decode("latin-1").split()
            if len(w) >= 7 and w[0].isdigit() and w[1].isdigit() and not w[2].endswith("U"):  # U: not converged
                step, inc, t = int(w[0]), int(w[1]), float(w[4])
                if rows and rows[-1][0] == step and inc <= rows[-1][1] and not same_time(rows[-1][2], t):
                    inc = rows[-1][1] + 1  # repeated at another time, as in the .frd
                rows.append((step, inc, t))
    return rows


def same_time(a, b):
    """Times printed with six or seven digits that are the same instant."""
    return abs(a - b) <= 1e-5 * max(abs(a), abs(b)) + 1e-30


def sta_increment(sta, t):
    """The (step, increment) whose total time is nearest t, within the .sta's six digits, or None."""
    best = min(sta, key=lambda row: abs(row[2] - t), default=None)
    if best is None or not same_time(best[2], t):
        return None
    return best[:2]


# ---------------------------------------------------------------------------------------------- the database

def database_counts(path):
    """{(step number, increment): {field: values of .frd kind}} and the total of .dat-kind values.
    A nodal value spread over the elements at its node counts once."""
    import h5py
    frames, dat_values = {}, 0
    with h5py.File(path, "r") as db:
        for s, (name, step) in enumerate(db.get("steps", {}).items(), 1):
            s = int(name[5:]) if re.fullmatch(r"Step-\d+", name) else s
            for i, frame in step.get("frames", {}).items():
                inc = int(frame.attrs.get("incrementNumber", int(i)))
                counts = frames.setdefault((s, inc), {})
                for name, field in frame.get("fieldOutputs", {}).items():
                    spread = {}  # width -> nodes of the ELEMENT_NODAL blocks
                    for b in field.get("blocks", {}).values():
                        data = b["data"]
                        width = data.shape[1] if len(data.shape) == 2 else 1
                        position = b.attrs["position"]
                        position = position.decode() if isinstance(position, bytes) else position
                        if position == "NODAL":
                            counts[name] = counts.get(name, 0) + data.shape[0] * width
                        elif position == "ELEMENT_NODAL":
                            spread.setdefault(width, set()).update(b["nodeLabels"][()].tolist())
                        else:
                            dat_values += data.shape[0] * width
                    for width, nodes in spread.items():
                        counts[name] = counts.get(name, 0) + len(nodes) * width
            for region in step.get("historyRegions", {}).values():
                for output in region.get("historyOutputs", {}).values():
                    dat_values += output["data"].shape[0]
    return frames, dat_values


# ---------------------------------------------------------------------------------------------- one deck

def read_params(path):
    params = {}
    with open(path) as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("\t")
            try:
                params[name] = float(value)
            except ValueError:
                pass  # history lines hold (time, value) pairs
    return params


def compare_extremes(expected, params, failures):
    """expected: {line name without __max/__min: (max, min, scale)}; returns how many lines were checked."""
    checked = 0
    for name, (hi, lo, scale) in sorted(expected.items()):
        for suffix, want in (("__max", hi), ("__min", lo)):
            got = params.get(name + suffix)
            if got is None:
                failures.append(("extreme", "no line %s%s (expected %.6g)" % (name, suffix, want)))
            elif not (abs(got - want) <= 2e-5 * abs(want) + 1e-6 * scale or (math.isnan(got) and math.isnan(want))):
                failures.append(("extreme", "%s%s is %.6g, the solver's files give %.6g" % (name, suffix, got, want)))
            checked += 1
    return checked


def expected_extremes(frd_blocks, dat_blocks, sta):
    out = {}

    def add(name, values):
        if len(values) == 0:
            return
        hi, lo = float(np.max(values)), float(np.min(values))
        if name in out:
            hi, lo = max(hi, out[name][0]), min(lo, out[name][1])
        out[name] = (hi, lo, max(abs(hi), abs(lo)))

    for b in frd_blocks:
        if b.step is None or not b.rows:
            continue
        frame = "Step_%d__Frame_%d__" % (b.step, b.increment)
        rows = np.array(b.rows, dtype=np.float64)
        if b.name == "DISP" and rows.shape[1] == 3:
            add(frame + "U__mag", magnitude(rows))
        elif b.name == "STRESS" and rows.shape[1] == 6:
            add(frame + "S__mises", mises(rows))
    for what, _, t, rows in dat_blocks:
        hit = sta_increment(sta, t)
        if what == "stresses" and rows and hit and all(len(r) == 6 for r in rows):
            add("Step_%d__Frame_%d__S_IP__mises" % hit, mises(np.array(rows)))
    return out


def compare_counts(frd_blocks, dat_blocks, db_path, failures):
    frames, dat_in_db = database_counts(db_path)
    file_frames = {}
    for b in frd_blocks:
        key = (b.step, b.increment)
        file_frames.setdefault(key, []).append(b)
    for key, blocks in sorted(file_frames.items(), key=lambda kv: tuple(-1 if k is None else k for k in kv[0])):
        in_file = sum(len(r) for b in blocks for r in b.rows)
        in_db = sum(frames.get(key, {}).values())
        if in_file != in_db:
            what = " ".join("%s:%d" % (b.name, sum(len(r) for r in b.rows)) for b in blocks)
            fields = ["%s:%d" % kv for kv in sorted(frames.get(key, {}).items())]
            fields = " ".join(fields[:12] + (["..."] if len(fields) > 12 else [])) or "no frame"
            failures.append(("count", "step %s increment %s: .frd has %d values (%s), the database %d (%s)"
                             % (key[0], key[1], in_file, what, in_db, fields)))
    in_file = sum(len(r) for b in dat_blocks for r in b[3])
    if in_file != dat_in_db:
        kinds = {}
        for what, _, _, rows in dat_blocks:
            kinds[what] = kinds.get(what, 0) + sum(len(r) for r in rows)
        failures.append(("count", ".dat has %d values (%s), the database %d (element fields and history)"
                         % (in_file, ", ".join("%s:%d" % kv for kv in sorted(kinds.items())), dat_in_db)))


def check_deck(deck, folder, exes, timeout):
    """Imports, reports and checks one solved deck: a dict of what happened, with its failures."""
    try:
        return import_and_check(deck, folder, exes, timeout)
    except Exception as e:  # a file this script cannot read is a finding too, not the end of the sweep
        return {"deck": deck, "solved": bool(read_solve(folder) and read_solve(folder)[0]), "imported": False,
                "reason": "", "checked": False, "failures": [("harness", "%s: %s" % (type(e).__name__, e))]}


def import_and_check(deck, folder, exes, timeout):
    solved = read_solve(folder)
    r = {"deck": deck, "solved": bool(solved and solved[0]), "reason": solved[2] if solved else "not solved",
         "seconds": solved[1] if solved else 0.0, "imported": False, "checked": False, "failures": []}
    if not solved or solved[2].startswith(("takes longer", "killed by")):
        return r  # stopped at any point of writing: nothing to hold the importer to
    fail = r["failures"]
    frd = os.path.join(folder, deck + ".frd")
    frd_data = read_frd(frd) if os.path.exists(frd) else (False, [])
    for f in os.listdir(folder):
        if f.endswith(".odb") or ".odb.tmp" in f:
            os.remove(os.path.join(folder, f))
    status, _, err, _ = run([exes.ccx2odb, deck], folder, timeout)
    odb = os.path.join(folder, deck + ".odb")
    if os.path.exists(frd) and not frd_data[0]:
        # The solver stopped before it wrote anything: the import must say so and write nothing.
        # (A header and the end record is a complete file without results.)
        if status == 0 or "unexpected end of file" in err or os.path.exists(odb):
            fail.append(("import", "a .frd with only its header: status %s, %s" % (status, err.strip() or "no message")))
        return r
    if status != 0:
        fail.append(("import", "status %s: %s" % (status, err.strip()[-300:])))
        return r
    r["imported"] = True
    report = os.path.join(folder, "report")
    shutil.rmtree(report, ignore_errors=True)
    os.makedirs(report)
    with open(os.path.join(report, "all.cfg"), "w") as f:
        f.write(CONFIG)
    status, _, err, _ = run([exes.harvestodb, "-odb", "../" + deck + ".odb", "-config", "all.cfg"], report, timeout)
    if status != 0 or not os.path.exists(os.path.join(report, "paramsdone.txt")):
        fail.append(("report", "status %s: %s" % (status, err.strip()[-300:])))
        return r
    dat = os.path.join(folder, deck + ".dat")
    dat_blocks = read_dat(dat) if os.path.exists(dat) else []
    expected = expected_extremes(frd_data[1], dat_blocks, read_sta(os.path.join(folder, deck + ".sta")))
    r["lines"] = compare_extremes(expected, read_params(os.path.join(report, "params.txt")), fail)
    compare_counts(frd_data[1], dat_blocks, odb, fail)
    r["checked"] = True
    return r


def installed_decks():
    """The folder where Debian's calculix-ccx-test put its decks, or None."""
    try:
        files = subprocess.run(["dpkg", "-L", "calculix-ccx-test"], capture_output=True, text=True).stdout.split()
    except OSError:
        return None
    return next((os.path.dirname(f) for f in files if f.endswith((".inp", ".inp.gz"))), None)


def solve_all(decks, names, work, timeout, jobs, nice, log):
    """Solves names into work; decks that read another deck's results wait for it."""
    texts = {n: read_source(decks, n + ".inp") for n in names}
    later = {n for n in names if n in RESTARTS or any(f[:-4] in names for f in submodel_inputs(texts[n]))}
    for batch in ([n for n in names if n not in later], [n for n in names if n in later]):
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            futures = [pool.submit(solve, n, decks, work, timeout, nice) for n in batch]
            for fut in concurrent.futures.as_completed(futures):
                deck, reason, seconds = fut.result()
                log("solved %-24s %7.1f s %s" % (deck, seconds, reason))


def read_list(path):
    """deck -> the solver's reason, from lines 'deck<TAB>reason' ('#' starts a comment)."""
    listed = {}
    if path and os.path.exists(path):
        with open(path) as f:
            for line in f:
                line = line.split("#", 1)[0].rstrip()
                if line:
                    deck, _, reason = line.partition("\t")
                    listed[deck.strip()] = reason.strip()
    return listed


def judge(results, listed):
    """Adds the failures that come from comparing the solves with the list."""
    for r in results:
        reason = listed.get(r["deck"])
        if not r["solved"] and reason is None:
            r["failures"].insert(0, ("solve", "the solver fails here and the deck is not listed: " + r["reason"]))
        elif r["solved"] and reason is not None:
            r["note"] = "listed (%s) but now solves%s" % (reason, "" if r["failures"] else ": take it off the list")


def summary(results, listed, out):
    solved = sum(r["solved"] for r in results)
    rows = [("decks", len(results)), ("solved", solved), ("listed as unsolvable", sum(r["deck"] in listed for r in results)),
            ("imported", sum(r["imported"] for r in results)), ("checked", sum(r["checked"] for r in results)),
            ("extreme lines compared", sum(r.get("lines", 0) for r in results)),
            ("failed", sum(bool(r["failures"]) for r in results))]
    for r in results:
        for stage, message in r["failures"]:
            print("FAIL %-22s %-8s %s" % (r["deck"], stage, message), file=out)
        if r.get("note"):
            print("NOTE %-22s %s" % (r["deck"], r["note"]), file=out)
    print("\n%-24s %6s" % ("ccx-suite", "count"), file=out)
    for name, n in rows:
        print("%-24s %6d" % (name, n), file=out)
    slowest = max(results, key=lambda r: r.get("seconds", 0.0), default=None)
    if slowest:
        print("%-24s %6.0f  (%s)" % ("seconds of slowest solve", slowest.get("seconds", 0.0), slowest["deck"]), file=out)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--decks", help="folder of the decks (default: where calculix-ccx-test put them)")
    ap.add_argument("--ccx2odb", help="the importer to check")
    ap.add_argument("--harvestodb", help="the program that reports the imported databases")
    ap.add_argument("--unsolvable", help="the list of decks the solver does not complete here")
    ap.add_argument("--restarts", help="the list of decks that read the restart file of another (deck<TAB>writer)")
    ap.add_argument("--work", default=os.environ.get("HARVEST_CCX_SWEEP_DIR"),
                    help="keep the solved decks here and check the ones solved before again without solving them")
    ap.add_argument("--solve-again", action="store_true", help="solve every deck even when --work holds its solve")
    ap.add_argument("--solve-only", action="store_true", help="solve into --work, check nothing")
    ap.add_argument("--timeout", type=int, default=90, help="seconds per solve (default 90)")
    ap.add_argument("--jobs", type=int, default=2, help="decks at a time (default 2)")
    ap.add_argument("--nice", type=int, default=0, help="niceness of the solver runs")
    ap.add_argument("--only", help="comma-separated decks")
    ap.add_argument("--failures", help="write deck<TAB>stage<TAB>message of every failure to this file")
    args = ap.parse_args()
    if not args.solve_only and not (args.ccx2odb and args.harvestodb):
        ap.error("--ccx2odb and --harvestodb are needed unless --solve-only")
    args.decks = args.decks or installed_decks()
    if not shutil.which("ccx") or not args.decks:
        print("ccx-suite: skipped: needs ccx and the decks of calculix-ccx-test")
        return 77
    names = deck_names(args.decks)
    RESTARTS.update(read_list(args.restarts))
    if args.only:
        names = [n for n in args.only.split(",") if n in names]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # so that the temporary folder goes too
    work = args.work or tempfile.mkdtemp(prefix="ccx-sweep-")
    os.makedirs(work, exist_ok=True)
    try:
        todo = names
        if args.work and not args.solve_again:
            todo = [n for n in names if read_solve(os.path.join(work, n)) is None]
        start = time.monotonic()
        solve_all(args.decks, todo, work, args.timeout, args.jobs, args.nice, lambda m: print(m, flush=True))
        if args.solve_only:
            return 0
        solved_in = time.monotonic() - start
        with concurrent.futures.ProcessPoolExecutor(args.jobs) as pool:
            futures = [pool.submit(check_deck, n, os.path.join(work, n), args, 4 * args.timeout) for n in names]
            results = [f.result() for f in futures]
        listed = read_list(args.unsolvable)
        judge(results, listed)
        summary(results, listed, sys.stdout)
        print("%-24s %6.0f\n%-24s %6.0f" % ("seconds solving", solved_in, "seconds checking",
                                           time.monotonic() - start - solved_in))
        if args.failures:
            with open(args.failures, "w") as f:
                f.write("# deck\tstage\tmessage\n")
                for r in results:
                    for stage, message in r["failures"]:
                        f.write("%s\t%s\t%s\n" % (r["deck"], stage, message.replace("\n", " | ")))
        return 1 if any(r["failures"] for r in results) else 0
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
