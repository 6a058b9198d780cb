"""harvest-many: runs harvestodb once per database, each in a working folder
of its own, and gathers the reports into one table, OUT/results.csv.

  harvest-many CONFIG DB... [-o OUT] [-j N] [--list FILE] [--retry-failed]
  harvest-many CONFIG DB... --parallel [--parallel-args "ARGS"] [host options] [-- ARGS...]
  harvest-many CONFIG DB... --slurm [--sbatch-args "ARGS"] [-- ARGS...]
  harvest-many --merge OUT

Options go in any order.  Each database runs in OUT/<name>/, where <name> is
the database's file name without its extension, or, for databases whose file
names repeat, its path with "/" turned into "__" (a/job.odb -> a__job).  One
database is one row, however its path is spelt (./p.odb and its absolute path
are one).  A folder holds what the program leaves (params.txt, paramsdone.txt),
its output (stdout.txt, stderr.txt), its exit status (exit.txt), the database's
path as given (database.txt) and the run's identity (identity.txt: the
database's resolved path, size and modification time, and a hash of the
configuration's content).  A database whose folder holds a complete report of
the same identity is not run again; nor is one whose last run of the same
identity failed: a second invocation over an unchanged study runs nothing.
--retry-failed runs the failed ones again.  An interrupted invocation says
what finished; the same command resumes it.

The runs go to a pool of -j N programs at a time (default: one per
processor), or through GNU parallel (--parallel, or any of its host options
such as --sshlogin, for hosts that see the same paths), or to one Slurm job
array (--slurm).  Further options for parallel or sbatch go in --parallel-args
or --sbatch-args (one string, split as a shell would) or after "--".  Only one
harvest-many at a time works on an output folder; a second one is refused.
The configuration is checked first (as harvest-run checks it).  The program
is HARVESTODB from the environment or --harvestodb, else the harvestodb next
to this command's link (a build's bin/ folder), else the one on PATH.

Exit status: 0 when every database completed, 1 when one did not or a file
could not be written, 2 for a wrong command line, 130 or 143 when
interrupted.
"""
import collections
import contextlib
import csv
import errno
import fcntl
import hashlib
import os
import re
import shlex
import signal
import shutil
import socket
import subprocess
import sys
import tempfile

from harvestodb import run as safe

TOOL = "harvest-many"
BOOK = ".harvest-many"  # bookkeeping folder inside OUT, skipped by the merge
OWN_FILES = ("identity.txt", "identity.txt.tmp", "paramsdone.txt", "params.txt", "exit.txt", "stdout.txt",
             "stderr.txt")
INTERRUPTING = {-signal.SIGINT, -signal.SIGTERM, -signal.SIGHUP, -signal.SIGKILL}

# GNU parallel options that choose and reach the hosts; each takes a value.
PARALLEL_HOST_OPTIONS = {"-S", "--sshlogin", "--slf", "--sshloginfile", "--ssh", "--sshdelay",
                         "--filter-hosts", "--controlmaster", "-M", "--workdir", "--wd", "--env",
                         "--basefile", "--bf", "--retries", "--timeout", "--memfree", "--load"}
PARALLEL_FLAGS = {"--filter-hosts", "--controlmaster", "-M"}  # these take no value


class Failure(Exception):
    """A tool failure: message printed as 'harvest-many: message', exit status 1."""


class Usage(Exception):
    """A wrong command line: one line, exit status 2."""


