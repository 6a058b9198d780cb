"""harvest-run: the one safe way to run harvestodb on a database.

  harvest-run -odb DB -config CFG [-elset SET] [-C DIR] [--harvestodb PROG]

Checks the configuration first (an "ODB EXTRACTIONS" line, known keywords one
a line, PERCENTAGE=number in (0, 100]) and refuses a faulty one with a line
naming it, then, in DIR (default: the current folder), removes params.txt and
paramsdone.txt, runs harvestodb and judges the run by a fresh paramsdone.txt
alone: status 0 when it is there, 1 otherwise, with the program's message.
A second harvest-run in a folder where one is running is refused (a lock on
DIR/.harvest-run.lock, which the system releases when its holder ends).
Paths are taken from the current folder, not from DIR.

The program is --harvestodb PROG, else HARVESTODB from the environment, else
the harvestodb beside this command (a build's bin/ folder), else the one on PATH.

Exit status: 0 for a complete report, 1 otherwise, 2 for a wrong command line.

From Python: harvestodb.run.run(odb, config, folder=".", elset=None,
harvestodb=None, check_config=True) returns RunResult(ok, status, message,
params) and never raises for a run that failed.
"""
import ctypes
import difflib
import errno
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import time
from typing import NamedTuple

TOOL = "harvest-run"
LOCK = ".harvest-run.lock"
SECTION = "ODB EXTRACTIONS"
# The configuration reader's keywords (src/run/config.cpp), PERCENTAGE with a value.
KEYWORDS = ("EXTRACT_MASS", "EXTRACT_HISTORY", "EXTRACT_FIELD", "MINMAX_HISTORY", "EXTRACT_ALL", "EXTRACT_STRESS",
            "EXTRACT_SPATIAL", "EXTRACT_ELEMENT", "EXTRACT_FIELD_SETS", "EXTRACT_FIELD_COMPONENTS",
            "DO_NOT_COMPUTE_VALUES", "ABSOLUTE_MAX", "ABSOLUTE_MIN", "ENGINEERING_MIN", "ENGINEERING_MAX",
            "PERCENTAGE", "TENSOR_INVARIANTS")


class RunResult(NamedTuple):
    """ok: a complete, fresh report; status: harvestodb's exit status (-N: ended by signal N; 1 when the
    run was refused before the program started); message: why it failed ("" when ok); params: the path
    of the run's params.txt."""
    ok: bool
    status: int
    message: str
    params: str


class ConfigError(Exception):
    """A configuration that would not give the report its author meant: 'file: line N: what'."""


def check_config(path):
    """Raises ConfigError when the configuration at path cannot be read or is faulty."""
    if os.path.isdir(path):
        raise ConfigError(f"{path}: is a directory, not a configuration file")
    try:
        with open(path, "rb") as f:
            text = f.read().decode("latin-1")
    except OSError as e:
        raise ConfigError(f"{path}: {e.strerror}")
    lines = text.split("\n")
    start = next((i for i, line in enumerate(lines) if SECTION in line), None)
    if start is None:
        raise ConfigError(f"{path}: no {SECTION} line: the program would read no keyword")
    if lines[start].strip() != SECTION:
        raise ConfigError(f"{path}: line {start + 1}: {SECTION} must stand alone on its line")
    for number, line in enumerate(lines[start + 1:], start + 2):
        word = line.strip()
        if not word:
            continue
        name, eq, value = (part.strip() for part in word.partition("="))
        if name == "PERCENTAGE":
            check_percentage(path, number, eq, value)
        elif name not in KEYWORDS or eq:
            near = difflib.get_close_matches(name.upper(), KEYWORDS, n=1, cutoff=0.6)
            hint = f" (did you mean {near[0]}?)" if near else ""
            what = f"{name}= takes no value" if name in KEYWORDS else f"unknown keyword {word}{hint}"
            raise ConfigError(f"{path}: line {number}: {what}")


def check_percentage(path, number, eq, value):
    if not eq:
        raise ConfigError(f"{path}: line {number}: PERCENTAGE without a value (PERCENTAGE=5)")
    try:
        per = float(value)
    except ValueError:
        per = None
    if per is None or per != per or not 0 < per <= 100:  # per != per: NaN
        raise ConfigError(f"{path}: line {number}: PERCENTAGE={value}: not a number in (0, 100]")


