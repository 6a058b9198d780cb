#!/usr/bin/env python3
"""Prints the best of N repetitions of harvest_bench JSON reports as a Markdown table.

    harvest_bench --benchmark_repetitions=5 --benchmark_out=run.json --benchmark_out_format=json
    bench/best_of.py run.json [more.json ...]

Best means the least time of the N runs, real and CPU time each; the rates
(values/s, MB/s) are those of the run with the least CPU time, as Google
Benchmark reports them (per CPU second).
"""
import json
import sys


def main(paths):
    runs = []
    for path in paths:
        with open(path) as f:
            runs += json.load(f)["benchmarks"]
    best = {}
    for run in runs:
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            continue
        entry = best.setdefault(run["run_name"], {"real": run, "cpu": run})
        if run["real_time"] < entry["real"]["real_time"]:
            entry["real"] = run
        if run["cpu_time"] < entry["cpu"]["cpu_time"]:
            entry["cpu"] = run
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    print("| benchmark | best real time (ms) | best CPU time (ms) | values/s | MB/s | checksum |")
    print("|---|---:|---:|---:|---:|---|")
    for name, entry in best.items():
        real, cpu = entry["real"], entry["cpu"]
        print(f"| {name} | {real['real_time'] * scale[real['time_unit']]:.2f} | "
              f"{cpu['cpu_time'] * scale[cpu['time_unit']]:.2f} | {cpu['values']:.3g} | {cpu['MB']:.0f} | "
              f"{cpu.get('label', '')} |")


if __name__ == "__main__":
    main(sys.argv[1:])