def parse_args(argv):
    opts = {"config": None, "dbs": [], "out": "harvest-out", "jobs": None, "lists": [],
            "harvestodb": None, "parallel": [], "use_parallel": False, "slurm": None, "extra": [],
            "merge": None, "slice": None, "retry_failed": False, "help": False}
    i = 0

    def value(name):
        nonlocal i
        if "=" in argv[i] and argv[i].startswith("--"):
            return argv[i].split("=", 1)[1]
        i += 1
        if i >= len(argv):
            raise Usage(f"{name} needs a value")
        return argv[i]

    def split(name, text):
        try:
            return shlex.split(text)
        except ValueError as e:
            raise Usage(f"{name}: {e}")

    while i < len(argv):
        a = argv[i]
        name = a.split("=", 1)[0] if a.startswith("--") else a
        if a == "--":
            opts["extra"] = argv[i + 1:]
            break
        elif a == "--slurm":
            opts["slurm"] = []
        elif name == "--sbatch-args":
            opts["slurm"] = (opts["slurm"] or []) + split(name, value(name))
        elif a == "--parallel":
            opts["use_parallel"] = True
        elif name == "--parallel-args":
            opts["parallel"] += split(name, value(name))
            opts["use_parallel"] = True
        elif name in ("-o", "--out"):
            opts["out"] = value(name)
        elif name in ("-j", "--jobs"):
            opts["jobs"] = value(name)
            if not re.fullmatch(r"[1-9][0-9]*", opts["jobs"]):
                raise Usage(f"-j {opts['jobs']}: not a positive number")
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
                raise Usage("--slice needs FIRST:COUNT")
            opts["slice"] = (int(m.group(1)), int(m.group(2)))
        elif name in PARALLEL_FLAGS:
            opts["parallel"].append(a)
            opts["use_parallel"] = True
        elif name in PARALLEL_HOST_OPTIONS:
            opts["parallel"] += [name, value(name)]
            opts["use_parallel"] = True
        elif a in ("-h", "--help"):
            opts["help"] = True
            return opts
        elif a.startswith("-") and a != "-":
            raise Usage(f"unknown option {a}")
        elif opts["config"] is None:
            opts["config"] = a
        else:
            opts["dbs"].append(a)
        i += 1
    if opts["slurm"] is not None and opts["use_parallel"]:
        raise Usage("--slurm and GNU parallel's options exclude each other")
    if opts["slurm"] is not None:
        opts["slurm"] += opts["extra"]
    elif opts["extra"]:
        opts["parallel"] += opts["extra"]
        opts["use_parallel"] = True
    if opts["merge"] is not None:
        if opts["config"] or opts["dbs"] or opts["lists"]:
            raise Usage("--merge takes only the output folder")
        return opts
    if opts["config"] is None:
        raise Usage("no configuration file")
    return opts


def database_key(db):
    """One database, however its path is spelt: the file the program opens, symbolic links resolved."""
    return os.path.realpath(safe.database_name(db))


def read_lists(opts):
    """The databases from the command line and the --list files, first spelling of each kept."""
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
        key = database_key(db)
        if key not in seen:
            seen.add(key)
            unique.append(db)
    if not unique:
        raise Usage("no databases")
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