def find_program(given=None, beside=None):
    """The harvestodb executable, absolute: given, else HARVESTODB, else beside the launcher, else PATH.
    Raises ValueError when none is found or the one named is not a program."""
    named = given or os.environ.get("HARVESTODB")
    if named:
        if os.path.isfile(named) and os.access(named, os.X_OK):
            return os.path.abspath(named)
        raise ValueError(f"{named}: not an executable program")
    beside = beside or os.path.dirname(os.path.abspath(sys.argv[0] or "."))
    for candidate in (os.path.join(beside, "harvestodb"), shutil.which("harvestodb")):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.abspath(candidate)
    raise ValueError("harvestodb not found: set HARVESTODB or --harvestodb, or put it on PATH")


def database_name(odb):
    """The file the program opens for odb: it adds .odb to a name that holds no ".odb"."""
    return odb if ".odb" in odb else odb + ".odb"


def program_message(err, out=b""):
    """The first non-blank line the program wrote (standard error first), as text."""
    for stream in (err, out):
        for line in stream.decode(errors="replace").splitlines():
            if line.strip():
                return line.strip()
    return ""


def failure_message(status, err, out=b""):
    """What a run that left no marker says: its message, else how it ended."""
    message = program_message(err, out)
    if message:
        return message
    if status < 0:
        try:
            return f"harvestodb ended by signal {signal.Signals(-status).name}"
        except ValueError:
            return f"harvestodb ended by signal {-status}"
    if status == 0:
        return "harvestodb ended without a complete report"
    return f"harvestodb ended with status {status}"


_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def end_with_parent(sig):
    """Asks the kernel to send sig to this process when the thread that started it ends."""
    _libc.prctl(PR_SET_PDEATHSIG, int(sig), 0, 0, 0)


def die_with_parent():
    """A preexec function: the child gets SIGKILL when the thread that started it ends (so the
    program never outlives a killed caller)."""
    expected = os.getpid()

    def arm():
        end_with_parent(signal.SIGKILL)
        if os.getppid() != expected:  # the parent died before the line above
            os._exit(1)
    return arm


class FolderBusy(Exception):
    pass


