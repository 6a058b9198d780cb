#!/usr/bin/python3
"""harvest-many end to end.

  check_batch.py local HARVEST_MANY ODBGEN HARVESTODB
  check_batch.py slurm HARVEST_MANY ODBGEN HARVESTODB

local: a batch of generated databases with a file that is not a database, a
path that does not exist and two databases named job.odb, on 2 jobs; then
the resume rules, --merge, CSV quoting and a results.csv that cannot be
written.  slurm: a one-node cluster of its own runs the batch as a job array
split over fewer tasks than databases; exits 77 (skip) where the cluster
cannot start.  Each good report must be byte-identical to a single run's.
"""
import csv
import os
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
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


failures = []


def check(ok, what):
    if not ok:
        print(f"FAIL: {what}")
        failures.append(what)


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def make_databases(work, odbgen, harvestodb, batch):
    """Writes the batch and runs each database once alone; returns {path: (params, done, message)}."""
    reference = {}
    for path, args, _ in batch:
        full = os.path.join(work, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if args is None:
            with open(full, "w") as f:
                f.write("not a database\n")
        elif args != "missing":
            subprocess.run([odbgen, "--size", "30"] + args + [full], check=True, stdout=subprocess.DEVNULL)
    for path, args, _ in batch:
        alone = tempfile.mkdtemp(dir=work, prefix=".alone")
        run = subprocess.run([harvestodb, "-odb", os.path.join(work, path), "-config",
                              os.path.join(work, "config.txt")], cwd=alone, capture_output=True, text=True)
        files = [read(os.path.join(alone, f)) if os.path.exists(os.path.join(alone, f)) else None
                 for f in ("params.txt", "paramsdone.txt")]
        reference[path] = (*files, next((ln.strip() for ln in run.stderr.splitlines() if ln.strip()), ""))
        shutil.rmtree(alone)
    return reference


def check_results(out, batch, reference):
    """Every folder against its single run, and results.csv against the reports."""
    for path, _, folder in batch:
        params, done, message = reference[path]
        where = os.path.join(out, folder)
        if done is not None:
            check(read(os.path.join(where, "params.txt")) == params, f"{path}: params.txt differs from a single run")
            check(read(os.path.join(where, "paramsdone.txt")) == done, f"{path}: paramsdone.txt differs")
        else:
            check(not os.path.exists(os.path.join(where, "paramsdone.txt")), f"{path}: paramsdone.txt written")
    with open(os.path.join(out, "results.csv"), newline="") as f:
        rows = list(csv.reader(f))
    header, rows = rows[0], rows[1:]
    check(header[:3] == ["database", "status", "message"], f"header starts {header[:3]}")
    check(sorted(r[0] for r in rows) == sorted(p for p, _, _ in batch), "one row per database")
    first_seen = []
    for row in rows:
        params, done, message = reference.get(row[0], (None, None, None))
        lines = [line.split("\t", 1) for line in (params or b"").decode().splitlines()] if done else []
        first_seen += [n for n, _ in lines if n not in first_seen]
        values = dict(lines)
        expected = ["done", ""] if done else ["failed", message]
        check(row[1:3] == expected, f"{row[0]}: status and message {row[1:3]}, expected {expected}")
        check(row[3:] == [values.get(n, "") for n in header[3:]], f"{row[0]}: values differ from params.txt")
    check(header[3:] == first_seen, "parameter columns are not the union in first-seen order")
    return read(os.path.join(out, "results.csv"))


def harvest(harvest_many, *args, cwd, expect):
    run = subprocess.run([harvest_many] + list(args), cwd=cwd, capture_output=True, text=True, timeout=240)
    check(run.returncode == expect, f"harvest-many {' '.join(args)}: status {run.returncode}, expected {expect}\n"
                                    f"{run.stderr}")
    return run.stderr


def report_times(out):
    return {d: os.stat(os.path.join(out, d, "params.txt")).st_mtime_ns
            for d in os.listdir(out) if os.path.exists(os.path.join(out, d, "params.txt"))}


def check_local(work, harvest_many, reference):
    dbs = [p for p, _, _ in BATCH]
    harvest(harvest_many, "config.txt", *dbs, "-o", "out", "-j", "2", cwd=work, expect=1)
    csv_bytes = check_results(os.path.join(work, "out"), BATCH, reference)

    # Resume: nothing complete runs again; a lost paramsdone.txt or a database
    # newer than its report runs that database again, and only it.
    before = report_times(os.path.join(work, "out"))
    log = harvest(harvest_many, "config.txt", *dbs, "-o", "out", "-j", "2", cwd=work, expect=1)
    check("22 up to date, 0 to run" in log, f"second run: {log}")
    check(report_times(os.path.join(work, "out")) == before, "second run rewrote reports")
    check(read(os.path.join(work, "out/results.csv")) == csv_bytes, "second run gives another results.csv")
    os.unlink(os.path.join(work, "out/p05/paramsdone.txt"))
    db_time = os.stat(os.path.join(work, "p07.odb")).st_mtime_ns  # the report now between config and db
    os.utime(os.path.join(work, "out/p07/params.txt"), ns=(db_time - 1, db_time - 1))
    before = report_times(os.path.join(work, "out"))
    harvest(harvest_many, "config.txt", *dbs, "-o", "out", "-j", "2", cwd=work, expect=1)
    after = report_times(os.path.join(work, "out"))
    check(sorted(d for d in after if after[d] != before[d]) == ["p05", "p07"], "third run ran others")
    check(read(os.path.join(work, "out/results.csv")) == csv_bytes, "third run gives another results.csv")
    harvest(harvest_many, "--merge", "out", cwd=work, expect=1)
    check(read(os.path.join(work, "out/results.csv")) == csv_bytes, "--merge gives another results.csv")
    log = harvest(harvest_many, "config.txt", *dbs, "-o", "out", "-j", "2", "--retry-failed", cwd=work, expect=1)
    check("20 up to date, 2 to run" in log, f"--retry-failed: {log}")

    # Quoting survives a round trip through Python's csv module.
    fake = os.path.join(work, "fake")
    cells = {"x": ('db, "x".odb', 'a,"b"\tv, "1"\nplain\t2\n', None),
             "y": ("y.odb", None, 'bad, "worse"\nsecond line\n')}
    for folder, (shown, params, stderr) in cells.items():
        os.makedirs(os.path.join(fake, folder))
        files = {"database.txt": shown + "\n", "params.txt": params, "paramsdone.txt": params and "Done\n",
                 "stderr.txt": stderr}
        for name, text in files.items():
            if text:
                with open(os.path.join(fake, folder, name), "w") as f:
                    f.write(text)
    harvest(harvest_many, "--merge", "fake", cwd=work, expect=1)
    with open(os.path.join(fake, "results.csv"), newline="") as f:
        rows = list(csv.reader(f))
    check(rows == [["database", "status", "message", 'a,"b"', "plain"],
                   ['db, "x".odb', "done", "", 'v, "1"', "2"],
                   ["y.odb", "failed", 'bad, "worse"', "", ""]], f"quoted cells: {rows}")

    # A results.csv that cannot be written whole leaves the last one as it was.
    good = read(os.path.join(fake, "results.csv"))
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (64, 64))
    run = subprocess.run([harvest_many, "--merge", "fake"], cwd=work, capture_output=True, text=True,
                         preexec_fn=limit)
    check(run.returncode == 1 and run.stderr == "harvest-many: fake/results.csv: File too large\n",
          f"failed write: status {run.returncode}, {run.stderr!r}")
    check(read(os.path.join(fake, "results.csv")) == good and
          sorted(os.listdir(fake)) == ["results.csv", "x", "y"], "failed write left a partial file")