def config_hash(config):
    """The configuration's content hash: what decides whether reports made with it still hold."""
    try:
        with open(config, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError as e:
        raise Failure(f"{config}: {e.strerror}")


def identity(db, config_sha, key=None):
    """What a report stands for: the database's resolved path, size and modification time (a
    stat, not a content hash, so that deciding costs nothing beside the runs), and the
    configuration's content hash."""
    path = key or database_key(db)
    try:
        st = os.stat(path)
        state = f"size {st.st_size}\nmtime_ns {st.st_mtime_ns}\n"
    except OSError:
        state = "missing\n"
    return f"database {path}\n{state}config-sha256 {config_sha}\n"


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return None


def up_to_date(folder, db, config_sha, retry_failed, key=None):
    """True when the folder holds the result of a run on the database as it is now, with this
    configuration: a complete report, or (unless failures are retried) the record of a failed run."""
    if read_text(os.path.join(folder, "identity.txt")) != identity(db, config_sha, key):
        return False
    if os.path.exists(os.path.join(folder, "paramsdone.txt")):
        return True
    if retry_failed:
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


def put(path, text):
    """Writes a small file of a run's record; Failure naming it when it cannot. Not atomic: the
    identity, written last with write_text, says whether the record is whole."""
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as e:
        raise Failure(f"{path}: {e.strerror}")


def prepare(folder, shown):
    """Creates the folder, removes an earlier run's files (the identity first, so that an
    interruption leaves no report that looks complete) and records the database path."""
    try:
        os.mkdir(folder)
    except FileExistsError:
        for f in OWN_FILES:
            try:
                os.unlink(os.path.join(folder, f))
            except FileNotFoundError:
                pass
            except OSError as e:
                raise Failure(f"{os.path.join(folder, f)}: {e.strerror}")
    except OSError:
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as e:
            raise Failure(f"{folder}: {e.strerror}")
    put(os.path.join(folder, "database.txt"), shown + "\n")


class Job:
    """One database's run in its folder, started and ended apart so that a pool can keep several
    going. The folder is the caller's: harvest-many holds the output folder."""

    def __init__(self, program, config, config_sha, shown, db, folder, key=None):
        self.shown, self.db, self.folder, self.key = shown, db, folder, key
        self.config_sha = config_sha
        self.run = safe.Run(db, config, folder, None, program, check=False, cleared=True)
        self.proc = None

    def prepare(self):
        """Clears the folder and takes the database's identity as it is before the run."""
        prepare(self.folder, self.shown)
        self.identity = identity(self.db, self.config_sha, self.key)
        return self

    def start(self, process_group=None):
        """Starts the program; False when it could not start (the failure is recorded)."""
        if not hasattr(self, "identity"):
            self.prepare()
        refused = self.run.begin()
        if refused:
            return self.record(refused.status, refused.message)
        try:
            with open(os.path.join(self.folder, "stdout.txt"), "wb") as out, \
                 open(os.path.join(self.folder, "stderr.txt"), "wb") as err:
                proc = self.run.start(stdout=out, stderr=err, process_group=process_group)
        except OSError as e:
            raise Failure(f"{self.folder}: {e.strerror}")
        if isinstance(proc, safe.RunResult):
            return self.record(proc.status, proc.message)
        self.proc = proc
        return True

    def end(self, status):
        """Records how the run ended; True when the report is complete. A run ended by an
        interrupting signal leaves no record, so that it runs again."""
        result = self.run.end(status)
        if status in INTERRUPTING:
            return False
        return self.record(status, None) and result.ok

    def record(self, status, message):
        if message:
            put(os.path.join(self.folder, "stderr.txt"), f"{TOOL}: {message}\n")
        exit_text = f"signal {-status}" if status < 0 else str(status)
        put(os.path.join(self.folder, "exit.txt"), exit_text + "\n")
        # Last, and whole or not at all: a signal between opening and writing the file would
        # leave an empty identity beside a complete report.
        write_text(os.path.join(self.folder, "identity.txt"), self.identity)
        return message is None


def run_one(program, config, shown, db, folder):
    """Runs the program on one database in its folder; True when the report is complete."""
    job = Job(program, config, config_hash(config), shown, db, folder)
    if not job.start():
        return False
    try:
        job.proc.wait()
    except BaseException:
        job.proc.kill()
        job.proc.wait()
        raise
    return job.end(job.proc.returncode)


def worker(argv):
    """One database, as run by GNU parallel: --worker HOST:PID HARVESTODB CONFIG SHOWN DB FOLDER.
    It ends with its parent, and does not start once harvest-many (on this host) has ended."""
    if len(argv) != 6:
        raise Usage("--worker needs HOST:PID HARVESTODB CONFIG SHOWN DB FOLDER")
    safe.end_with_parent(signal.SIGTERM)  # then SystemExit, which stops the program
    host, _, pid = argv[0].rpartition(":")
    if host == socket.gethostname():
        try:
            os.kill(int(pid), 0)
        except ProcessLookupError:
            return 1
        except (OSError, ValueError):
            pass
    try:
        return 0 if run_one(*argv[1:]) else 1
    except Failure as e:
        sys.stderr.write(f"{TOOL}: {e}\n")
        return 1


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
    """The row of one folder: database, status, message and the report's parameters. A report
    counts only with the run's identity beside it (written last, after the run ended)."""
    try:
        with open(os.path.join(folder, "database.txt"), encoding="utf-8", errors="replace") as f:
            shown = f.readline().rstrip("\n")
    except OSError:
        shown = os.path.basename(folder)
    params = {}
    recorded = os.path.exists(os.path.join(folder, "identity.txt"))
    if recorded and os.path.exists(os.path.join(folder, "paramsdone.txt")):
        try:
            with open(os.path.join(folder, "params.txt"), encoding="utf-8", errors="replace") as f:
                for line in f:
                    name, _, value = line.rstrip("\n").partition("\t")
                    if name and name not in params:
                        params[name] = value
            return shown, "done", "", params
        except OSError as e:
            return shown, "failed", f"params.txt: {e.strerror}", {}
    if not recorded:
        return shown, "failed", "not run, or interrupted", {}
    message = first_line(os.path.join(folder, "stderr.txt"))
    if not message:
        status = first_line(os.path.join(folder, "exit.txt"))
        if status == "0":
            message = "harvestodb ended without a complete report"
        else:
            message = f"harvestodb ended with {'status ' if status[:1].isdigit() else ''}{status}"
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
    """A one-line progress bar on a terminal: counts the runs that have ended."""

    def __init__(self, folders):
        self.folders = folders
        self.on = sys.stderr.isatty() and bool(folders)

    def draw(self, done=None, final=False):
        if not self.on:
            return
        if done is None:
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
            proc.kill()
            proc.wait()
            raise


def self_path():
    """The command that started this run (the console launcher, or this file under -m)."""
    return os.path.realpath(sys.argv[0])


class Watchdog:
    """A process that leads a process group for the runs and kills that group when this process
    ends, however it ends (it waits for the end of a pipe only this process writes to)."""

    def __init__(self):
        r, w = os.pipe()
        pid = os.fork()
        if pid == 0:  # the watchdog: nothing of the parent's but the pipe's end
            try:
                os.setpgid(0, 0)
                signal.signal(signal.SIGINT, signal.SIG_IGN)
                signal.signal(signal.SIGTERM, signal.SIG_DFL)
                os.closerange(0, r)
                os.closerange(r + 1, 1 << 16)
                while os.read(r, 1):
                    pass
                os.killpg(0, signal.SIGKILL)
            finally:
                os._exit(0)
        os.close(r)
        with contextlib.suppress(OSError):
            os.setpgid(pid, pid)  # also here, so that the group exists before the first run joins it
        self.pid, self.pipe = pid, w

    def end(self):
        """Stops the group (runs still in it included) and the watchdog."""
        os.close(self.pipe)
        with contextlib.suppress(ChildProcessError):
            os.waitpid(self.pid, 0)


def run_pool(opts, program, config, config_sha, todo):
    """Runs the databases still to do locally, -j at a time, as children of this process in the
    watchdog's group; no interpreter starts per database."""
    jobs = int(opts["jobs"] or os.cpu_count() or 1)
    pending = collections.deque(todo)
    running = {}
    progress = Progress([t[2] for t in todo])
    ended = 0
    watchdog = Watchdog()
    ready = None  # the next job, its folder made ready while the runs go on

    def fill():
        nonlocal ended, ready
        while (ready or pending) and len(running) < jobs:
            job = ready or Job(program, config, config_sha, *pending.popleft()).prepare()
            ready = None
            if job.start(watchdog.pid):
                running[job.proc.pid] = job
            else:
                ended += 1

    try:
        while ready or pending or running:
            fill()
            if not running:
                continue
            if ready is None and pending:
                ready = Job(program, config, config_sha, *pending.popleft()).prepare()
            pid, wait_status = os.wait()
            job = running.pop(pid, None)
            if job is None:
                continue
            job.proc.returncode = os.waitstatus_to_exitcode(wait_status)  # reaped here, not by Popen
            fill()  # the next run starts before this one's record is written
            job.end(job.proc.returncode)
            ended += 1
            progress.draw(ended)
        progress.draw(ended, final=True)
    except BaseException:
        for job in running.values():
            with contextlib.suppress(OSError):
                job.proc.kill()
        for job in running.values():
            job.proc.wait()
        raise
    finally:
        watchdog.end()


# The worker's command: this package from where this module was loaded, no launcher needed.
WORKER = "import sys; sys.path.insert(0, %r); from harvestodb.many import main; sys.exit(main())" % \
    os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run_parallel(opts, program, config, todo):
    """Runs the databases still to do with GNU parallel, which ends with this process, and
    its workers with it."""
    parallel = shutil.which("parallel")
    if not parallel:
        raise Failure("GNU parallel not found (scripts/setup installs it, Debian package parallel)")
    book = os.path.join(opts["out_abs"], BOOK)
    tasks = os.path.join(book, "tasks.tsv")
    write_text(tasks, "".join(f"{shown}\t{db}\t{folder}\n" for shown, db, folder in todo))
    jobs = opts["jobs"] or str(os.cpu_count() or 1)
    cmd = [parallel, "--will-cite", "--no-run-if-empty", "-q", "-j", jobs, "--colsep", "\t",
           "-a", tasks] + opts["parallel"] + \
          [sys.executable, "-c", WORKER, "--worker", f"{socket.gethostname()}:{os.getpid()}", program, config,
           "{1}", "{2}", "{3}"]
    progress = Progress([t[2] for t in todo])
    try:
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, preexec_fn=safe.die_with_parent())
    except OSError as e:
        raise Failure(f"{parallel}: {e.strerror}")
    progress.wait(proc)  # interrupted, parallel is killed and its workers end with it


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
    sha = config_hash(config)
    for i in range(first, min(first + count, len(dbs))):
        folder = os.path.join(opts["out_abs"], opts["names"][i])
        if not up_to_date(folder, dbs[i], sha, retry_failed=True):  # the submitter chose what runs
            ok = run_one(program, config, dbs[i], os.path.abspath(dbs[i]), folder) and ok
    return 0 if ok else 1