class Lock:
    """An exclusive flock on FOLDER/.harvest-run.lock; FolderBusy when another process holds it."""

    def __init__(self, folder):
        self.fd = os.open(os.path.join(folder, LOCK), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o644)
        try:
            fcntl.flock(self.fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError as e:
            os.close(self.fd)
            if e.errno in (errno.EWOULDBLOCK, errno.EACCES):
                raise FolderBusy(f"{folder}: another harvest-run is running in this folder")
            raise

    def release(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class NoLock:
    def release(self):
        pass


class Run:
    """One run in phases, so that a pool can keep several going: begin() checks, locks and clears
    the folder and returns a RunResult when the run cannot start; start() starts the program;
    end(status, err, out) judges it and releases the folder."""

    def __init__(self, odb, config, folder=".", elset=None, harvestodb=None, check=True, cleared=False):
        """cleared: the caller holds the folder for itself and has removed the program's files."""
        self.odb, self.config, self.folder, self.elset = odb, config, folder, elset
        self.harvestodb, self.check, self.cleared = harvestodb, check, cleared
        self.params = os.path.join(folder, "params.txt")
        self.lock = None

    def refused(self, message):
        return RunResult(False, 1, message, self.params)

    def begin(self):
        try:
            self.lock = NoLock() if self.cleared else Lock(self.folder)
        except FolderBusy as e:
            return self.refused(str(e))
        except OSError as e:
            return self.refused(f"{self.folder}: {e.strerror}")
        # Cleared first, so that a refused run leaves no earlier report behind either.
        for name in () if self.cleared else ("paramsdone.txt", "params.txt"):
            try:
                os.unlink(os.path.join(self.folder, name))
            except FileNotFoundError:
                pass
            except OSError as e:
                return self.release(f"{os.path.join(self.folder, name)}: cannot remove: {e.strerror}")
        if self.check:
            try:
                check_config(self.config)
            except ConfigError as e:
                return self.release(str(e))
        elif os.path.isdir(self.config):
            return self.release(f"{self.config}: is a directory, not a configuration file")
        db = database_name(self.odb)
        if os.path.isdir(db):
            return self.release(f"{db}: is a directory, not a database")
        self.started = time.time_ns()
        return None

    def release(self, message):
        self.lock.release()
        return self.refused(message)

    def argv(self):
        here = os.path.abspath(self.folder) == os.getcwd()

        def path(p):  # as given where the program runs from the same folder, so its messages read alike
            return p if here and not p.startswith("-") else os.path.abspath(p)
        cmd = [self.harvestodb, "-odb", path(self.odb), "-config", path(self.config)]
        return cmd + (["-elset", self.elset] if self.elset is not None else [])

    def start(self, stdout=subprocess.PIPE, stderr=subprocess.PIPE, process_group=None):
        """Starts the program in the folder; the Popen, or a RunResult when it cannot start. It
        ends with the calling thread, or, in a process group of the caller's, with that group."""
        try:
            if process_group is not None:
                return subprocess.Popen(self.argv(), cwd=self.folder, stdin=subprocess.DEVNULL, stdout=stdout,
                                        stderr=stderr, process_group=process_group)
            return subprocess.Popen(self.argv(), cwd=self.folder, stdin=subprocess.DEVNULL, stdout=stdout,
                                    stderr=stderr, preexec_fn=die_with_parent())
        except OSError as e:
            self.lock.release()
            return RunResult(False, 127, f"{self.harvestodb}: {e.strerror}", self.params)

    def end(self, status, err=b"", out=b""):
        try:
            done = os.stat(os.path.join(self.folder, "paramsdone.txt"))
            # Removed before the start and locked since: a marker there is this run's. The
            # time test guards against a clock that lets a stale marker pass.
            ok = done.st_mtime_ns >= self.started - 2_000_000_000
        except OSError:
            ok = False
        self.lock.release()
        return RunResult(ok, status, "" if ok else failure_message(status, err, out), self.params)


def run(odb, config, folder=".", elset=None, harvestodb=None, check_config=True):
    """Runs harvestodb on odb with config in folder; RunResult(ok, status, message, params).
    Raises ValueError for a wrong call (no program found, a folder that does not exist) only."""
    if not isinstance(odb, (str, os.PathLike)) or not isinstance(config, (str, os.PathLike)):
        raise TypeError("odb and config are paths")
    odb, config, folder = os.fspath(odb), os.fspath(config), os.fspath(folder)
    if not os.path.isdir(folder):
        raise ValueError(f"{folder}: not a folder")
    one = Run(odb, config, folder, elset, find_program(harvestodb), check_config)
    refused = one.begin()
    if refused:
        return refused
    proc = one.start()
    if isinstance(proc, RunResult):
        return proc
    try:
        out, err = proc.communicate()
    except BaseException:
        proc.kill()
        proc.wait()
        one.lock.release()
        raise
    return one.end(proc.returncode, err, out)


# ---------------------------------------------------------------- command line

def usage(message):
    sys.stderr.write(f"{TOOL}: {message}\n")
    return 2


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    opts = {"-odb": None, "-config": None, "-elset": None, "-C": None, "--harvestodb": None}
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in ("-h", "-help", "--help"):
            sys.stdout.write(__doc__.split("\n\n", 1)[1].split("\n\nFrom Python")[0] + "\n")
            return 0
        name, eq, value = a.partition("=") if a.startswith("--") else (a, "", "")
        if name not in opts:
            return usage(f"unknown option {a}" if a.startswith("-") else f"unexpected argument {a}")
        if not eq:
            i += 1
            if i >= len(argv):
                return usage(f"{name} needs a value")
            value = argv[i]
        opts[name] = value
        i += 1
    for needed in ("-odb", "-config"):
        if opts[needed] is None:
            return usage(f"{needed} is required")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        folder = opts["-C"] or "."
        if not os.path.isdir(folder):
            raise ValueError(f"{folder}: not a folder")
        result = run(opts["-odb"], opts["-config"], folder, opts["-elset"], opts["--harvestodb"])
    except ValueError as e:
        sys.stderr.write(f"{TOOL}: {e}\n")
        return 1
    except KeyboardInterrupt:
        return 130
    if not result.ok:
        sys.stderr.write(f"{TOOL}: {result.message}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
