#!/usr/bin/python3
"""check_batch.py local|slurm|kill HARVEST_MANY ODBGEN HARVESTODB

local: harvest-many on 2 jobs (resume, --merge, CSV quoting, kills, identity of a run, a folder in use, the
command line) and harvest-run's table. slurm: the batch as a job array on a one-node cluster of its own (77
where it cannot start). kill: harvest-run and harvest-many killed at random moments, then run again.
"""
import contextlib, csv, fcntl, hashlib, os, random, resource, shutil, signal, socket, subprocess, sys, tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import harness  # noqa: E402
from harness import check, finish, fresh, present, read, run, scratch, skip, write  # noqa: E402

CONFIG = "ODB EXTRACTIONS\nEXTRACT_MASS\nEXTRACT_HISTORY\nMINMAX_HISTORY\nEXTRACT_FIELD\nEXTRACT_STRESS\n" \
         "ENGINEERING_MAX\nPERCENTAGE=5\n"
# path, odbgen arguments (None: a text file; "missing": no file), output folder
BATCH = [(f"p{i:02}.odb", ["--seed", str(i)] + (["--steps", "2"] if i % 7 == 3 else []), f"p{i:02}")
         for i in range(1, 18)] + [
    ("a/job.odb", ["--seed", "31"], "a__job"),
    ("b/job.odb", ["--seed", "32", "--steps", "2"], "b__job"),
    ('odd, "name".odb', ["--seed", "33"], 'odd, "name"'),
    ("notadb.odb", None, "notadb"),
    ('gone, "really".odb', "missing", 'gone, "really"'),
]
SLURM_BATCH = BATCH[:4] + BATCH[17:19]  # p01-p04, a/job.odb, b/job.odb
SBIN = os.environ["PATH"] + ":/usr/sbin:/sbin"


def at(*path):  # a path in the scratch folder, where every harvest-many runs
    return os.path.join(WORK, *path)


def make_databases(batch, config="config.txt"):
    """Writes the batch (files there already stay) and runs each database once alone with the
    configuration; returns {path: (params, done, message)}."""
    reference = {}
    for path, args, _ in batch:
        os.makedirs(os.path.dirname(at(path)), exist_ok=True)
        if args is None and not os.path.exists(at(path)):
            write(at(path), "not a database\n")
        elif args not in (None, "missing") and not os.path.exists(at(path)):
            check(f"odbgen {path}", run([ODBGEN, "--size", "30"] + args + [at(path)]).status == 0)
        r, files = alone(at(path), at(config))
        reference[path] = (files.get("params.txt"), files.get("paramsdone.txt"),
                           next((ln.strip() for ln in r.err.splitlines() if ln.strip()), ""))
    return reference


def alone(db, config, timeout=60):
    """The program run once on db in a fresh folder: (the run, {report file: bytes})."""
    folder = fresh(at(".alone"))
    return run([HARVESTODB, "-odb", db, "-config", config], folder, timeout, text=True), \
        present(folder, "params.txt", "paramsdone.txt")


def check_results(out, batch, reference):
    """Every folder against its single run, and results.csv against the reports."""
    for path, _, folder in batch:
        params, done, _ = reference[path]
        got = present(os.path.join(out, folder), "params.txt", "paramsdone.txt")
        check(f"{path}: a single run's report, or no paramsdone.txt after a failure", "paramsdone.txt" not in got
              if done is None else (got.get("params.txt"), got.get("paramsdone.txt")) == (params, done))
    header, *rows = table(os.path.join(out, "results.csv"))
    check("header", header[:3] == ["database", "status", "message"], str(header[:3]))
    check("one row per database", sorted(r[0] for r in rows) == sorted(p for p, _, _ in batch))
    first_seen = []
    for row in rows:
        params, done, message = reference.get(row[0], (None, None, None))
        lines = [line.split("\t", 1) for line in params.decode().splitlines()] if done else []
        first_seen += [n for n, _ in lines if n not in first_seen]
        expected = ["done", ""] if done else ["failed", message]
        check(f"{row[0]}: status and message", row[1:3] == expected, f"{row[1:3]}, expected {expected}")
        check(f"{row[0]}: values as in params.txt", row[3:] == [dict(lines).get(n, "") for n in header[3:]])
    check("parameter columns are the union in first-seen order", header[3:] == first_seen)
    return read(os.path.join(out, "results.csv"))


