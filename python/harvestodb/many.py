"""harvest-many: runs harvestodb once per database, each in a working folder
of its own, and gathers the reports into one table, OUT/results.csv.

  harvest-many CONFIG DB... [-o OUT] [-j N] [--list FILE] [--retry-failed] [parallel host options]
  harvest-many CONFIG DB... [-o OUT] --slurm [sbatch options...]
  harvest-many --merge OUT

Each database runs in OUT/<name>/, where <name> is the database's file name
without its extension, or, for databases whose file names repeat, its path
with "/" turned into "__" (a/job.odb -> a__job).  A folder holds what the
program leaves (params.txt, paramsdone.txt), its output (stdout.txt,
stderr.txt), its exit status (exit.txt) and the database's path as given
(database.txt).  A database whose folder holds paramsdone.txt and a params.txt
newer than both the database and the configuration file is not run again;
nor is one whose last run failed, when its exit.txt is newer than both (or the
database is still missing): a second invocation over an unchanged study runs
nothing.  --retry-failed runs the failed ones again.

The runs are spread by GNU parallel (-j N jobs, default: one per processor;
its host options such as --sshlogin pass through, for hosts that see the same
paths) or submitted as one Slurm job array (--slurm: every later argument goes
to sbatch).  The program is HARVESTODB from the environment or --harvestodb,
else the harvestodb next to this command's link (a build's bin/ folder), else
the one on PATH.

Exit status: 0 when every database completed, 1 when one did not or a file
could not be written, 2 for a wrong command line.
"""
import csv
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

TOOL = "harvest-many"
BOOK = ".harvest-many"  # bookkeeping folder inside OUT, skipped by the merge
OWN_FILES = ("params.txt", "paramsdone.txt", "stdout.txt", "stderr.txt", "exit.txt")

# GNU parallel options that choose and reach the hosts; each takes a value.
PARALLEL_HOST_OPTIONS = {"-S", "--sshlogin", "--slf", "--sshloginfile", "--ssh", "--sshdelay",
                         "--filter-hosts", "--controlmaster", "-M", "--workdir", "--wd", "--env",
                         "--basefile", "--bf", "--retries", "--timeout", "--memfree", "--load"}
PARALLEL_FLAGS = {"--filter-hosts", "--controlmaster", "-M"}  # these take no value


class Failure(Exception):
    """A tool failure: message printed as 'harvest-many: message', exit status 1."""


def usage(message):
    sys.stderr.write(f"{TOOL}: {message}\n"
                     f"usage: {TOOL} CONFIG DB... [-o OUT] [-j N] [--list FILE] [--harvestodb PROG]\n"
                     f"                    [parallel host options] [--slurm [sbatch options...]]\n"
                     f"       {TOOL} --merge OUT\n")
    sys.exit(2)


def parse_args(argv):
    opts = {"config": None, "dbs": [], "out": "harvest-out", "jobs": None, "lists": [],
            "harvestodb": os.environ.get("HARVESTODB"), "parallel": [], "slurm": None,
            "merge": None, "slice": None, "retry_failed": False}
    i = 0

    def value(name):
        nonlocal i
        if "=" in argv[i] and argv[i].startswith("--"):
            return argv[i].split("=", 1)[1]
        i += 1
        if i >= len(argv):
            usage(f"{name} needs a value")
        return argv[i]

    while i < len(argv):
        a = argv[i]
        name = a.split("=", 1)[0] if a.startswith("--") else a
        if a == "--slurm":
            opts["slurm"] = argv[i + 1:]
            break
        elif name in ("-o", "--out"):
            opts["out"] = value(name)
        elif name in ("-j", "--jobs"):
            opts["jobs"] = value(name)
            if not re.fullmatch(r"[1-9][0-9]*", opts["jobs"]):
                usage(f"-j {opts['jobs']}: not a positive number")
        elif name == "--list":
            opts["lists"].append(value(name))
        elif a == "--retry-failed":
            opts["retry_failed"] = True
        elif name == "--harvestodb":
            opts["harvestodb"] = value(name)
        elif name == "--merge":
            opts["merge"] = value(name)
        elif name == "--slice":  # used by the Slurm array tasks: FIRST:COUNT of the list
            m = re.fullmatch(r"([0-9]+):([1-9][0-9]*)", value(name))
            if not m:
                usage("--slice needs FIRST:COUNT")
            opts["slice"] = (int(m.group(1)), int(m.group(2)))
        elif name in PARALLEL_FLAGS:
            opts["parallel"].append(a)
        elif name in PARALLEL_HOST_OPTIONS:
            opts["parallel"] += [name, value(name)]
        elif a in ("-h", "--help"):
            sys.stdout.write(__doc__.split("\n\n", 1)[1])
            sys.exit(0)
        elif a.startswith("-") and a != "-":
            usage(f"unknown option {a}")
        elif opts["config"] is None:
            opts["config"] = a
        else:
            opts["dbs"].append(a)
        i += 1
    if opts["merge"] is not None:
        if opts["config"] or opts["dbs"] or opts["lists"]:
            usage("--merge takes only the output folder")
        return opts
    if opts["config"] is None:
        usage("no configuration file")
    return opts


