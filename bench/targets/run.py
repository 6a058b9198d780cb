#!/usr/bin/python3
"""The performance targets of a whole-model run, measured side by side.

Builds the program, the generator and the C++ read floor in Release, writes
the databases it needs (kept in BUILD/bench/targets-data between runs), runs
each group of commands as alternating rounds (median of at least five) and
prints each target's ratio with its goal. Exits 1 when a command fails or
the numpy script's numbers disagree with the program's; a missed goal is
reported, not a failure.

    bench/targets/run.py [--build DIR] [--runs N] [--quick] [--no-build] [--big [--keep-big] [--big-elements N]]
                         [--only speed|budget|export] [--json FILE] [--plot FILE.png] [--plot-rss FILE.png]

The budget targets run the program with HARVEST_MEMORY_MB (256, or 0.05 with
--quick so that a tiny field output still takes several passes) beside the
same run held in memory; their reports must be identical byte for byte, or
the command exits 1. --big adds a database whose stress field output is
4.2 GB as stored (22 M elements, about 11 GB on disk and a few minutes to
write; deleted at the end unless --keep-big, when this command wrote it) and
the runs on it: the in-memory run with sets and invariants holds about 11 GB
there (--big-elements N makes it smaller). --quick uses tiny databases and one round: the smoke
test of the command.

The export target times odb2xdmf on model from a cold cache, its writes on
the disk (sync) included, against the disk's floor: a cold read of the
database and a write of the export's size that waits for the disk, over the
last such write as each export replaces the last export: with only the
database's and the old export's pages dropped (the program's own files stay
cached, as in a loop that runs it), and as root also with every cache
dropped first."""
import argparse
import glob
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
# Only with --big: the stress values of 22 M elements x 8 points x 6 float32 = 4.2 GB as stored.
BIG_ELEMENTS = 22_000_000
SCALE = ["small", "model", "large"]
BUDGET_MB = {False: "256", True: "0.05"}  # by --quick
BUDGET_SLACK = 64e6  # the peak RSS a budgeted run may hold beyond its budget
IN_MEMORY_MB = "1000000"  # a budget that holds any field output here: one read, no passes over the file


def limit_child(file_bytes=4 << 30):
    """Caps a child's file size and CPU time, never above the limits this command runs under."""
    for what, cap in [(resource.RLIMIT_FSIZE, file_bytes), (resource.RLIMIT_CPU, 1800)]:
        hard = resource.getrlimit(what)[1]
        cap = cap if hard == resource.RLIM_INFINITY else min(cap, hard)
        resource.setrlimit(what, (cap, cap))


def environment(name, quick):
    """The environment of a command: name@budget runs under the memory budget, name@memory with a budget that
    holds everything, any other as the machine gives it (the program picks its own budget)."""
    env = {k: v for k, v in os.environ.items() if k != "HARVEST_MEMORY_MB"}
    if name.endswith("@budget"):
        env["HARVEST_MEMORY_MB"] = BUDGET_MB[quick]
    elif name.endswith("@memory"):
        env["HARVEST_MEMORY_MB"] = IN_MEMORY_MB
    return env


def read_whole(path):
    """Reads a file into the page cache the fastest way found here: the whole file asked of the
    kernel at once (WILLNEED, 2 MB a request: the kernel reads at most read_ahead_kb of each), then
    sent to /dev/null, which waits for it. On the development machine a cold cat read 1.2 GB in 0.6
    to 2.3 s where this took 0.59 to 0.78 s."""
    fd = os.open(path, os.O_RDONLY)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        size = os.fstat(fd).st_size
        for at in range(0, size, 2 << 20):
            os.posix_fadvise(fd, at, min(2 << 20, size - at), os.POSIX_FADV_WILLNEED)
        at = 0
        while at < size:
            at += os.sendfile(null, fd, at, size - at) or size
    finally:
        os.close(fd)
        os.close(null)


def timed(cmd, cwd, stdout=subprocess.DEVNULL, env=None):
    """Runs cmd; returns its wall time in seconds. Raises on failure."""
    start = time.perf_counter()
    p = subprocess.Popen(cmd, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, preexec_fn=limit_child, env=env)
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


