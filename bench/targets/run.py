#!/usr/bin/python3
"""The performance targets of a whole-model run, measured side by side.

Builds the program, the generator and the C++ read floor in Release, writes
the databases it needs (kept in BUILD/bench/targets-data between runs), runs
each group of commands as alternating rounds (median of at least five) and
prints each target's ratio with its goal. Exits 1 when a command fails or
the numpy script's numbers disagree with the program's; a missed goal is
reported, not a failure.

    bench/targets/run.py [--build DIR] [--runs N] [--quick] [--no-build]
                         [--json FILE] [--plot FILE.png]

--quick uses tiny databases and one round: the smoke test of the command."""
import argparse
import json
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PYTHON = "/usr/bin/python3"
MB = 1e6

CONFIGS = {
    "maxmin": ["EXTRACT_FIELD", "EXTRACT_ALL"],
    "full": ["EXTRACT_FIELD", "EXTRACT_ALL", "EXTRACT_FIELD_COMPONENTS", "ENGINEERING_MAX", "ENGINEERING_MIN",
             "PERCENTAGE=5"],
    "names": ["DO_NOT_COMPUTE_VALUES", "EXTRACT_FIELD", "EXTRACT_ALL", "EXTRACT_FIELD_COMPONENTS"],
}
CONFIGS["sets"] = CONFIGS["full"] + ["EXTRACT_FIELD_SETS"]
CONFIGS["invariants"] = CONFIGS["sets"] + ["TENSOR_INVARIANTS"]

# name: odbgen arguments, full size and quick
DATABASES = {
    "model": (["--elements", "1500000", "--single", "--frames", "2"], ["--elements", "3000", "--single"]),
    "small": (["--elements", "500000", "--single", "--frames", "2"], ["--elements", "1000", "--single"]),
    "large": (["--elements", "2500000", "--single", "--frames", "2"], ["--elements", "5000", "--single"]),
    "frames20": (["--elements", "150000", "--single", "--frames", "20"], ["--elements", "500", "--frames", "20"]),
    "every": (["--elements", "500000", "--single", "--frames", "1", "--sets", "every"],
              ["--elements", "1000", "--single", "--sets", "every"]),
    "manyframes": (["--elements", "20000", "--points", "1", "--single", "--frames", "500", "--sets", "none"],
                   ["--elements", "500", "--points", "1", "--single", "--frames", "20", "--sets", "none"]),
    "manyfields": (["--elements", "8", "--fields", "20000", "--frames", "1", "--sets", "none"],
                   ["--elements", "8", "--fields", "200", "--frames", "1", "--sets", "none"]),
    "f64": (["--elements", "500000", "--frames", "2"], ["--elements", "1000"]),
}
SCALE = ["small", "model", "large"]


def limit_child():
    resource.setrlimit(resource.RLIMIT_FSIZE, (4 << 30, 4 << 30))
    resource.setrlimit(resource.RLIMIT_CPU, (1800, 1800))


def timed(cmd, cwd, stdout=subprocess.DEVNULL):
    """Runs cmd; returns its wall time in seconds. Raises on failure."""
    start = time.perf_counter()
    p = subprocess.Popen(cmd, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, preexec_fn=limit_child)
    try:
        _, err = p.communicate(timeout=1800)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        raise RuntimeError(f"{' '.join(cmd)}: timed out")
    wall = time.perf_counter() - start
    if p.returncode != 0 or b"exited with error" in err:
        raise RuntimeError(f"{' '.join(cmd)}: status {p.returncode}: {err.decode(errors='replace')[-400:]}")
    return wall


