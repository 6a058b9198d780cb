"""What the Python test harnesses share: guarded child processes, a scratch folder that always goes,
file helpers and a collector of failed checks."""
import collections
import contextlib
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Every keyword that reads values: a report of everything a database holds.
ALL_KEYWORDS = "\n".join([
    "ODB EXTRACTIONS", "EXTRACT_MASS", "EXTRACT_HISTORY", "MINMAX_HISTORY", "EXTRACT_FIELD", "EXTRACT_ALL",
    "EXTRACT_SPATIAL", "EXTRACT_ELEMENT", "EXTRACT_STRESS", "EXTRACT_FIELD_SETS", "EXTRACT_FIELD_COMPONENTS",
    "ENGINEERING_MAX", "ENGINEERING_MIN", "TENSOR_INVARIANTS", "ABSOLUTE_MAX", "ABSOLUTE_MIN", "PERCENTAGE=5", ""])

Run = collections.namedtuple("Run", "status out err seconds")  # status: None after the time limit, -N for signal N


def start(argv, cwd=None, timeout=60, fsize=64 << 20, memory=None, env=None):
    """Starts argv without input in a session of its own, limited in file size, CPU time (so that an
    orphan of a killed harness still ends) and core dumps, and in address space when memory is given
    (not for our own programs: a sanitizer build reserves terabytes)."""
    limits = [(resource.RLIMIT_CPU, int(timeout) + 10), (resource.RLIMIT_FSIZE, fsize), (resource.RLIMIT_CORE, 0)]
    limits += [(resource.RLIMIT_AS, memory)] if memory else []
    return subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=True,
                            preexec_fn=lambda: [resource.setrlimit(k, (n, n)) for k, n in limits])


def run(argv, cwd=None, timeout=60, fsize=64 << 20, memory=None, env=None, text=False):
    """Runs argv as start() does; on timeout the whole process group is killed by its id."""
    begin = time.monotonic()
    p = start(argv, cwd, timeout, fsize, memory, env)
    try:
        out, err = p.communicate(timeout=timeout)
        status = p.returncode
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, err = p.communicate()
        status = None
    if text:
        out, err = out.decode(errors="replace"), err.decode(errors="replace")
    return Run(status, out, err, time.monotonic() - begin)


@contextlib.contextmanager
def scratch(prefix):
    """A temporary folder, deleted on the way out, also on SIGTERM (ctest's timeout); HARVEST_KEEP_TMP=1 keeps it."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    folder = tempfile.mkdtemp(prefix=prefix)
    try:
        yield folder
    finally:
        if not os.environ.get("HARVEST_KEEP_TMP"):
            shutil.rmtree(folder, ignore_errors=True)


def fresh(folder):
    """folder, emptied or made."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def report_lines(path):
    """(name, value text) of each line of a report (params.txt), in file order."""
    return [tuple(line.rsplit("\t", 1)) for line in read(path, "r").splitlines()]


def present(folder, *names):
    """{name: bytes} of those of names that are files in folder."""
    return {n: read(os.path.join(folder, n)) for n in names if os.path.isfile(os.path.join(folder, n))}


def skip(label, why):
    """Says why the test cannot run here; the status ctest counts as skipped."""
    print("%s: skipped: %s" % (label, why), flush=True)
    return 77


failures = []


def check(name, ok, detail=""):
    """Records a failed check and prints it (the first 50 in full); returns ok."""
    if not ok:
        failures.append(name)
        if len(failures) <= 50:
            print("FAIL %s%s" % (name, ": " + detail if detail else ""), flush=True)
    return ok


def finish(label):
    """Prints the verdict; the exit status."""
    print("%s: %s" % (label, "%d failure(s)" % len(failures) if failures else "ok"))
    return 1 if failures else 0