class Cluster:
    """A one-node Slurm cluster in a folder: munged, slurmctld, slurmd, stopped by process id."""

    def __init__(self, root):
        self.root, self.procs = root, []
        self.env = dict(os.environ, SLURM_CONF=os.path.join(root, "slurm.conf"))

    def skip(self, why):
        print(f"check_batch: skipped: {why}")
        sys.exit(SKIP)
    def start(self):
        tools = ["munged", "slurmctld", "slurmd", "sbatch", "sinfo", "scontrol", "scancel"]
        missing = [t for t in tools if not shutil.which(t, path=os.environ["PATH"] + ":/usr/sbin:/sbin")]
        if missing:
            self.skip(f"{' '.join(missing)} not installed (Debian packages slurm-wlm munge)")
        if os.geteuid() != 0:
            self.skip("the daemons need root")
        r = self.root
        for d in (os.path.dirname(r), r):  # munged wants its socket's folders open to all
            os.chmod(d, 0o755)
        with open(f"{r}/munge.key", "wb") as f:
            f.write(os.urandom(1024))
        os.chmod(f"{r}/munge.key", 0o400)
        sock = f"{r}/munge.socket"
        self.spawn("munged", "--foreground", f"--key-file={r}/munge.key", f"--socket={sock}",
                   f"--pid-file={r}/munged.pid", f"--log-file={r}/munged.log", f"--seed-file={r}/munge.seed")
        sockets = [socket.create_server(("127.0.0.1", 0)) for _ in range(2)]
        ports = [s.getsockname()[1] for s in sockets]
        [s.close() for s in sockets]
        host = socket.gethostname().split(".")[0]
        os.makedirs(f"{r}/state")
        os.makedirs(f"{r}/spool")
        conf = (f"ClusterName=harvest SlurmctldHost={host} SlurmUser=root SlurmdUser=root AuthType=auth/munge "
                f"AuthInfo=socket={sock} CryptoType=crypto/munge MpiDefault=none StateSaveLocation={r}/state "
                f"SlurmdSpoolDir={r}/spool SlurmctldPort={ports[0]} SlurmdPort={ports[1]} "
                f"SlurmctldPidFile={r}/slurmctld.pid SlurmdPidFile={r}/slurmd.pid SlurmctldLogFile={r}/slurmctld.log "
                f"SlurmdLogFile={r}/slurmd.log ProctrackType=proctrack/linuxproc TaskPlugin=task/none "
                "SchedulerType=sched/builtin SelectType=select/cons_tres SelectTypeParameters=CR_Core "
                "ReturnToService=2 JobAcctGatherType=jobacct_gather/none "
                "AccountingStorageType=accounting_storage/none MaxArraySize=4").replace(" ", "\n") + \
               f"\nNodeName={host} CPUs={os.cpu_count()} State=UNKNOWN\n" \
               "PartitionName=batch Nodes=ALL Default=YES MaxTime=INFINITE State=UP\n"
        with open(self.env["SLURM_CONF"], "w") as f:
            f.write(conf)
        if not self.wait_for(lambda: os.path.exists(sock), 10):
            self.skip(f"munged did not start: {self.tail('munged.out')}")
        self.spawn("slurmctld", "-D", "-f", self.env["SLURM_CONF"])
        time.sleep(2)
        self.spawn("slurmd", "-D", "-f", self.env["SLURM_CONF"])
        if not self.wait_for(self.idle, 60):
            self.skip(f"the node did not come up: {self.tail('slurmctld.out')} {self.tail('slurmd.out')}")

    def spawn(self, name, *args):
        prog = shutil.which(name, path=os.environ["PATH"] + ":/usr/sbin:/sbin")
        log = open(os.path.join(self.root, f"{name}.out"), "wb")
        self.procs.append(subprocess.Popen([prog] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                           stdout=log, stderr=subprocess.STDOUT))
        log.close()

    def idle(self):
        run = subprocess.run(["sinfo", "-h", "-o", "%t"], env=self.env, capture_output=True, text=True)
        return run.stdout.strip() == "idle"

    def wait_for(self, ready, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if any(p.poll() is not None for p in self.procs):
                return False
            if ready():
                return True
            time.sleep(0.3)
        return False

    def tail(self, log):
        path = os.path.join(self.root, log)
        return read(path, "r")[-400:] if os.path.exists(path) else ""

    def stop(self):
        if len(self.procs) == 3:
            subprocess.run(["scancel", "--partition=batch"], env=self.env, capture_output=True, timeout=30)
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def check_slurm(work, harvest_many, reference):
    cluster = Cluster(tempfile.mkdtemp(dir=work, prefix="cluster"))
    try:
        cluster.start()
        dbs = [p for p, _, _ in SLURM_BATCH]
        run = subprocess.run([harvest_many, "config.txt"] + dbs + ["-o", "slurm-out", "--slurm", "--time=5"],
                             cwd=work, env=cluster.env, capture_output=True, text=True, timeout=240)
        check(run.returncode == 0, f"harvest-many --slurm: status {run.returncode}\n{run.stderr}\n"
                                   f"{cluster.tail('slurmctld.log')}")
    finally:
        cluster.stop()
    slurm_csv = check_results(os.path.join(work, "slurm-out"), SLURM_BATCH, reference)
    logs = [f for f in os.listdir(os.path.join(work, "slurm-out/.harvest-many")) if f.startswith("slurm-")]
    check(len(logs) == 3, f"6 databases with MaxArraySize=4 ran as {len(logs)} array tasks, expected 3")
    harvest(harvest_many, "config.txt", *dbs, "-o", "local-out", "-j", "2", cwd=work, expect=0)
    check(read(os.path.join(work, "local-out/results.csv")) == slurm_csv, "Slurm and local results.csv differ")


def main():
    mode, harvest_many, odbgen, harvestodb = sys.argv[1:5]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # ctest's timeout: clean up on the way out
    resource.setrlimit(resource.RLIMIT_FSIZE, (256 << 20, 256 << 20))
    os.environ.pop("HARVESTODB", None)  # harvest-many finds the program next to its link
    with tempfile.TemporaryDirectory(prefix="check_batch.") as work:
        with open(os.path.join(work, "config.txt"), "w") as f:
            f.write(CONFIG)
        batch = BATCH if mode == "local" else SLURM_BATCH
        reference = make_databases(work, os.path.abspath(odbgen), os.path.abspath(harvestodb), batch)
        if mode == "local":
            check_local(work, os.path.abspath(harvest_many), reference)
        else:
            check_slurm(work, os.path.abspath(harvest_many), reference)
    print(f"check_batch {mode}: {len(failures)} failures" if failures else f"check_batch {mode}: ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