def peak_rss(cmd, cwd):
    """Peak RSS of one run in bytes, from GNU time."""
    out = os.path.join(cwd, "rss.txt")
    timed(["/usr/bin/time", "-f", "%M", "-o", out] + cmd, cwd)
    return int(open(out).read().split()[-1]) * 1024


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.bin = os.path.join(self.build, "bin")
        self.data = os.path.join(self.build, "bench", "targets-data")
        self.work = tempfile.mkdtemp(prefix="harvest-targets-")
        self.rows = []
        self.results = {"runs": args.runs, "quick": args.quick, "times": {}, "rss": {}, "sizes": {}}
        for name, lines in CONFIGS.items():
            with open(os.path.join(self.work, name + ".cfg"), "w") as f:
                f.write("ODB EXTRACTIONS\n" + "\n".join(lines) + "\n")

    def database(self, name):
        full, quick = DATABASES[name]
        path = os.path.join(self.data, ("quick-" if self.args.quick else "") + name + ".odb")
        if not os.path.exists(path):
            os.makedirs(self.data, exist_ok=True)
            print(f"writing {path}", flush=True)
            subprocess.run([os.path.join(self.bin, "odbgen")] + (quick if self.args.quick else full) + [path + ".tmp"],
                           check=True, stdout=subprocess.DEVNULL, preexec_fn=limit_child)
            os.replace(path + ".tmp", path)
        self.results["sizes"][name] = os.path.getsize(path)
        return path

    def commands(self, db):
        prog = os.path.join(self.bin, "harvestodb")
        return {
            "floor": [os.path.join(self.bin, "read_floor"), db],
            "h5py": [PYTHON, os.path.join(HERE, "h5py_read.py"), db],
            "numpy": [PYTHON, os.path.join(HERE, "numpy_stats.py"), db],
            "h5ls": ["h5ls", "-r", db],
            **{c: [prog, "-odb", db, "-config", os.path.join(self.work, c + ".cfg")] for c in CONFIGS},
        }

    def medians(self, db_name, names):
        """Median wall time of each command, the commands taking turns round by round; a command
        already measured on this database keeps its figure."""
        db = self.database(db_name)
        cmds = self.commands(db)
        done = self.results["times"].get(db_name, {})
        times = {n: [] for n in names if n not in done}
        for _ in range(self.args.runs if times else 0):
            for n in times:
                times[n].append(timed(cmds[n], self.work))
        med = self.results["times"].setdefault(db_name, {})
        med.update({n: statistics.median(t) for n, t in times.items()})
        return med

    def row(self, target, what, ratio, goal, met):
        self.rows.append((target, what, ratio, goal, "met" if met else "NOT met"))
        print(f"  {target}: {what}: {ratio} (goal {goal}): {'met' if met else 'NOT met'}", flush=True)

    def agree(self, db_name):
        db = self.database(db_name)
        cmds = self.commands(db)
        timed(cmds["full"], self.work)
        subprocess.run(cmds["numpy"][:3] + ["--check", os.path.join(self.work, "params.txt")], check=True)

    def field_output_bytes(self, db_name):
        """Bytes of the largest field output of one frame: its blocks' arrays as stored, uncompressed."""
        probe = ("import h5py,sys\nf=h5py.File(sys.argv[1],'r')\nbest=0\n"
                 "for s in f['steps'].values():\n for fr in s['frames'].values():\n"
                 "  for fo in fr.get('fieldOutputs',{}).values():\n"
                 "   n=sum(d.size*d.dtype.itemsize for b in fo.get('blocks',{}).values() for d in b.values())\n"
                 "   best=max(best,n)\nprint(best)\n")
        out = subprocess.run([PYTHON, "-c", probe, self.database(db_name)], check=True, capture_output=True)
        return int(out.stdout)

    def run(self):
        print("target 2 check: the numpy script's numbers against the program's (float32, float64)", flush=True)
        self.agree("model")
        self.agree("f64")

        t = self.medians("model", ["floor", "h5py", "maxmin", "full", "numpy"])
        self.row(1, "max/min run / C++ read floor", f"{t['maxmin'] / t['floor']:.2f}x", "<= 1.2x",
                 t["maxmin"] <= 1.2 * t["floor"])
        self.row(1, "max/min run / h5py read", f"{t['maxmin'] / t['h5py']:.2f}x", "< 1x", t["maxmin"] < t["h5py"])
        self.row(2, "numpy script / full run", f"{t['numpy'] / t['full']:.2f}x faster", ">= 2.5x",
                 t["numpy"] >= 2.5 * t["full"])

        for name in ["small", "model", "frames20"]:
            db = self.database(name)
            cap = 1.25 * self.field_output_bytes(name) + 64 * 2**20
            for config in ["maxmin", "full"]:
                rss = peak_rss(self.commands(db)[config], self.work)
                self.results["rss"][f"{name}/{config}"] = rss
                self.row(3, f"peak RSS, {config}, {name} ({self.results['sizes'][name] / MB:.0f} MB file)",
                         f"{rss / MB:.0f} MB", f"<= {cap / MB:.0f} MB", rss <= cap)

        t = self.medians("every", ["maxmin", "full", "sets", "invariants"])
        sets = t["sets"] - t["full"]
        self.row(4, "set over every element / whole model (full statistics)", f"{sets / t['full']:.2f}x", "<= 2x",
                 sets <= 2 * t["full"])
        inv = t["invariants"] - t["sets"]
        self.row(4, "TENSOR_INVARIANTS on the set / the set's statistics", f"{inv / max(sets, 1e-9):.2f}x",
                 "<= 2x", inv <= 2 * sets)

        t = self.medians("manyframes", ["maxmin", "h5py", "floor"])
        self.row(5, "many small frames: max/min run / h5py read", f"{t['maxmin'] / t['h5py']:.2f}x", "<= 0.5x",
                 t["maxmin"] <= 0.5 * t["h5py"])

        sizes, progs = [], []
        for name in SCALE:
            t = self.medians(name, ["maxmin", "floor", "h5py", "numpy"])
            sizes.append(self.results["sizes"][name])
            progs.append(t["maxmin"])
        n = len(sizes)
        mx, my = sum(sizes) / n, sum(progs) / n
        slope = sum((x - mx) * (y - my) for x, y in zip(sizes, progs)) / sum((x - mx) ** 2 for x in sizes)
        worst = max(abs(y - (my + slope * (x - mx))) / (my + slope * (x - mx)) for x, y in zip(sizes, progs))
        self.row(6, f"max/min run time against size ({', '.join(f'{s / MB:.0f}' for s in sizes)} MB): "
                    "worst distance from the linear fit", f"{100 * worst:.1f} %", "<= 10 %", worst <= 0.10)

        t = self.medians("manyfields", ["names", "h5ls"])
        self.row(7, "names only, many field outputs / h5ls -r", f"{t['names'] / t['h5ls']:.2f}x", "<= 1.5x",
                 t["names"] <= 1.5 * t["h5ls"])

    def table(self):
        lines = ["| target | measured | ratio | goal | |", "|---|---|---:|---|---|"]
        lines += [f"| {t} | {w} | {r} | {g} | {m} |" for t, w, r, g, m in self.rows]
        return "\n".join(lines)