def read_lists(opts):
    """The databases from the command line and the --list files, first occurrence kept."""
    dbs = list(opts["dbs"])
    for path in opts["lists"]:
        try:
            with (sys.stdin if path == "-" else open(path, encoding="utf-8")) as f:
                dbs += [line.rstrip("\n") for line in f if line.strip()]
        except OSError as e:
            raise Failure(f"{path}: {e.strerror}")
    seen, unique = set(), []
    for db in dbs:
        if "\t" in db or "\n" in db:
            raise Failure(f"{db!r}: tabs and line breaks in database paths are not supported")
        key = os.path.normpath(db)
        if key not in seen:
            seen.add(key)
            unique.append(db)
    if not unique:
        usage("no databases")
    return unique


def folder_names(dbs):
    """Output folder name of each database: the stem, or the path when stems repeat."""
    stems = [os.path.splitext(os.path.basename(os.path.normpath(db)))[0] for db in dbs]
    count = {}
    for s in stems:
        count[s] = count.get(s, 0) + 1
    names, owner = [], {}
    for db, stem in zip(dbs, stems):
        name = stem
        if count[stem] > 1:
            path = os.path.splitext(os.path.normpath(db))[0].lstrip("/")
            name = path.replace("/", "__")
        if name in ("", ".", "..") or name.startswith("."):
            name = "_" + name
        if name in owner:
            raise Failure(f"{db}: output folder {name} is taken by {owner[name]}")
        owner[name] = db
        names.append(name)
    return names


def newer_than_inputs(path, db, config, db_may_be_missing=False):
    """True when the file at path is newer than the configuration and the database."""
    try:
        t = os.stat(path).st_mtime_ns
        if t <= os.stat(config).st_mtime_ns:
            return False
        try:
            return t > os.stat(db).st_mtime_ns
        except FileNotFoundError:
            return db_may_be_missing
    except OSError:
        return False


def up_to_date(folder, db, config, retry_failed):
    """True when the folder holds the result of a run on the database as it is now: a complete
    report, or (unless failures are retried) the record of a failed run."""
    if os.path.exists(os.path.join(folder, "paramsdone.txt")):
        return newer_than_inputs(os.path.join(folder, "params.txt"), db, config)
    if retry_failed or not newer_than_inputs(os.path.join(folder, "exit.txt"), db, config, True):
        return False
    # A run that failed said why (or was killed); a complete run whose marker
    # was deleted by hand said nothing and runs again.
    return first_line(os.path.join(folder, "stderr.txt")) != "" or \
        first_line(os.path.join(folder, "exit.txt")) != "0"


