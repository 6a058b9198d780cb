#!/usr/bin/python3
"""Many small runs: harvest-many -j J against a serial shell loop and bare GNU parallel -j J.

    bench/batch/run.py [--bin DIR] [--count N] [--size N] [--jobs J] [--runs R]

COUNT copies of one small database (odbgen --size SIZE --frames 2; defaults 200
and 2000) are extracted, each into a folder of its own, three ways in alternating
rounds: a bash loop calling harvestodb once per database, GNU parallel -j J
calling it the same way, and harvest-many -j J (a fresh output folder each
round). Prints the median seconds of each and the ratios against their goals
(harvest-many at most 1.1x bare parallel and at most 0.6x the serial loop);
status 1 when a command fails, 0 otherwise (a missed goal is printed as
"NOT met"). DIR is a build's bin/ folder (default: build/bin of this checkout).
Everything happens in a temporary folder that is deleted at the end.
"""
import argparse
import os
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CONFIG = "ODB EXTRACTIONS\nEXTRACT_MASS\nEXTRACT_HISTORY\nMINMAX_HISTORY\nEXTRACT_FIELD\nEXTRACT_STRESS\n" \
         "ENGINEERING_MAX\nPERCENTAGE=5\n"


def timed(argv, cwd, timeout=900):
    """Seconds argv took; exits with status 1 when it fails. The command runs in a session of its
    own, limited in file size, and its whole group is killed by id after the time limit."""
    def limits():
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 30, 1 << 30))
    start = time.monotonic()
    p = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, start_new_session=True, preexec_fn=limits)
    try:
        _, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.communicate()
        sys.exit(f"run.py: {argv[0]}: no end after {timeout} s")
    seconds = time.monotonic() - start
    if p.returncode != 0:
        sys.exit(f"run.py: {' '.join(argv[:3])}...: status {p.returncode}: {err.decode(errors='replace')[-400:]}")
    return seconds


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[1], formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--bin", default=os.path.join(HERE, "..", "..", "build", "bin"))
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--size", type=int, default=2000)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    bin_dir = os.path.abspath(a.bin)
    program = os.path.join(bin_dir, "harvestodb")
    for tool in ("harvestodb", "odbgen", "harvest-many"):
        if not os.access(os.path.join(bin_dir, tool), os.X_OK):
            sys.exit(f"run.py: {os.path.join(bin_dir, tool)}: missing (build it first)")
    if not shutil.which("parallel"):
        sys.exit("run.py: GNU parallel not found (Debian package parallel)")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    work = tempfile.mkdtemp(prefix="bench-batch.")
    try:
        with open(os.path.join(work, "config.txt"), "w") as f:
            f.write(CONFIG)
        os.makedirs(os.path.join(work, "dbs"))
        one = os.path.join(work, "one.odb")
        timed([os.path.join(bin_dir, "odbgen"), "--size", str(a.size), "--frames", "2", one], work)
        dbs = []
        for i in range(a.count):
            dbs.append(os.path.join(work, "dbs", f"d{i:05}.odb"))
            shutil.copyfile(one, dbs[-1])
        with open(os.path.join(work, "list.txt"), "w") as f:
            f.write("".join(d + "\n" for d in dbs))
        config = os.path.join(work, "config.txt")
        loop = ("i=0; while read -r f; do i=$((i+1)); mkdir -p \"$1/$i\" && "
                "(cd \"$1/$i\" && \"$2\" -odb \"$f\" -config \"$3\" >/dev/null) || exit 1; done < \"$4\"")
        one_run = 'mkdir -p "$1/$2" && cd "$1/$2" && exec "$3" -odb "$4" -config "$5" >/dev/null'
        ways = {
            "serial loop": lambda out: ["bash", "-c", loop, "-", out, program, config, os.path.join(work, "list.txt")],
            f"parallel -j{a.jobs}": lambda out: [
                "parallel", "--will-cite", "-q", "-j", str(a.jobs), "-a", os.path.join(work, "list.txt"),
                "bash", "-c", one_run, "-", out, "{#}", program, "{}", config],
            f"harvest-many -j {a.jobs}": lambda out: [
                os.path.join(bin_dir, "harvest-many"), config, "--list", os.path.join(work, "list.txt"),
                "-o", out, "-j", str(a.jobs), "--harvestodb", program],
        }
        seconds = {name: [] for name in ways}
        for r in range(a.runs):
            for name, argv in ways.items():
                out = os.path.join(work, "out")
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                seconds[name].append(timed(argv(out), work))
                print(f"round {r + 1}: {name}: {seconds[name][-1]:.2f} s", file=sys.stderr, flush=True)
        shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
        median = {name: statistics.median(s) for name, s in seconds.items()}
        many, par, serial = (median[n] for n in ways.keys().__reversed__())
        print(f"{a.count} databases (odbgen --size {a.size} --frames 2), medians of {a.runs} rounds, "
              f"{os.cpu_count()} processors\n")
        print("| command | seconds |\n|---|---|")
        for name, m in median.items():
            print(f"| {name} | {m:.2f} |")
        print("\n| ratio | value | goal |\n|---|---|---|")
        for name, value, goal in [(f"harvest-many / parallel", many / par, 1.1),
                                  ("harvest-many / serial loop", many / serial, 0.6)]:
            print(f"| {name} | {value:.2f} | <= {goal} {'met' if value <= goal else 'NOT met'} |")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
