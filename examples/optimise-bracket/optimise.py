#!/usr/bin/python3
"""Minimises the mass of the bundled L-bracket over its shape with scipy (COBYLA), keeping the
engineering maximum of von Mises over every frame of the last step below an allowable stress.

  optimise.py BIN WORK [--fast] [--allowable MPA] [--max-evals N] [--ccx PROG] [--solve-timeout S]

BIN is a build's bin folder (ccx2odb, harvestodb, harvest-plot; the harvestodb Python package beside
it in ../python), WORK the folder of the study (kept between runs). Variables: the plate thickness t
(4 to 20 mm) and the arm width w (6 to 24 mm), both from 12 mm, on a mesh of 4 bricks across (--div 6
is the bundled mesh); --fast varies t alone on a coarse mesh (2 bricks across), with an allowable of
100 MPa, and stops after a few evaluations.

Each evaluation gets a folder WORK/evals/NNNN: the deck (examples/calculix/bracket.inp) with a mesh of
its shape (bracket_mesh.py), solved by ccx under limits of time and file size, imported by ccx2odb,
reported by harvestodb through harvestodb.run (configuration checked, fresh marker), and read with
the responses of responses.txt. Every evaluation appends a row to WORK/history.csv; a point already
in the history is taken from there, so a rerun over the same history solves nothing. A failed solve,
import or report is a failed evaluation: the optimiser sees twice the greatest mass seen so far and a
violated stress constraint, and goes on. The end: a table of evaluations, WORK/optimise.png (mass and
stress ratio against evaluation, the path in the design space) and the optimum's report summary.

Status 0 when a feasible design was found, 1 otherwise, 2 for a wrong command line.
"""
import argparse
import csv
import math
import os
import resource
import shutil
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DECK = os.path.join(HERE, "..", "calculix", "bracket.inp")
sys.path.insert(0, HERE)
import bracket_mesh  # noqa: E402

VARIABLES = {"t": (4.0, 20.0, 12.0), "w": (6.0, 24.0, 12.0)}   # name: (lower, upper, start), mm
FILE_LIMIT = 256 << 20                                          # bytes per file a solve may write


class Study:
    """The evaluations of one study folder: solved on demand, remembered in history.csv."""

    def __init__(self, args, names):
        self.args, self.names = args, names
        self.work = os.path.abspath(args.work)
        self.bin = os.path.abspath(args.bin)
        self.history = os.path.join(self.work, "history.csv")
        self.responses = response.read_responses(os.path.join(HERE, "responses.txt"))
        self.config = os.path.join(HERE, "optimise.cfg")
        self.div = 2 if args.fast else args.div
        self.rows = []          # history rows, in order (dicts of the CSV)
        self.path = []          # the evaluations the optimiser asked for, in order (cached ones too)
        self.solves = 0
        if os.path.exists(self.history):
            with open(self.history, newline="") as f:
                self.rows = list(csv.DictReader(f))

    def key(self, design):
        return tuple("%.4f" % design[n] for n in self.names) + (str(self.div),)

    def lookup(self, design):
        want = self.key(design)
        for row in self.rows:
            if tuple(row[n] for n in self.names) + (row["div"],) == want:
                return row
        return None

    def evaluate(self, design):
        """The history row of a design, solving it when the history has none."""
        row = self.lookup(design)
        if row is None:
            row = self.solve(design)
        self.path.append(row)
        return row

    def solve(self, design):
        number = len(self.rows) + 1
        folder = os.path.join(self.work, "evals", "%04d" % number)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        self.solves += 1
        ev = self.run_chain(design, folder)
        columns = [("evaluation", str(number))] + [(n, "%.4f" % design[n]) for n in self.names] + [
            ("div", str(self.div)), ("folder", os.path.relpath(folder, self.work))]
        header = response.csv_header(self.responses, columns)
        cells = response.csv_row(ev, self.responses, columns)
        response.append_csv(self.history, header, cells)
        row = dict(zip(header, cells))
        self.rows.append(row)
        shown = " ".join("%s=%s" % (n, row[n]) for n in self.names)
        print("optimise: evaluation %d: %s: %s" % (number, shown, " ".join(
            "%s=%s" % (r.name, row[r.name]) for r in self.responses) if ev.ok else "failed: " + ev.reason), flush=True)
        return row

    def run_chain(self, design, folder):
        """Deck, solve, import, report, responses: an Evaluation that is failed at the first step that fails."""
        shutil.copy(DECK, os.path.join(folder, "bracket.inp"))
        try:
            text = bracket_mesh.mesh(design.get("t", 12.0), design.get("w", 12.0), self.div)
        except ValueError as e:
            return response.failed(str(e))
        with open(os.path.join(folder, "bracket_mesh.inp"), "w") as f:
            f.write(text)
        status = guarded([self.args.ccx, "-i", "bracket"], folder, "ccx.log", self.args.solve_timeout)
        if status != 0 or not os.path.exists(os.path.join(folder, "bracket.frd")):
            return response.failed("ccx: %s (see %s)" % (describe(status), os.path.join(folder, "ccx.log")))
        status = guarded([os.path.join(self.bin, "ccx2odb"), "bracket"], folder, "import.log", 120)
        if status != 0:
            return response.failed("ccx2odb: %s: %s" % (describe(status), tail(os.path.join(folder, "import.log"))))
        result = harvest_run.run(os.path.join(folder, "bracket.odb"), self.config, folder=folder,
                                 harvestodb=os.path.join(self.bin, "harvestodb"))
        for big in ("bracket.frd", "bracket.dat", "bracket.odb"):   # the report is all the study keeps
            if os.path.exists(os.path.join(folder, big)):
                os.remove(os.path.join(folder, big))
        if not result.ok:
            return response.failed("harvestodb: " + result.message)
        return response.evaluate(self.responses, folder)