def build(args):
    subprocess.run(["cmake", "-S", SOURCE, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release",
                    "-DHARVEST_BUILD_BENCH=ON"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build, "-j2", "--target", "harvestodb", "odbgen", "read_floor"],
                   check=True, stdout=subprocess.DEVNULL)


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    labels = {"maxmin": "program (max/min)", "floor": "C++ read floor", "h5py": "h5py read", "numpy": "numpy script"}
    fig, ax = plt.subplots(figsize=(6.4, 4.2))
    for key, label in labels.items():
        xs = [results["sizes"][n] / MB for n in SCALE if n in results["times"]]
        ys = [results["times"][n][key] for n in SCALE if n in results["times"]]
        ax.plot(xs, ys, marker="o", label=label)
    ax.set_xlabel("database size (MB)")
    ax.set_ylabel("wall time, median (s)")
    ax.set_xlim(left=0)
    ax.set_ylim(bottom=0)
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(SOURCE, "build-bench"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--no-build", action="store_true")
    ap.add_argument("--json")
    ap.add_argument("--plot")
    args = ap.parse_args()
    if args.quick:
        args.runs = 1
    elif args.runs < 5:
        ap.error("--runs: at least 5")
    if not args.no_build:
        build(args)
    bench = Bench(args)
    try:
        bench.run()
    except (RuntimeError, subprocess.CalledProcessError) as e:
        print(f"run.py: {e}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(bench.work, ignore_errors=True)
    print()
    print(bench.table())
    bench.results["table"] = bench.table()
    bench.results["machine"] = f"{os.cpu_count()} CPUs, {platform.platform()}"
    if args.json:
        with open(args.json, "w") as f:
            json.dump(bench.results, f, indent=1)
    if args.plot:
        plot(bench.results, args.plot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