def write_text(path, text):
    """Writes a small file whole or raises Failure naming it, leaving no partial file."""
    tmp = path + ".tmp"
    try:
        with open(tmp, "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(tmp, path)
    except OSError as e:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise Failure(f"{path}: {e.strerror}")


def prepare(folder, shown):
    """Creates the folder, records the database path and removes an earlier run's files."""
    try:
        os.makedirs(folder, exist_ok=True)
    except OSError as e:
        raise Failure(f"{folder}: {e.strerror}")
    write_text(os.path.join(folder, "database.txt"), shown + "\n")
    for f in OWN_FILES:
        try:
            os.unlink(os.path.join(folder, f))
        except FileNotFoundError:
            pass
        except OSError as e:
            raise Failure(f"{os.path.join(folder, f)}: {e.strerror}")


def run_one(harvestodb, config, shown, db, folder):
    """Runs the program on one database in its folder; True when the report is complete."""
    prepare(folder, shown)
    try:
        with open(os.path.join(folder, "stdout.txt"), "wb") as out, \
             open(os.path.join(folder, "stderr.txt"), "wb") as err:
            status = subprocess.call([harvestodb, "-odb", db, "-config", config], cwd=folder,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err)
    except OSError as e:
        write_text(os.path.join(folder, "stderr.txt"), f"{TOOL}: {harvestodb}: {e.strerror}\n")
        status = 127
    exit_text = f"signal {-status}" if status < 0 else str(status)
    write_text(os.path.join(folder, "exit.txt"), exit_text + "\n")
    return os.path.exists(os.path.join(folder, "paramsdone.txt"))


def worker(argv):
    """One database, as run by GNU parallel: --worker HARVESTODB CONFIG SHOWN DB FOLDER."""
    if len(argv) != 5:
        usage("--worker needs HARVESTODB CONFIG SHOWN DB FOLDER")
    try:
        return 0 if run_one(*argv) else 1
    except Failure as e:
        sys.stderr.write(f"{TOOL}: {e}\n")
        return 1


def find_program(opts):
    """The harvestodb executable, as an absolute path."""
    candidates = []
    if opts["harvestodb"]:
        candidates.append(opts["harvestodb"])
    candidates.append(os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), "harvestodb"))
    on_path = shutil.which("harvestodb")
    if on_path:
        candidates.append(on_path)
    for c in candidates:
        if os.path.isfile(c) and os.access(c, os.X_OK):
            return os.path.abspath(c)
        if c is opts["harvestodb"]:
            raise Failure(f"{c}: not an executable program")
    raise Failure("harvestodb not found: set HARVESTODB or --harvestodb, or put it on PATH")


# ---------------------------------------------------------------- results.csv