def guarded(argv, folder, log, timeout):
    """Runs argv in folder with its output in log, limited in file size and time, in a process group of
    its own that is killed by its id when the time is up; the status, or None after the time limit."""
    def limits():
        resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_LIMIT, FILE_LIMIT))
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    env = dict(os.environ, OMP_NUM_THREADS="1")
    with open(os.path.join(folder, log), "wb") as out:
        try:
            p = subprocess.Popen(argv, cwd=folder, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                 env=env, start_new_session=True, preexec_fn=limits)
        except OSError as e:
            out.write(("%s: %s\n" % (argv[0], e.strerror)).encode())
            return 127
        try:
            return p.wait(timeout=timeout)
        except BaseException as e:   # the time is up, or this script is stopped: the solve goes too
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            if isinstance(e, subprocess.TimeoutExpired):
                return None
            raise


def describe(status):
    if status is None:
        return "took too long"
    return "killed by signal %d" % -status if status < 0 else "status %d" % status


def tail(path):
    with open(path, errors="replace") as f:
        lines = f.read().strip().splitlines()
    return lines[-1] if lines else "no message"


def optimise(study, args):
    """Runs COBYLA on the variables scaled to 0..1; returns the history rows of the path."""
    from scipy.optimize import minimize

    names = study.names
    allowable = args.allowable

    def design(u):
        d = {}
        for n, x in zip(names, u):
            lo, hi, _ = VARIABLES[n]
            d[n] = lo + min(max(float(x), 0.0), 1.0) * (hi - lo)   # COBYLA may step past a bound
        return d

    def numbers(u):
        row = study.evaluate(design(u))
        if row["status"] != "ok":
            seen = [float(r["mass"]) for r in study.rows if r["status"] == "ok"]
            return 2 * max(seen, default=1e-3), -1.0
        return float(row["mass"]), 1.0 - float(row["stress"]) / allowable

    start = [(VARIABLES[n][2] - VARIABLES[n][0]) / (VARIABLES[n][1] - VARIABLES[n][0]) for n in names]
    scale = [None]

    def objective(u):
        mass, _ = numbers(u)
        if scale[0] is None:
            scale[0] = mass
        return mass / scale[0]

    constraints = [{"type": "ineq", "fun": lambda u: numbers(u)[1]}]
    for i in range(len(names)):
        constraints += [{"type": "ineq", "fun": lambda u, i=i: u[i]},
                        {"type": "ineq", "fun": lambda u, i=i: 1.0 - u[i]}]
    rhoend = 0.05 if args.fast else 0.01
    minimize(objective, start, method="COBYLA", constraints=constraints,
             options={"rhobeg": 0.25, "tol": rhoend, "maxiter": args.max_evals, "catol": 1e-4})
    return study.path


def best_of(rows):
    ok = [r for r in rows if r["status"] == "ok" and float(r["stress"]) <= ALLOWABLE[0]]
    return min(ok, key=lambda r: float(r["mass"]), default=None)


ALLOWABLE = [0.0]