def table(path):
    with open(path, newline="") as f:
        return list(csv.reader(f))


def harvest_many(*args, expect=0, says="", env=None, fsize=64 << 20, timeout=240):
    """harvest-many in the scratch folder: its status must be expect and its standard error hold says."""
    r = run([TOOL, *args], WORK, timeout=timeout, env=env, fsize=fsize, text=True)
    check(f"harvest-many {' '.join(args)}: status {r.status}, expected {expect}, saying {says!r}",
          r.status == expect and says in r.err, r.err)
    return r


def start(argv):  # a run to kill
    return harness.start(argv, WORK, timeout=290, fsize=256 << 20)


def wait(ready, seconds, gone=lambda: False):
    """Polls until ready() (True), or seconds pass or gone() (False); gone() is asked first."""
    end = time.monotonic() + seconds
    while not gone():
        if ready():
            return True
        if time.monotonic() > end:
            return False
        time.sleep(0.05)
    return False


def ours(where):
    """Ids of the processes, this one's aside, working in where or naming it on their command line."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            if int(pid) != os.getpid() and (os.readlink(f"/proc/{pid}/cwd").startswith(where)
                                            or where.encode() in read(f"/proc/{pid}/cmdline")):
                pids.append(int(pid))
    return pids


def check_stopped(name, session, where):
    """After its parent was killed, every process of a run ends within 10 s; stragglers (and the session) are killed."""
    wait(lambda: not ours(where), 10)
    left = ours(where)
    check(f"{name}: nothing left running", not left, " ".join(read(f"/proc/{p}/cmdline").decode(errors="replace")
                                                           for p in left if os.path.exists(f"/proc/{p}")))
    for pid in left + [-session.pid]:
        with contextlib.suppress(OSError):
            os.kill(pid, signal.SIGKILL)
    session.communicate()


def report_times(out):
    return {d: os.stat(f"{out}/{d}/params.txt").st_mtime_ns for d in os.listdir(out)
            if os.path.exists(f"{out}/{d}/params.txt")}


def check_local(reference):
    batch = ["config.txt"] + [p for p, _, _ in BATCH] + ["-o", "out", "-j", "2"]
    out = at("out")
    harvest_many(*batch, expect=1)
    csv_bytes = check_results(out, BATCH, reference)

    # Resume: nothing complete runs again; a lost paramsdone.txt or a database
    # newer than its report runs that database again, and only it.
    before = report_times(out)
    harvest_many(*batch, expect=1, says="22 up to date, 0 to run")
    check("second run: no report rewritten, the same results.csv",
          report_times(out) == before and read(at("out/results.csv")) == csv_bytes)
    os.unlink(at("out/p05/paramsdone.txt"))
    db_time = os.stat(at("p07.odb")).st_mtime_ns  # a database rewritten, older than its report
    os.utime(at("p07.odb"), ns=(db_time - 10**9, db_time - 10**9))
    harvest_many(*batch, expect=1)
    after = report_times(out)
    check("third run runs p05 and p07 only, the same results.csv", sorted(d for d in after if after[d] != before[d])
          == ["p05", "p07"] and read(at("out/results.csv")) == csv_bytes)
    harvest_many(*batch, "--retry-failed", expect=1, says="20 up to date, 2 to run")  # runs the failed

    # Quoting survives a round trip through Python's csv module.
    for folder, files in {"x": {"database.txt": 'db, "x".odb\n', "params.txt": 'a,"b"\tv, "1"\nplain\t2\n',
                                "paramsdone.txt": "Done\n", "identity.txt": ""},
                          "y": {"database.txt": "y.odb\n", "stderr.txt": 'bad, "worse"\nsecond line\n',
                                "identity.txt": ""},
                          "z": {"database.txt": "z.odb\n", "params.txt": "a\t9\n", "paramsdone.txt": "Done\n"}}.items():
        os.makedirs(at("fake", folder))
        [write(at("fake", folder, name), text) for name, text in files.items()]
    harvest_many("--merge", "fake", expect=1)
    rows = table(at("fake/results.csv"))
    check("quoted cells", rows == [["database", "status", "message", 'a,"b"', "plain"],
                                   ['db, "x".odb', "done", "", 'v, "1"', "2"],
                                   ["y.odb", "failed", 'bad, "worse"', "", ""],
                                   ["z.odb", "failed", "not run, or interrupted", "", ""]], str(rows))

    # A results.csv that cannot be written whole leaves the last one as it was.
    good = read(at("fake/results.csv"))
    err = harvest_many("--merge", "fake", expect=1, fsize=64).err
    check("failed write: one line, the last results.csv left as it was", err == "harvest-many: fake/results.csv: "
          "File too large\n" and read(at("fake/results.csv")) == good
          and sorted(os.listdir(at("fake"))) == ["results.csv", "x", "y", "z"], repr(err))


# One stem in two folders, run one after the other into one output folder; one database spelt
# four ways; the same databases with another, older configuration.
IDENTITY_BATCH = [("s1/p1.odb", ["--seed", "3"], "p1"), ("s2/p1.odb", ["--seed", "7"], "p1")]
CONFIG2 = "ODB EXTRACTIONS\nEXTRACT_MASS\nEXTRACT_FIELD\nEXTRACT_STRESS\nENGINEERING_MIN\nPERCENTAGE=50\n"


def check_identity(_):
    reference = make_databases(IDENTITY_BATCH)
    [os.utime(at(path), (time.time() - 7200,) * 2) for path, _, _ in IDENTITY_BATCH]
    harvest_many("config.txt", "s1/p1.odb", "-o", "same")
    harvest_many("-o", "same", "config.txt", "s2/p1.odb", says="0 up to date, 1 to run")  # same name and times
    check_results(at("same"), IDENTITY_BATCH[1:], reference)

    spellings = ["./s1/p1.odb", at("s1/p1.odb"), "s1//p1.odb", "s1/p1", "s1/../s1/p1.odb"]
    harvest_many("config.txt", *spellings, "-o", "spelt", says="1 databases, 0 up to date, 1 to run")
    reference["./s1/p1.odb"] = reference["s1/p1.odb"]
    check_results(at("spelt"), [("./s1/p1.odb", None, "p1")], reference)

    batch = [b for b in BATCH if b[0] in ("p01.odb", "p02.odb")]
    harvest_many("config.txt", "p01.odb", "p02.odb", "-o", "cfg", "-j", "2")
    write(at("config2.txt"), CONFIG2)
    os.utime(at("config2.txt"), (time.time() - 7200,) * 2)
    harvest_many("config2.txt", "p01.odb", "p02.odb", "-o", "cfg", "-j", "2", says="0 up to date, 2 to run")
    check_results(at("cfg"), batch, make_databases(batch, "config2.txt"))
    harvest_many("config2.txt", "p01.odb", "p02.odb", "-o", "cfg", says="2 up to date, 0 to run")


def check_lock_and_cli(_):
    """A second harvest-many on a folder in use is refused and touches nothing; options in any order."""
    listing = lambda: {path: sorted(files) for path, _, files in os.walk(at("cfg"))}  # noqa: E731
    before = listing()
    with open(at("cfg", ".harvest-many", "lock"), "r+") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        held.write("process 1 on elsewhere\n")
        held.flush()
        err = harvest_many("--retry-failed", "config.txt", "p01.odb", "-o", "cfg", expect=1).err
    check("folder in use: one line, nothing touched", err == "harvest-many: cfg: another harvest-many (process 1 on "
          "elsewhere) is working on this folder; wait for it to end or choose another -o\n" and before == listing(),
          repr(err))
    # Refused before any run: (arguments, status, what the one line on standard error holds).
    write(at("typo.txt"), "ODB EXTRACTIONS\nEXTRACT_MAS\n")
    for args, status, fragment in [
            (["--bogus", "config.txt", "p01.odb"], 2, "unknown option --bogus"),
            (["config.txt", "p01.odb", "-j", "0"], 2, "-j 0: not a positive number"),
            (["config.txt", "p01.odb", "--slurm", "--parallel"], 2, "exclude each other"),
            (["config.txt", "p01.odb", "--sbatch-args", "'open"], 2, "--sbatch-args: No closing quotation"),
            (["config.txt"], 2, "no databases"), (["-o", "x"], 2, "no configuration file"),
            (["-o", "bad", "config2.txt", "p01.odb", "--harvestodb", "/nonexistent"], 1,
             "harvest-many: /nonexistent: not an executable program\n"),
            (["typo.txt", "p01.odb", "-o", "bad"], 1,
             "harvest-many: typo.txt: line 2: unknown keyword EXTRACT_MAS (did you mean EXTRACT_MASS?)\n")]:
        err = harvest_many(*args, expect=status, says=fragment, timeout=30).err  # no run starts
        check(f"{args}: one line", err.count("\n") == 1, repr(err))
    check("refused before any run: no output folder", not os.path.exists(at("bad")))
    r = harvest_many("--help")
    check("--help on standard output", "harvest-many CONFIG DB..." in r.out and r.err == "", r.err)


def check_interrupted(reference):
    """harvest-many killed (SIGKILL) on GNU parallel or interrupted (SIGTERM) on its own pool mid-batch: its runs
    end with it, SIGTERM says what finished, the same command completes the table. Runs sleep a little first."""
    subset = BATCH[:8] + BATCH[17:]
    batch = ["config.txt"] + [p for p, _, _ in subset] + ["-j", "2"]
    write(at("slow-harvestodb"), f'#!/bin/sh\nsleep 0.2\nexec "{HARVESTODB}" "$@"\n')
    os.chmod(at("slow-harvestodb"), 0o755)
    for name, engine, sig in [("killed on parallel", ["--parallel"], signal.SIGKILL),
                              ("interrupted", [], signal.SIGTERM)]:  # the kill campaign kills either at random
        out = at(name.replace(" ", "-"))
        p = start([TOOL, *batch, *engine, "-o", out, "--harvestodb", at("slow-harvestodb")])
        records = lambda: sum(os.path.exists(f"{out}/{d}/identity.txt") for d in  # noqa: E731
                              (os.listdir(out) if os.path.isdir(out) else []))
        check(f"{name}: some runs ended before the signal",
              wait(lambda: records() >= 2, 60, lambda: p.poll() is not None))
        os.kill(p.pid, sig)
        if sig == signal.SIGTERM:
            status, err = p.wait(timeout=60), p.stderr.read().decode()
            check(f"{name}: status 143 and what finished", status == 143 and "harvest-many: interrupted: " in err
                  and "the same command runs those not run" in err, f"{status} {err!r}")
        check_stopped(name, p, out)
        log = harvest_many(*batch, "-o", out, expect=1, says=" up to date, ").err
        check(f"{name}: the rerun resumes", "0 up to date" not in log, log)
        check_results(out, subset, reference)


# harvest-run's table: configuration, arguments beyond -odb/-config, status, standard error. Each
# runs in a folder holding an earlier run's params.txt and paramsdone.txt, which must be gone after
# a failure (and, when the folder is busy, untouched).
S = "ODB EXTRACTIONS\n"
RUN_ROWS = [  # standard error without "harvest-run: " and its newline
    ("complete", CONFIG, [], 0, ""),
    ("no section line", "EXTRACT_MASS\n", [], 1, "cfg: no ODB EXTRACTIONS line: the program would read no keyword"),
    ("keyword beside", S[:-1] + " EXTRACT_MASS\n", [], 1, "cfg: line 1: ODB EXTRACTIONS must stand alone on its line"),
    ("lower case", S + "\nextract_mass\n", [], 1,
     "cfg: line 3: unknown keyword extract_mass (did you mean EXTRACT_MASS?)"),
    ("nothing near", S + "FOO\n", [], 1, "cfg: line 2: unknown keyword FOO"),
    ("value on a flag", S + "EXTRACT_MASS=1\n", [], 1, "cfg: line 2: EXTRACT_MASS= takes no value"),
    *[(f"PERCENTAGE={v}", f"{S}EXTRACT_FIELD\nPERCENTAGE={v}\n", [], 1,
       f"cfg: line 3: PERCENTAGE={v}: not a number in (0, 100]") for v in ("abc", "", "0", "100.5", "nan")],
    ("PERCENTAGE alone", S + "PERCENTAGE\n", [], 1, "cfg: line 2: PERCENTAGE without a value (PERCENTAGE=5)"),
    ("PERCENTAGE = 100", S + "EXTRACT_MASS\nPERCENTAGE = 100\n", [], 0, ""),
    ("configuration is a folder", None, [], 1, "cfg: is a directory, not a configuration file"),
    ("database missing", CONFIG, ["-odb", "nope.odb"], 1, "**ERROR** output database  nope.odb does not exist"),
    ("element set missing (the program's status is 0)", CONFIG, ["-elset", "NOSUCH"], 1,
     "An assembly level elset NOSUCH does not exist in the output database :db.odb"),
    ("folder busy", CONFIG, ["busy"], 1, ".: another harvest-run is running in this folder"),
    ("unknown option", CONFIG, ["--bogus"], 2, "unknown option --bogus"),
]
STALE = {"params.txt": b"stale\t1\n", "paramsdone.txt": b"Done\n"}  # an earlier run's report


def check_harvest_run(_):
    folder = fresh(at("run"))
    check("odbgen", run([ODBGEN, "--size", "30", "--seed", "5", os.path.join(folder, "db.odb")]).status == 0)
    for name, config, args, status, err in RUN_ROWS:
        cfg = os.path.join(folder, "cfg")
        if os.path.lexists(cfg):
            (os.rmdir if os.path.isdir(cfg) else os.unlink)(cfg)
        os.makedirs(cfg) if config is None else write(cfg, config)
        [write(os.path.join(folder, n), text) for n, text in STALE.items()]
        want = STALE if "busy" in args or status == 2 else {}  # refused before anything was touched
        if status == 0:
            first, want = alone(os.path.join(folder, "db.odb"), cfg)
            check(f"harvest-run {name}: the program alone", first.status == 0 and len(want) == 2)
        with open(os.path.join(folder, ".harvest-run.lock"), "a") as lock:
            if "busy" in args:
                fcntl.flock(lock, fcntl.LOCK_EX)
            r = run([RUN_TOOL, "-odb", "db.odb", "-config", "cfg", *[a for a in args if a != "busy"]], folder,
                    text=True)
        got = (r.status, r.err, present(folder, "params.txt", "paramsdone.txt"))
        check(f"harvest-run {name}: status, standard error, report", got == (status, err and f"harvest-run: {err}\n",
                                                                           want), repr(got)[:300])
    # -C runs elsewhere, paths taken from where harvest-run starts; from Python, a run that fails
    # is a result, a wrong call an exception.
    r = run([RUN_TOOL, "-C", "run", "-odb", "run/db.odb", "-config", "config.txt"], WORK, text=True)
    check("harvest-run -C", r.status == 0 and os.path.exists(os.path.join(folder, "paramsdone.txt")), r.err)
    sys.path.insert(0, os.path.join(os.path.dirname(TOOL), "..", "python"))
    from harvestodb.run import RunResult, run as run_once
    result = run_once(os.path.join(folder, "db.odb"), at("config.txt"), folder, elset="NOSUCH", harvestodb=HARVESTODB)
    check("run(): missing set", result == RunResult(False, 0, "An assembly level elset NOSUCH does not exist in the "
          f"output database :{folder}/db.odb", os.path.join(folder, "params.txt")), str(result))
    with contextlib.suppress(ValueError):
        run_once("db.odb", "config.txt", at("nonexistent"), harvestodb=HARVESTODB)
        check("run(): a folder that is not there raises", False)


# The kill campaign: a database of tens of MB in two contents, two configurations.
KILLS, KILL_SEED = 20, 20261206
BIG = ["--size", "150000", "--frames", "3"]
CONFIG_B = "ODB EXTRACTIONS\nEXTRACT_FIELD\nEXTRACT_STRESS\nENGINEERING_MIN\nTENSOR_INVARIANTS\nPERCENTAGE=20\n"


def check_kill():
    """harvest-run and harvest-many killed at KILLS seeded random moments each: nothing of theirs runs on, no report
    stands with another run's numbers, and an uninterrupted run then gives what one never interrupted gives."""
    rng = random.Random(KILL_SEED)
    write(at("b.txt"), CONFIG_B)
    configs = {"config.txt": CONFIG, "b.txt": CONFIG_B}
    sha = {name: hashlib.sha256(text.encode()).hexdigest() for name, text in configs.items()}
    for seed in (1, 2):
        check(f"odbgen big{seed}", run([ODBGEN, *BIG, "--seed", str(seed), at(f"big{seed}.odb")], timeout=120).status
              == 0)
    ref = {(seed, c): alone(at(f"big{seed}.odb"), at(c), 120)[1].get("params.txt") for seed in (1, 2) for c in configs}
    check("four different reports", len(set(ref.values())) == 4 and None not in ref.values())

    folder = fresh(at("single"))
    took = run([RUN_TOOL, "-odb", "big2.odb", "-config", "config.txt", "-C", folder], WORK, timeout=120).seconds
    for k in range(KILLS):
        seed = 1 + k % 2  # the folder holds the other database's complete report
        argv = [RUN_TOOL, "-odb", f"big{seed}.odb", "-config", "config.txt", "-C", folder]
        p = start(argv)
        time.sleep(rng.uniform(0, 1.2 * took))
        os.kill(p.pid, signal.SIGKILL)
        check_stopped(f"harvest-run kill {k}", p, folder)
        files = present(folder, "params.txt", "paramsdone.txt")
        # Killed before it cleared the folder, the last run's complete report stays as it was.
        check(f"harvest-run kill {k}: a marker only beside a whole report, this run's or the last one's",
              "paramsdone.txt" not in files or files.get("params.txt") in (ref[1, "config.txt"], ref[2, "config.txt"]))
        r = run(argv, WORK, timeout=120)
        check(f"harvest-run kill {k}: the rerun", r.status == 0 and read(os.path.join(folder, "params.txt"))
              == ref[seed, "config.txt"], r.err.decode(errors="replace"))

    # harvest-many on four names (two of each content), the configuration alternating, on its
    # own pool and (every fourth) on GNU parallel; mostly SIGKILL, sometimes SIGTERM or SIGINT.
    seed_of = {f"m{i + 1}": 1 + i % 2 for i in range(4)}
    names = [f"{n}.odb" for n in seed_of]
    [os.link(at(f"big{seed}.odb"), at(f"{n}.odb")) for n, seed in seed_of.items()]
    clean = harvest_many("config.txt", *names, "-o", "clean", "-j", "2")
    out = at("killed")
    for k in range(KILLS):
        config = ("config.txt", "b.txt")[k % 2]
        engine = ["--parallel"] if k % 4 == 3 else []
        sig = (signal.SIGKILL, signal.SIGKILL, signal.SIGTERM, signal.SIGKILL, signal.SIGINT)[k % 5]
        p = start([TOOL, config, *names, "-o", out, "-j", "2", *engine])
        time.sleep(rng.uniform(0, 1.2 * clean.seconds))
        os.kill(p.pid, sig)
        if sig != signal.SIGKILL:
            status = p.wait(timeout=60)
            check(f"harvest-many kill {k}: status {status} after {sig.name}", status in (0, 128 + sig, -sig))
        check_stopped(f"harvest-many kill {k}", p, out)
        for d in os.listdir(out) if os.path.isdir(out) else []:
            files = present(os.path.join(out, d), "identity.txt", "params.txt", "paramsdone.txt")
            if "identity.txt" in files and "paramsdone.txt" in files:
                used = [c for c in configs if sha[c].encode() in files["identity.txt"]]
                check(f"harvest-many kill {k}: {d} holds its own run's report",
                      len(used) == 1 and files.get("params.txt") == ref[seed_of[d], used[0]])
    harvest_many("config.txt", *names, "-o", out, "-j", "2")
    check("after the kills, the uninterrupted table", read(at("killed/results.csv")) == read(at("clean/results.csv")))