def first_line(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.strip():
                    return line.strip()
    except OSError:
        pass
    return ""


def read_row(folder):
    """The row of one folder: database, status, message and the report's parameters."""
    try:
        with open(os.path.join(folder, "database.txt"), encoding="utf-8", errors="replace") as f:
            shown = f.readline().rstrip("\n")
    except OSError:
        shown = os.path.basename(folder)
    params = {}
    if os.path.exists(os.path.join(folder, "paramsdone.txt")):
        try:
            with open(os.path.join(folder, "params.txt"), encoding="utf-8", errors="replace") as f:
                for line in f:
                    name, _, value = line.rstrip("\n").partition("\t")
                    if name and name not in params:
                        params[name] = value
            return shown, "done", "", params
        except OSError as e:
            return shown, "failed", f"params.txt: {e.strerror}", {}
    message = first_line(os.path.join(folder, "stderr.txt"))
    if not message:
        status = first_line(os.path.join(folder, "exit.txt"))
        if not status:
            message = "not run, or interrupted"
        elif status == "0":
            message = "harvestodb ended without a complete report"
        else:
            message = f"harvestodb ended with {'status ' if status[0].isdigit() else ''}{status}"
    return shown, "failed", message, {}


def natural_key(text):
    return [(0, int(p), "") if p.isdigit() else (1, 0, p) for p in re.split(r"([0-9]+)", text)]


def merge(out, shown_out=None):
    """Rebuilds OUT/results.csv from the folders; returns {database: status}."""
    shown_out = shown_out or out
    try:
        entries = sorted(os.listdir(out))
    except OSError as e:
        raise Failure(f"{shown_out}: {e.strerror}")
    rows = [read_row(os.path.join(out, e)) for e in entries
            if not e.startswith(".") and os.path.isfile(os.path.join(out, e, "database.txt"))]
    rows.sort(key=lambda r: natural_key(r[0]))
    names, known = [], set()
    for row in rows:
        for name in row[3]:
            if name not in known:
                known.add(name)
                names.append(name)
    target = os.path.join(out, "results.csv")
    shown_target = os.path.join(shown_out, "results.csv")
    try:
        fd, tmp = tempfile.mkstemp(prefix=".results.", suffix=".tmp", dir=out)
    except OSError as e:
        raise Failure(f"{shown_target}: {e.strerror}")
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(["database", "status", "message"] + names)
            for shown, status, message, params in rows:
                w.writerow([shown, status, message] + [params.get(n, "") for n in names])
            f.flush()
            os.fsync(f.fileno())
        os.chmod(tmp, 0o644)
        os.replace(tmp, target)
    except OSError as e:
        os.unlink(tmp)
        raise Failure(f"{shown_target}: {e.strerror}")
    return {r[0]: r[1] for r in rows}


# ---------------------------------------------------------------- engines

class Progress:
    """A one-line progress bar on a terminal: counts the folders whose run has ended."""

    def __init__(self, folders):
        self.folders = folders
        self.on = sys.stderr.isatty() and bool(folders)

    def draw(self, final=False):
        if not self.on:
            return
        done = sum(os.path.exists(os.path.join(f, "exit.txt")) for f in self.folders)
        width = 30
        fill = width * done // len(self.folders)
        sys.stderr.write(f"\r{TOOL}: [{'#' * fill}{'.' * (width - fill)}] {done}/{len(self.folders)}")
        if final:
            sys.stderr.write("\n")
        sys.stderr.flush()

    def wait(self, proc, on_interrupt=lambda: None):
        """Waits for a process, redrawing every half second; returns its status.
        Interrupted, it calls on_interrupt and stops the process."""
        try:
            while True:
                try:
                    status = proc.wait(timeout=0.5)
                    self.draw(final=True)
                    return status
                except subprocess.TimeoutExpired:
                    self.draw()
        except (KeyboardInterrupt, SystemExit):
            on_interrupt()
            proc.terminate()
            proc.wait()
            raise


def self_path():
    """The command that started this run (the console launcher, or this file under -m)."""
    return os.path.realpath(sys.argv[0])


def run_parallel(opts, program, config, todo):
    """Runs the databases still to do with GNU parallel."""
    parallel = shutil.which("parallel")
    if not parallel:
        raise Failure("GNU parallel not found (scripts/setup installs it, Debian package parallel)")
    book = os.path.join(opts["out_abs"], BOOK)
    tasks = os.path.join(book, "tasks.tsv")
    write_text(tasks, "".join(f"{shown}\t{db}\t{folder}\n" for shown, db, folder in todo))
    jobs = opts["jobs"] or str(os.cpu_count() or 1)
    cmd = [parallel, "--will-cite", "--no-run-if-empty", "-q", "-j", jobs, "--colsep", "\t",
           "-a", tasks] + opts["parallel"] + \
          [sys.executable, self_path(), "--worker", program, config, "{1}", "{2}", "{3}"]
    progress = Progress([t[2] for t in todo])
    try:
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL)
    except OSError as e:
        raise Failure(f"{parallel}: {e.strerror}")
    progress.wait(proc)


def max_array_size():
    """The cluster's MaxArraySize (1001 when it cannot be read)."""
    try:
        text = subprocess.run(["scontrol", "show", "config"], capture_output=True, text=True,
                              timeout=60).stdout
        m = re.search(r"^MaxArraySize\s*=\s*([0-9]+)", text, re.M)
        if m and int(m.group(1)) > 0:
            return int(m.group(1))
    except (OSError, subprocess.SubprocessError):
        pass
    return 1001


def slurm_template():
    """The job-array script: installed data beside the launcher, else the source tree's example."""
    here = os.path.dirname(os.path.realpath(__file__))
    for candidate in (os.path.join(os.path.dirname(self_path()), "..", "share", "harvestodb", "harvest-many.sbatch"),
                      os.path.join(here, "..", "..", "examples", "slurm", "harvest-many.sbatch")):
        if os.path.isfile(candidate):
            return os.path.realpath(candidate)
    return os.path.realpath(candidate)