def peak_rss(cmd, cwd, env=None, stdout=subprocess.DEVNULL):
    """Peak RSS of one run in bytes, from GNU time."""
    out = os.path.join(cwd, "rss.txt")
    timed(["/usr/bin/time", "-f", "%M", "-o", out] + cmd, cwd, stdout=stdout, env=env)
    return int(open(out).read().split()[-1]) * 1024


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.bin = os.path.join(self.build, "bin")
        self.data = os.path.join(self.build, "bench", "targets-data")
        self.work = tempfile.mkdtemp(prefix="harvest-targets-")
        self.rows = []
        self.results = {"runs": args.runs, "quick": args.quick, "times": {}, "rss": {}, "sizes": {},
                        "budget_mb": float(BUDGET_MB[args.quick]), "rss_scale": {}}
        self.differs = []
        self.written = set()  # the databases this run wrote (only these may be deleted at its end)
        for name, lines in CONFIGS.items():
            with open(os.path.join(self.work, name + ".cfg"), "w") as f:
                f.write("ODB EXTRACTIONS\n" + "\n".join(lines) + "\n")

    def database(self, name):
        big = ["--elements", str(self.args.big_elements), "--single", "--frames", "1"]
        full, quick = DATABASES.get(name, (big, None))
        path = self.path(name)
        if not os.path.exists(path):
            os.makedirs(self.data, exist_ok=True)
            print(f"writing {path}", flush=True)
            cap = (16 << 30) if name == "big" else (4 << 30)
            writer = [os.path.join(self.bin, "odbgen")]
            if name == "h5pymodel":  # model's contents, one block per field output, as an h5py script writes them
                writer = [PYTHON, os.path.join(HERE, "h5py_db.py"), "--elements"]
                full, quick = ["1500000"], ["3000"]
            try:
                subprocess.run(writer + (quick if self.args.quick else full) + [path + ".tmp"],
                               check=True, stdout=subprocess.DEVNULL, preexec_fn=lambda: limit_child(cap))
            except BaseException:
                if os.path.exists(path + ".tmp"):  # a half-written database can be gigabytes
                    os.remove(path + ".tmp")
                raise
            os.replace(path + ".tmp", path)
            self.written.add(name)
        self.results["sizes"][name] = os.path.getsize(path)
        return path

    def path(self, name):
        if name == "big":
            name += f"-{self.args.big_elements}"
        return os.path.join(self.data, ("quick-" if self.args.quick else "") + name + ".odb")

    def commands(self, db):
        prog = os.path.join(self.bin, "harvestodb")
        return {
            "floor": [os.path.join(self.bin, "read_floor"), db],
            "floor_whole": [os.path.join(self.bin, "read_floor"), "--whole", "--all", db],
            "floor_raw": [os.path.join(self.bin, "read_floor"), "--raw", db],
            "h5py": [PYTHON, os.path.join(HERE, "h5py_read.py"), db],
            "numpy": [PYTHON, os.path.join(HERE, "numpy_stats.py"), db],
            "h5ls": ["h5ls", "-r", db],
            **{c + how: [prog, "-odb", db, "-config", os.path.join(self.work, c + ".cfg")]
               for c in CONFIGS for how in ["", "@budget", "@memory"]},
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
                times[n].append(timed(cmds[n], self.work, env=environment(n, self.args.quick)))
        med = self.results["times"].setdefault(db_name, {})
        med.update({n: statistics.median(t) for n, t in times.items()})
        return med

    def in_turns(self, db_names, name):
        """Median wall time of one command on each database, the databases taking turns round by round,
        so that a change in the machine's state (this VM's memory) falls on all of them alike."""
        cmds = [self.commands(self.database(d))[name] for d in db_names]
        times = [[] for _ in db_names]
        for _ in range(self.args.runs):
            for t, cmd in zip(times, cmds):
                t.append(timed(cmd, self.work, env=environment(name, self.args.quick)))
        return [statistics.median(t) for t in times]

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

    def report(self, db_name, name):
        """The bytes a run prints: stdout, params.txt and paramsdone.txt, in a fresh folder."""
        folder = tempfile.mkdtemp(dir=self.work)
        with open(os.path.join(folder, "stdout.txt"), "wb") as out:
            rss = peak_rss(self.commands(self.database(db_name))[name], folder, environment(name, self.args.quick),
                           stdout=out)
        files = {}
        for f in ["stdout.txt", "params.txt", "paramsdone.txt"]:
            path = os.path.join(folder, f)
            files[f] = open(path, "rb").read() if os.path.exists(path) else None
        shutil.rmtree(folder)
        return files, rss

    def same_report(self, db_name, config):
        """Compares the budgeted run's report with the in-memory run's; returns the budgeted run's peak RSS."""
        ours, rss = self.report(db_name, config + "@budget")
        theirs, _ = self.report(db_name, config + "@memory")
        bad = [f for f in ours if ours[f] != theirs[f]]
        if bad:
            self.differs.append(f"{db_name}/{config}: {', '.join(bad)}")
        what = f"report under the budget = in-memory report, {config}, {db_name}"
        self.row("budget", what, "identical" if not bad else "DIFFERS: " + ", ".join(bad), "identical", not bad)
        return rss

    def budget_targets(self):
        budget = float(BUDGET_MB[self.args.quick]) * MB
        print(f"budget targets (HARVEST_MEMORY_MB={BUDGET_MB[self.args.quick]})", flush=True)
        for name in ["model", "f64", "every"]:
            self.same_report(name, "invariants")
        t = self.medians("model", ["full", "full@budget"])
        self.row("passes", "full run under the budget / in memory, model", f"{t['full@budget'] / t['full']:.2f}x",
                 "<= 2.5x", t["full@budget"] <= 2.5 * t["full"])
        scale = SCALE + (["big"] if self.args.big else [])
        for name in scale:
            db = self.database(name)
            cmds = self.commands(db)
            entry = self.results["rss_scale"].setdefault(name, {"field": self.field_output_bytes(name)})
            for key, cmd in [("memory", "full@memory"), ("budget", "full@budget"), ("numpy", "numpy")]:
                entry[key] = peak_rss(cmds[cmd], self.work, environment(cmd, self.args.quick))
            print(f"  peak RSS, full, {name} ({entry['field'] / MB:.0f} MB field output): in memory "
                  f"{entry['memory'] / MB:.0f} MB, budget {entry['budget'] / MB:.0f} MB, numpy "
                  f"{entry['numpy'] / MB:.0f} MB", flush=True)
        if not self.args.big:
            return
        field = self.results["rss_scale"]["big"]["field"]
        rss = self.same_report("big", "invariants")
        self.results["rss"]["big/invariants@budget"] = rss
        self.row("budget", f"peak RSS, sets and invariants under the budget, big ({field / 1e9:.1f} GB field output)",
                 f"{rss / MB:.0f} MB", f"<= {(budget + BUDGET_SLACK) / MB:.0f} MB", rss <= budget + BUDGET_SLACK)
        t = self.medians("big", ["floor", "full@budget"])
        self.row("passes", "full run under the budget / C++ read floor, big", f"{t['full@budget'] / t['floor']:.2f}x",
                 "<= 3x", t["full@budget"] <= 3 * t["floor"])

    def run(self):
        if self.args.only in (None, "speed"):
            self.speed_targets()
        if self.args.only in (None, "budget"):
            self.budget_targets()
        if self.args.only in (None, "export"):
            self.export_target()

    def export_target(self):
        """odb2xdmf's cold export of model, and its sync, against the disk floor, in alternating rounds."""
        if not glob.glob(os.path.join(self.build, "python", "harvestodb", "_odb*.so")):
            print("export target: harvestodb._odb is not built here; skipped", flush=True)
            return
        db = self.database("model")
        folder = tempfile.mkdtemp(dir=self.work)
        xdmf, h5, dd = (os.path.join(folder, f) for f in ("model.xdmf", "model.h5", "dd.bin"))
        export = [os.path.join(self.bin, "odb2xdmf"), "-o", xdmf, db]
        timed(export, folder)  # the export's size, for the floor's write
        mib = max(1, round(os.path.getsize(h5) / 2**20))
        root = os.geteuid() == 0 and not self.args.quick   # the smoke test leaves the machine's caches alone
        write_dd = ["dd", "if=/dev/zero", f"of={dd}", "bs=1M", f"count={mib}", "conv=fdatasync"]
        timed(write_dd, folder)   # the file the floor's writes replace, as each export replaces the last

        def cold(everything):
            os.sync()
            if everything:
                with open("/proc/sys/vm/drop_caches", "w") as f:
                    f.write("3\n")
                return
            for path in (db, h5):  # clean pages only: the sync above wrote the rest
                fd = os.open(path, os.O_RDONLY)
                os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
                os.close(fd)

        def exported(everything):
            cold(everything)
            start = time.perf_counter()
            timed(export, folder)
            for path in (h5, xdmf):
                fd = os.open(path, os.O_RDONLY)
                os.fsync(fd)
                os.close(fd)
            return time.perf_counter() - start

        def floor(everything):
            os.sync()
            write = timed(write_dd, folder)
            cold(everything)
            start = time.perf_counter()
            read_whole(db)
            return write + time.perf_counter() - start

        # As root, from a cache with nothing in it (the program's own files read from the disk too), and as a
        # loop runs it: the program's files cached, the database not
        for everything in ([True, False] if root else [False]):
            times = {"export": [], "floor": []}
            for r in range(self.args.runs):
                for name in (["export", "floor"] if r % 2 == 0 else ["floor", "export"]):
                    times[name].append((exported if name == "export" else floor)(everything))
            t = {n: statistics.median(v) for n, v in times.items()}
            self.results["times"]["export_every_cache" if everything else "export"] = t
            each = sorted(e / f for e, f in zip(times["export"], times["floor"]))
            state = "every cache dropped" if everything else "the database's cache dropped"
            self.row(8, f"odb2xdmf and sync, cold ({state}) / disk floor (cold read of the database, write of "
                        f"{mib} MiB with fdatasync over the last), model", f"{t['export'] / t['floor']:.2f}x",
                     "<= 1.25x", t["export"] <= 1.25 * t["floor"])
            self.row(8, "the same, round by round (lowest, median, highest)",
                     f"{each[0]:.2f}x, {statistics.median(each):.2f}x, {each[-1]:.2f}x", "reported", True)
        shutil.rmtree(folder)

    def speed_targets(self):
        print("target 2 check: the numpy script's numbers against the program's (float32, float64)", flush=True)
        self.agree("model")
        self.agree("f64")

        t = self.medians("model", ["floor", "floor_whole", "floor_raw", "h5py", "maxmin", "full", "numpy"])
        self.row(1, "max/min run / C++ read floor", f"{t['maxmin'] / t['floor']:.2f}x", "<= 1.2x",
                 t["maxmin"] <= 1.2 * t["floor"])
        self.row(1, "max/min run / whole-array floor (before: one buffer of the largest array, every label)",
                 f"{t['maxmin'] / t['floor_whole']:.2f}x", "reported", True)
        self.row(1, "C++ read floor / stored bytes read raw (no checksum, no copy)",
                 f"{t['floor'] / t['floor_raw']:.2f}x", "reported", True)
        h = self.medians("h5pymodel", ["floor", "floor_whole", "maxmin"])
        self.row(1, "model written by h5py (one block a field output): max/min run / C++ read floor",
                 f"{h['maxmin'] / h['floor']:.2f}x", "reported", True)
        self.row(1, "model written by h5py: max/min run / whole-array floor", f"{h['maxmin'] / h['floor_whole']:.2f}x",
                 "reported", True)
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

        for name in SCALE:  # the plot's figures
            self.medians(name, ["maxmin", "floor", "h5py", "numpy"])
        sizes = [self.results["sizes"][name] for name in SCALE]
        progs = self.in_turns(SCALE, "maxmin")
        self.results["scale_maxmin"] = dict(zip(SCALE, progs))
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
    # odb2xdmf's module, where pybind11 is there to build it (the export target is skipped otherwise)
    subprocess.run(["cmake", "--build", args.build, "-j2", "--target", "harvestodb_py"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


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


def plot_rss(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    labels = {"memory": "program, in memory", "budget": f"program, HARVEST_MEMORY_MB={results['budget_mb']:g}",
              "numpy": "numpy script"}
    scale = sorted(results["rss_scale"].values(), key=lambda e: e["field"])
    fig, ax = plt.subplots(figsize=(6.4, 4.2))
    styles = {"memory": dict(marker="o"), "budget": dict(marker="x", linestyle="--"), "numpy": dict(marker="s")}
    for key, label in labels.items():  # the budget's line dashed: it lies on the in-memory one until runs stream
        ax.plot([e["field"] / MB for e in scale], [e[key] / MB for e in scale], label=label, **styles[key])
    ax.axhline(results["budget_mb"] + BUDGET_SLACK / MB, color="grey", linestyle=":", label="budget + 64 MB")
    ax.set_xlabel("largest field output of a frame, as stored (MB)")
    ax.set_ylabel("peak RSS (MB)")
    ax.set_xscale("log")
    ax.set_yscale("log")
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
    ap.add_argument("--plot-rss")
    ap.add_argument("--big", action="store_true")
    ap.add_argument("--keep-big", action="store_true")
    ap.add_argument("--big-elements", type=int, default=BIG_ELEMENTS)
    ap.add_argument("--only", choices=["speed", "budget", "export"])
    args = ap.parse_args()
    if args.quick:
        args.runs = 1
    elif args.runs < 5:
        ap.error("--runs: at least 5")
    if args.big and args.quick:
        ap.error("--big: not with --quick")
    if not args.no_build:
        build(args)
    bench = Bench(args)
    try:
        bench.run()
    except (RuntimeError, subprocess.CalledProcessError) as e:
        print(f"run.py: {e}", file=sys.stderr)
        if args.json:  # what was measured before the failure
            with open(args.json, "w") as f:
                json.dump(bench.results, f, indent=1)
        return 1
    finally:
        shutil.rmtree(bench.work, ignore_errors=True)
        if args.big and not args.keep_big and "big" in bench.written and os.path.exists(bench.path("big")):
            os.remove(bench.path("big"))
    print()
    print(bench.table())
    bench.results["table"] = bench.table()
    bench.results["machine"] = f"{os.cpu_count()} CPUs, {platform.platform()}"
    if args.json:
        with open(args.json, "w") as f:
            json.dump(bench.results, f, indent=1)
    if args.plot:
        plot(bench.results, args.plot)
    if args.plot_rss and bench.results["rss_scale"]:
        plot_rss(bench.results, args.plot_rss)
    for what in bench.differs:
        print(f"run.py: the report under the budget differs from the in-memory report: {what}", file=sys.stderr)
    return 1 if bench.differs else 0


if __name__ == "__main__":
    sys.exit(main())
