#!/usr/bin/python3
"""check_batch.py local|slurm HARVEST_MANY ODBGEN HARVESTODB

local: a batch with a file that is not a database, a missing path and two job.odb on 2 jobs, then the resume
rules, --merge, CSV quoting and a results.csv that cannot be written. slurm: a one-node cluster of its own runs
the batch as a job array of fewer tasks than databases (77 where it cannot start). Reports are a single run's.
"""
import contextlib
import csv
import os
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
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


def make_databases(work, odbgen, harvestodb, batch):
    """Writes the batch and runs each database once alone; returns {path: (params, done, message)}."""
    reference = {}
    for path, args, _ in batch:
        full = os.path.join(work, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if args is None:
            write(full, "not a database\n")
        elif args != "missing":
            check(f"odbgen {path}", run([odbgen, "--size", "30"] + args + [full]).status == 0)
        alone = fresh(os.path.join(work, ".alone"))
        r = run([harvestodb, "-odb", full, "-config", os.path.join(work, "config.txt")], alone, text=True)
        files = present(alone, "params.txt", "paramsdone.txt")
        reference[path] = (files.get("params.txt"), files.get("paramsdone.txt"),
                           next((ln.strip() for ln in r.err.splitlines() if ln.strip()), ""))
    shutil.rmtree(os.path.join(work, ".alone"))
    return reference


def check_results(out, batch, reference):
    """Every folder against its single run, and results.csv against the reports."""
    for path, _, folder in batch:
        params, done, message = reference[path]
        where = os.path.join(out, folder)
        if done is None:
            check(f"{path}: no paramsdone.txt", not os.path.exists(os.path.join(where, "paramsdone.txt")))
        else:
            check(f"{path}: params.txt as a single run's", read(os.path.join(where, "params.txt")) == params)
            check(f"{path}: paramsdone.txt as a single run's", read(os.path.join(where, "paramsdone.txt")) == done)
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


def harvest_many(*args, cwd, expect, env=None, fsize=64 << 20):
    r = run([TOOL] + list(args), cwd, timeout=240, env=env, fsize=fsize, text=True)
    check(f"harvest-many {' '.join(args)}: status {r.status}, expected {expect}", r.status == expect, r.err)
    return r


def report_times(out):
    return {d: os.stat(os.path.join(out, d, "params.txt")).st_mtime_ns
            for d in os.listdir(out) if os.path.exists(os.path.join(out, d, "params.txt"))}


def check_local(work, reference):
    batch = ["config.txt"] + [p for p, _, _ in BATCH] + ["-o", "out", "-j", "2"]
    out = os.path.join(work, "out")
    harvest_many(*batch, cwd=work, expect=1)
    csv_bytes = check_results(out, BATCH, reference)

    # Resume: nothing complete runs again; a lost paramsdone.txt or a database
    # newer than its report runs that database again, and only it.
    before = report_times(out)
    log = harvest_many(*batch, cwd=work, expect=1).err
    check("second run: all up to date", "22 up to date, 0 to run" in log, log)
    check("second run rewrites no report", report_times(out) == before)
    check("second run: same results.csv", read(os.path.join(out, "results.csv")) == csv_bytes)
    os.unlink(os.path.join(out, "p05/paramsdone.txt"))
    db_time = os.stat(os.path.join(work, "p07.odb")).st_mtime_ns  # a database rewritten, older than its report
    os.utime(os.path.join(work, "p07.odb"), ns=(db_time - 10**9, db_time - 10**9))
    harvest_many(*batch, cwd=work, expect=1)
    after = report_times(out)
    check("third run runs p05 and p07 only", sorted(d for d in after if after[d] != before[d]) == ["p05", "p07"])
    check("third run: same results.csv", read(os.path.join(out, "results.csv")) == csv_bytes)
    harvest_many("--merge", "out", cwd=work, expect=1)
    check("--merge: same results.csv", read(os.path.join(out, "results.csv")) == csv_bytes)
    log = harvest_many(*batch, "--retry-failed", cwd=work, expect=1).err
    check("--retry-failed runs the failed", "20 up to date, 2 to run" in log, log)

    # Quoting survives a round trip through Python's csv module.
    fake = os.path.join(work, "fake")
    for folder, files in {"x": {"database.txt": 'db, "x".odb\n', "params.txt": 'a,"b"\tv, "1"\nplain\t2\n',
                                "paramsdone.txt": "Done\n", "identity.txt": ""},
                          "y": {"database.txt": "y.odb\n", "stderr.txt": 'bad, "worse"\nsecond line\n',
                                "identity.txt": ""},
                          "z": {"database.txt": "z.odb\n", "params.txt": "a\t9\n", "paramsdone.txt": "Done\n"}}.items():
        os.makedirs(os.path.join(fake, folder))
        [write(os.path.join(fake, folder, name), text) for name, text in files.items()]
    harvest_many("--merge", "fake", cwd=work, expect=1)
    rows = table(os.path.join(fake, "results.csv"))
    check("quoted cells", rows == [["database", "status", "message", 'a,"b"', "plain"],
                                   ['db, "x".odb', "done", "", 'v, "1"', "2"],
                                   ["y.odb", "failed", 'bad, "worse"', "", ""],
                                   ["z.odb", "failed", "not run, or interrupted", "", ""]], str(rows))

    # A results.csv that cannot be written whole leaves the last one as it was.
    good = read(os.path.join(fake, "results.csv"))
    err = harvest_many("--merge", "fake", cwd=work, expect=1, fsize=64).err
    check("failed write: message", err == "harvest-many: fake/results.csv: File too large\n", repr(err))
    check("failed write leaves the last results.csv", read(os.path.join(fake, "results.csv")) == good
          and sorted(os.listdir(fake)) == ["results.csv", "x", "y", "z"])


@contextlib.contextmanager
def cluster(root):
    """A one-node Slurm cluster in root (munged, slurmctld, slurmd, stopped by process id); yields
    its environment. Exits 77 where it cannot start."""
    missing = [t for t in ("munged", "slurmctld", "slurmd", "sbatch", "sinfo", "scontrol", "scancel")
               if not shutil.which(t, path=SBIN)]
    why = f"{' '.join(missing)} not installed (Debian packages slurm-wlm munge)" if missing else \
        "the daemons need root" if os.geteuid() != 0 else None
    env, procs, sock = dict(os.environ, SLURM_CONF=f"{root}/slurm.conf"), [], f"{root}/munge.socket"

    def spawn(name, *args):
        with open(f"{root}/{name}.out", "wb") as log:
            procs.append(subprocess.Popen([shutil.which(name, path=SBIN), *args], env=env, stdin=subprocess.DEVNULL,
                                          stdout=log, stderr=subprocess.STDOUT))

    def wait_for(ready, seconds, why):
        end = time.monotonic() + seconds
        while not ready():
            if time.monotonic() > end or any(p.poll() is not None for p in procs):
                sys.exit(skip("check_batch", why()))
            time.sleep(0.3)

    def idle():
        return run(["sinfo", "-h", "-o", "%t"], env=env, timeout=30, text=True).out.strip() == "idle"

    try:
        if why:
            sys.exit(skip("check_batch", why))
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
        wait_for(lambda: os.path.exists(sock), 10, lambda: "munged did not start: " + tail(f"{root}/munged.out"))
        spawn("slurmctld", "-D", "-f", env["SLURM_CONF"])
        time.sleep(2)
        spawn("slurmd", "-D", "-f", env["SLURM_CONF"])
        wait_for(idle, 60, lambda: "the node did not come up: %s %s" % (tail(f"{root}/slurmctld.out"),
                                                                        tail(f"{root}/slurmd.out")))
        yield env
    finally:
        if len(procs) == 3:
            run(["scancel", "--partition=batch"], env=env, timeout=30)
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(timeout=15)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def tail(path):
    return read(path, "r")[-400:] if os.path.exists(path) else ""


def check_slurm(work, reference):
    dbs = [p for p, _, _ in SLURM_BATCH]
    root = tempfile.mkdtemp(dir=work, prefix="cluster")
    with cluster(root) as env:
        r = harvest_many("config.txt", *dbs, "-o", "slurm-out", "--slurm", "--time=5", cwd=work, expect=0, env=env)
        if r.status != 0:
            print(tail(f"{root}/slurmctld.log"))
    slurm_csv = check_results(os.path.join(work, "slurm-out"), SLURM_BATCH, reference)
    logs = [f for f in os.listdir(os.path.join(work, "slurm-out/.harvest-many")) if f.startswith("slurm-")]
    check("6 databases with MaxArraySize=4 run as 3 array tasks", len(logs) == 3, f"{len(logs)} tasks")
    harvest_many("config.txt", *dbs, "-o", "local-out", "-j", "2", cwd=work, expect=0)
    check("Slurm and local results.csv agree", read(os.path.join(work, "local-out/results.csv")) == slurm_csv)


def main():
    global TOOL
    mode, TOOL, odbgen, harvestodb = sys.argv[1], *map(os.path.abspath, sys.argv[2:5])
    resource.setrlimit(resource.RLIMIT_FSIZE, (256 << 20, 256 << 20))  # also for the daemons
    os.environ.pop("HARVESTODB", None)  # harvest-many finds the program next to its link
    with scratch("check_batch.") as work:
        write(os.path.join(work, "config.txt"), CONFIG)
        reference = make_databases(work, odbgen, harvestodb, BATCH if mode == "local" else SLURM_BATCH)
        (check_local if mode == "local" else check_slurm)(work, reference)
    return finish(f"check_batch {mode}")


if __name__ == "__main__":
    sys.exit(main())