@contextlib.contextmanager
def cluster(root):
    """A one-node Slurm cluster in root (daemons stopped by id); yields its environment, or exits 77."""
    missing = [t for t in ("munged", "slurmctld", "slurmd", "sbatch", "sinfo", "scontrol", "scancel")
               if not shutil.which(t, path=SBIN)]
    if missing or os.geteuid() != 0:
        sys.exit(skip("check_batch", f"{' '.join(missing)} not installed (Debian packages slurm-wlm munge)"
                      if missing else "the daemons need root"))
    env, procs, sock = dict(os.environ, SLURM_CONF=f"{root}/slurm.conf"), [], f"{root}/munge.socket"

    def spawn(name, *args):
        with open(f"{root}/{name}.out", "wb") as log:
            procs.append(subprocess.Popen([shutil.which(name, path=SBIN), *args], env=env, stdin=subprocess.DEVNULL,
                                          stdout=log, stderr=subprocess.STDOUT))

    def wait_for(ready, seconds, why, *daemons):  # gives up when a daemon ends
        if not wait(ready, seconds, lambda: any(p.poll() is not None for p in procs)):
            sys.exit(skip("check_batch", f"{why}: " + " ".join(tail(f"{root}/{d}.out") for d in daemons)))

    try:
        for d in (os.path.dirname(root), root):  # munged wants its socket's folders open to all
            os.chmod(d, 0o755)
        write(f"{root}/munge.key", os.urandom(1024))
        os.chmod(f"{root}/munge.key", 0o400)
        spawn("munged", "--foreground", f"--key-file={root}/munge.key", f"--socket={sock}",
              f"--pid-file={root}/munged.pid", f"--log-file={root}/munged.log", f"--seed-file={root}/munge.seed")
        sockets = [socket.create_server(("127.0.0.1", 0)) for _ in range(2)]
        ports = [s.getsockname()[1] for s in sockets]
        [s.close() for s in sockets]
        [os.makedirs(f"{root}/{d}") for d in ("state", "spool")]
        conf = read(os.path.join(os.path.dirname(os.path.abspath(__file__)), "slurm.conf.in"), "r")
        write(env["SLURM_CONF"], conf.format(root=root, host=socket.gethostname().split(".")[0], port0=ports[0],
                                             port1=ports[1], cpus=os.cpu_count()))
        wait_for(lambda: os.path.exists(sock), 10, "munged did not start", "munged")
        spawn("slurmctld", "-D", "-f", env["SLURM_CONF"])
        time.sleep(2)
        spawn("slurmd", "-D", "-f", env["SLURM_CONF"])
        wait_for(lambda: run(["sinfo", "-h", "-o", "%t"], env=env, timeout=30, text=True).out.strip() == "idle", 60,
                 "the node did not come up", "slurmctld", "slurmd")
        yield env
    finally:
        if len(procs) == 3:
            run(["scancel", "--partition=batch"], env=env, timeout=30)
        for p in reversed(procs):
            p.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                p.wait(timeout=15)
            p.kill()  # nothing when it has ended
            p.wait()