def lock_out(out_abs, shown):
    """Holds OUT/.harvest-many/lock for the whole invocation (the kernel lets it go when this
    process ends, however it ends); a second harvest-many on the folder is refused."""
    book = os.path.join(out_abs, BOOK)
    try:
        os.makedirs(book, exist_ok=True)
        fd = os.open(os.path.join(book, "lock"), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o644)
    except OSError as e:
        raise Failure(f"{shown}: {e.strerror}")
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError as e:
        if e.errno not in (errno.EWOULDBLOCK, errno.EACCES):
            raise Failure(f"{shown}: {e.strerror}")
        holder = os.pread(fd, 64, 0).decode(errors="replace").strip()
        raise Failure(f"{shown}: another harvest-many{' (' + holder + ')' if holder else ''} is working "
                      f"on this folder; wait for it to end or choose another -o")
    os.ftruncate(fd, 0)
    os.pwrite(fd, f"process {os.getpid()} on {socket.gethostname()}\n".encode(), 0)
    return fd


def run(argv):
    if argv[:1] == ["--worker"]:
        return worker(argv[1:])
    opts = parse_args(argv)
    if opts["help"]:
        sys.stdout.write(__doc__.split("\n\n", 1)[1])
        return 0
    opts["harvestodb"] = opts["harvestodb"] or os.environ.get("HARVESTODB")
    if opts["merge"] is not None:
        statuses = merge(opts["merge"])
        return 0 if all(s == "done" for s in statuses.values()) else 1
    config = os.path.abspath(opts["config"])
    dbs = read_lists(opts)
    opts["names"] = folder_names(dbs)
    opts["keys"] = [database_key(db) for db in dbs]
    opts["out_abs"] = os.path.abspath(opts["out"])
    try:
        program = safe.find_program(opts["harvestodb"], os.path.dirname(os.path.abspath(sys.argv[0])))
    except ValueError as e:
        raise Failure(str(e))
    if opts["slice"] is not None:
        return run_slice(opts, program, config, dbs)
    try:
        safe.check_config(opts["config"])
    except safe.ConfigError as e:
        raise Failure(str(e))
    sha = config_hash(config)
    lock_out(opts["out_abs"], opts["out"])
    todo_index = []
    for i, (db, name) in enumerate(zip(dbs, opts["names"])):
        folder = os.path.join(opts["out_abs"], name)
        if up_to_date(folder, db, sha, opts["retry_failed"], opts["keys"][i]):
            if read_text(os.path.join(folder, "database.txt")) != db + "\n":
                write_text(os.path.join(folder, "database.txt"), db + "\n")
        else:
            todo_index.append(i)
    sys.stderr.write(f"{TOOL}: {len(dbs)} databases, {len(dbs) - len(todo_index)} up to date, "
                     f"{len(todo_index)} to run\n")
    try:
        if todo_index and opts["slurm"] is not None:
            for i in todo_index:
                prepare(os.path.join(opts["out_abs"], opts["names"][i]), dbs[i])
            run_slurm(opts, program, config, dbs, todo_index)
        elif todo_index:
            todo = [(dbs[i], os.path.abspath(dbs[i]), os.path.join(opts["out_abs"], opts["names"][i]),
                     opts["keys"][i]) for i in todo_index]
            if opts["use_parallel"]:
                for shown, _, folder, _ in todo:
                    prepare(folder, shown)
                run_parallel(opts, program, config, [t[:3] for t in todo])
            else:
                run_pool(opts, program, config, sha, todo)
    except (KeyboardInterrupt, SystemExit) as e:
        statuses = merge(opts["out_abs"], opts["out"])
        done = sum(statuses.get(db) == "done" for db in dbs)
        left = sum(not up_to_date(os.path.join(opts["out_abs"], n), db, sha, False)
                   for db, n in zip(dbs, opts["names"]))
        sys.stderr.write(f"\n{TOOL}: interrupted: {done} done, {len(dbs) - done - left} failed, {left} not run; "
                         f"the same command runs those not run (add --retry-failed for the failed): "
                         f"{os.path.join(opts['out'], 'results.csv')}\n")
        return e.code if isinstance(e, SystemExit) and isinstance(e.code, int) else 130
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
    except Usage as e:
        sys.stderr.write(f"{TOOL}: {e} (try {TOOL} --help)\n")
        return 2
    except Failure as e:
        sys.stderr.write(f"{TOOL}: {e}\n")
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