def plot(study, path, png):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names, allowable = study.names, ALLOWABLE[0]
    path = list({r["evaluation"]: r for r in path}.values())   # each point once, where it first came
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.5))
    ax = axes[0]
    n = list(range(1, len(path) + 1))
    ok = [(i, r) for i, r in zip(n, path) if r["status"] == "ok"]
    bad = [i for i, r in zip(n, path) if r["status"] != "ok"]
    ax.plot([i for i, _ in ok], [float(r["mass"]) * 1e6 for _, r in ok], "o-", label="mass (g)")
    ax.set_xlabel("evaluation (in the order the optimiser first asked for it)")
    ax.set_ylabel("mass (g)")
    twin = ax.twinx()
    twin.plot([i for i, _ in ok], [float(r["stress"]) / allowable for _, r in ok], "s--", color="tab:red",
              label="stress / allowable")
    twin.axhline(1.0, color="tab:red", linewidth=0.8)
    twin.set_ylabel("engineering max. von Mises / allowable")
    for i in bad:
        ax.axvline(i, color="grey", linestyle=":", linewidth=1)
    ax.set_title("objective and constraint (dotted: failed evaluations)", fontsize=10)
    ax = axes[1]
    xs = [float(r[names[0]]) for r in path]
    ys = [float(r[names[1]]) if len(names) > 1 else float(r["mass"] or "nan") * 1e6 for r in path]
    ax.plot(xs, ys, "-", color="lightgrey")
    for r, x, y in zip(path, xs, ys):
        feasible = r["status"] == "ok" and float(r["stress"]) <= allowable
        ax.plot(x, y, "o" if r["status"] == "ok" else "x", color="tab:green" if feasible else "tab:red")
    best = best_of(path)
    if best:
        ax.plot(float(best[names[0]]), float(best[names[1]]) if len(names) > 1 else float(best["mass"]) * 1e6,
                "*", markersize=16, color="gold", markeredgecolor="black")
    ax.set_xlabel(names[0] + " (mm)")
    ax.set_ylabel(names[1] + " (mm)" if len(names) > 1 else "mass (g)")
    ax.set_title("path: green feasible, red not, x failed, star optimum", fontsize=10)
    fig.tight_layout()
    fig.savefig(png, dpi=90)
    plt.close(fig)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin", help="a build's bin folder")
    parser.add_argument("work", help="the study folder (kept: history.csv caches evaluations)")
    parser.add_argument("--fast", action="store_true", help="thickness only, coarse mesh, a few evaluations")
    parser.add_argument("--allowable", type=float, default=None, help="allowable stress, MPa (250; --fast 100)")
    parser.add_argument("--max-evals", type=int, default=None, help="optimiser iterations (30; --fast 8)")
    parser.add_argument("--div", type=int, default=4,
                        help="bricks across width and thickness (4; 6 is the bundled mesh, three times slower)")
    parser.add_argument("--ccx", default="ccx", help="the solver (ccx)")
    parser.add_argument("--solve-timeout", type=float, default=300.0, help="seconds per solve (300)")
    args = parser.parse_args(argv)
    args.max_evals = args.max_evals or (8 if args.fast else 30)
    args.allowable = args.allowable or (100.0 if args.fast else 250.0)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))   # a solve running then is stopped with us
    ALLOWABLE[0] = args.allowable

    global response, harvest_run
    sys.path.insert(0, os.path.join(os.path.abspath(args.bin), "..", "python"))
    from harvestodb import response, run as harvest_run  # noqa: E402

    try:   # before any solver time is spent
        harvest_run.check_config(os.path.join(HERE, "optimise.cfg"))
    except harvest_run.ConfigError as e:
        print("optimise: %s" % e, file=sys.stderr)
        return 1
    os.makedirs(args.work, exist_ok=True)
    study = Study(args, ["t"] if args.fast else ["t", "w"])
    path = optimise(study, args)
    print("\noptimise: %d evaluations asked, %d solved, %d taken from %s" % (
        len(path), study.solves, len(path) - study.solves, study.history))
    plot(study, path, os.path.join(study.work, "optimise.png"))
    print("optimise: plot: %s" % os.path.join(study.work, "optimise.png"))
    best = best_of(path)
    if best is None:
        print("optimise: no evaluation met the allowable of %g MPa" % args.allowable, file=sys.stderr)
        return 1
    print("optimise: optimum: %s: mass %s t, stress %s MPa (allowable %g), evaluation %s" % (
        ", ".join("%s = %s mm" % (n, best[n]) for n in study.names), best["mass"], best["stress"],
        args.allowable, best["evaluation"]))
    print("optimise: its report: %s" % os.path.join(study.work, best["folder"], "params.txt"), flush=True)
    subprocess.run([os.path.join(args.bin, "harvest-plot"), "--summary",
                    os.path.join(study.work, best["folder"], "params.txt")], check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