def tail(path):
    return read(path, "r")[-400:] if os.path.exists(path) else ""


def check_slurm(reference):
    dbs = [p for p, _, _ in SLURM_BATCH]
    with cluster(tempfile.mkdtemp(dir=WORK, prefix="cluster")) as env:
        harvest_many("config.txt", *dbs, "--slurm", "-o", "slurm-out", "--", "--time=5", env=env)
    slurm_csv = check_results(at("slurm-out"), SLURM_BATCH, reference)
    logs = [f for f in os.listdir(at("slurm-out/.harvest-many")) if f.startswith("slurm-")]
    check("6 databases with MaxArraySize=4 run as 3 array tasks", len(logs) == 3, f"{len(logs)} tasks")
    harvest_many("config.txt", *dbs, "-o", "local-out", "-j", "2")
    check("Slurm and local results.csv agree", read(at("local-out/results.csv")) == slurm_csv)


def main():
    global TOOL, RUN_TOOL, ODBGEN, HARVESTODB, WORK
    mode, TOOL, ODBGEN, HARVESTODB = sys.argv[1], *map(os.path.abspath, sys.argv[2:5])
    RUN_TOOL = os.path.join(os.path.dirname(TOOL), "harvest-run")
    resource.setrlimit(resource.RLIMIT_FSIZE, (256 << 20, 256 << 20))  # also for the daemons
    os.environ.pop("HARVESTODB", None)  # harvest-many finds the program next to its link
    with scratch("check_batch.") as WORK:
        write(at("config.txt"), CONFIG)
        if mode == "kill":
            check_kill()
        elif mode == "slurm":
            check_slurm(make_databases(SLURM_BATCH))
        else:
            reference = make_databases(BATCH)
            for step in (check_local, check_interrupted, check_identity, check_lock_and_cli, check_harvest_run):
                step(reference)
    return finish(f"check_batch {mode}")

if __name__ == "__main__":
    sys.exit(main())