def run_slurm(opts, program, config, dbs, todo_index):
    """Submits the databases still to do as one job array and waits for it."""
    script = slurm_template()
    if not os.path.isfile(script):
        raise Failure(f"{script}: missing")
    sbatch = shutil.which("sbatch")
    if not sbatch:
        raise Failure("sbatch not found (Slurm's client commands must be on PATH)")
    book = os.path.join(opts["out_abs"], BOOK)
    # Names depend on the whole set, so the list holds every database; those to
    # run come first and the array covers only them.
    todo = set(todo_index)
    order = todo_index + [i for i in range(len(dbs)) if i not in todo]
    listing = os.path.join(book, "databases.txt")
    write_text(listing, "".join(dbs[i] + "\n" for i in order))
    per_task = -(-len(todo_index) // max_array_size())
    tasks = -(-len(todo_index) // per_task)
    env = dict(os.environ, HARVEST_MANY=self_path(), HARVESTODB=program)
    cmd = [sbatch, "--wait", "--parsable", f"--array=0-{tasks - 1}", "--job-name=harvest-many",
           f"--chdir={os.getcwd()}", f"--output={os.path.join(book, 'slurm-%A_%a.log')}"] + \
          opts["slurm"] + [script, config, listing, opts["out_abs"], str(per_task)]
    folders = [os.path.join(opts["out_abs"], opts["names"][i]) for i in todo_index]
    progress = Progress(folders)
    try:
        proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    except OSError as e:
        raise Failure(f"{sbatch}: {e.strerror}")
    job = proc.stdout.readline().strip().split(";")[0]
    status = progress.wait(proc, lambda: job and subprocess.call(["scancel", job]))
    if not job:
        raise Failure(f"sbatch refused the job array (status {status})")


def run_slice(opts, program, config, dbs):
    """One Slurm array task: runs its share of the list, one database after another."""
    first, count = opts["slice"]
    ok = True
    for i in range(first, min(first + count, len(dbs))):
        folder = os.path.join(opts["out_abs"], opts["names"][i])
        db = os.path.abspath(dbs[i])
        if not up_to_date(folder, db, config, retry_failed=True):  # the submitter chose what runs
            ok = run_one(program, config, dbs[i], db, folder) and ok
    return 0 if ok else 1


def run(argv):
    if argv[:1] == ["--worker"]:
        return worker(argv[1:])
    opts = parse_args(argv)
    if opts["merge"] is not None:
        statuses = merge(opts["merge"])
        return 0 if all(s == "done" for s in statuses.values()) else 1
    config = os.path.abspath(opts["config"])
    try:
        open(config, "rb").close()
    except OSError as e:
        raise Failure(f"{opts['config']}: {e.strerror}")
    dbs = read_lists(opts)
    opts["names"] = folder_names(dbs)
    opts["out_abs"] = os.path.abspath(opts["out"])
    program = find_program(opts)
    if opts["slice"] is not None:
        return run_slice(opts, program, config, dbs)

    try:
        os.makedirs(os.path.join(opts["out_abs"], BOOK), exist_ok=True)
    except OSError as e:
        raise Failure(f"{opts['out']}: {e.strerror}")
    todo_index = []
    for i, (db, name) in enumerate(zip(dbs, opts["names"])):
        folder = os.path.join(opts["out_abs"], name)
        if up_to_date(folder, os.path.abspath(db), config, opts["retry_failed"]):
            write_text(os.path.join(folder, "database.txt"), db + "\n")
        else:
            prepare(folder, db)
            todo_index.append(i)
    sys.stderr.write(f"{TOOL}: {len(dbs)} databases, {len(dbs) - len(todo_index)} up to date, "
                     f"{len(todo_index)} to run\n")
    if todo_index:
        if opts["slurm"] is not None:
            run_slurm(opts, program, config, dbs, todo_index)
        else:
            todo = [(dbs[i], os.path.abspath(dbs[i]), os.path.join(opts["out_abs"], opts["names"][i]))
                    for i in todo_index]
            run_parallel(opts, program, config, todo)
    statuses = merge(opts["out_abs"], opts["out"])
    failed = sum(statuses.get(db) != "done" for db in dbs)
    sys.stderr.write(f"{TOOL}: {len(dbs) - failed} done, {failed} failed: "
                     f"{os.path.join(opts['out'], 'results.csv')}\n")
    return 0 if failed == 0 else 1


def main(argv=None):
    """Console entry point: runs the command line, prints tool failures, returns the exit status."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        return run(sys.argv[1:] if argv is None else argv)
    except Failure as e:
        sys.stderr.write(f"{TOOL}: {e}\n")
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
