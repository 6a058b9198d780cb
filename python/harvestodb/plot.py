"""harvest-plot: a picture or a short summary of a harvestodb report.

usage: harvest-plot [-o FILE] [--set NAME]... [--stress FIELD] [--disp FIELD] REPORT
       harvest-plot --summary [--stress FIELD] [--disp FIELD] REPORT
       harvest-plot --model DB [--field S] [--frame STEP:N] [--percentage P] [-o view.png]

REPORT is a params.txt written by harvestodb, or the results.csv of
harvest-many (recognised by its header "database,status,message,...").

A params.txt gives one PNG (default params.png) with a column per step:
  - the per-frame von Mises maximum of the stress field (--stress, default S)
    over the whole model, against the frame (increment number); dashed, the
    engineering maximum when the report has it; one more curve per --set;
  - the same for the displacement magnitude (--disp, default U);
  - the history outputs against the step time, one panel per output family
    (U1, U2 share the panel "U"; RF1 goes to "RF"); outputs that never change
    are not drawn.
A results.csv gives one PNG comparing the databases: for each step, the
greatest whole-model von Mises maximum, the greatest displacement magnitude
maximum and the mass of each database, against the database (in table order;
--set does not apply). Failed databases are gaps, their names in red.

--summary prints a text table instead: mass and centre of mass per step; per
step the greatest whole-model von Mises and displacement magnitude maxima with
their frame, the greatest engineering maximum beside them when the report has
one, and the set with the greatest maximum; the history outputs that change.
Lines of no family the program writes are counted ("other lines: N").
Panels and tables with no lines in the report are left out, said once.

--model draws the database itself with ParaView (pvbatch, under xvfb-run):
one frame (--frame STEP:N, N its increment number as in the report's Frame_N;
default the last frame) coloured by --field (default S): von Mises of a
tensor, magnitude of a vector, the value of a scalar; element values by the
element's largest over its points, as odb2xdmf exports them. The element (or
node) of the maximum is outlined in red, the one holding the engineering
maximum (--percentage, default 5, as PERCENTAGE in a configuration) in
magenta; both are printed with their labels and coordinates (element: its
centroid). Default picture view.png, 1200 x 900 (--size WxH).

Status 0 on success, 1 when the report or database cannot be read, ParaView
is not installed or the PNG cannot be written (a partial PNG is removed).
"""

import argparse
import json
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

from . import report as hr
from . import xdmf

PROG = "harvest-plot"
MAX_HISTORY_PANELS = 3
MAX_CURVES = 8
MAX_HISTORY_ROWS = 8
MARKED_POINTS = 30   # curves with more points are drawn without markers


def fail(path, message):
    print(f"{PROG}: {path}: {message}", file=sys.stderr)
    sys.exit(1)


def table(rows, indent="  "):
    """Columns separated by at least two blanks, so that a cell may hold single blanks."""
    widths = [max(len(r[i]) for r in rows if i < len(r)) for i in range(max(len(r) for r in rows))]
    out = []
    for r in rows:
        cells = [c.ljust(widths[i]) for i, c in enumerate(r)]
        out.append(indent + "  ".join(cells).rstrip())
    return "\n".join(out)


def quantity_name(field_label, quantity):
    return f"{field_label} von Mises" if quantity == "mises" else f"{field_label} magnitude"


def at(peak):
    return "-" if peak is None else f"{peak.text} ({peak.frame})"


# ---- summary of one params.txt ---------------------------------------------------------------

def field_rows(report, step, wanted):
    rows = []
    for field_label, quantity in wanted:
        best = hr.peak(report, step, field_label, quantity)
        best_set = hr.peak(report, step, field_label, quantity, sets=True)
        if best is None and best_set is None:
            continue
        engg = hr.peak(report, step, field_label, quantity, stat="enggmax")
        where = "-"
        if best_set is not None:
            where = f"{best_set.region} {best_set.text} ({best_set.frame})"
            others = hr.ties(report, step, field_label, quantity, best_set)
            if others:
                where += ", tied: " + ", ".join(others[:3]) + (" ..." if len(others) > 3 else "")
        rows.append([step, quantity_name(field_label, quantity), at(best), at(engg), where])
    return rows


def history_rows(report, step):
    """Rows of the outputs that change, and a note on those left out."""
    rows, constant = [], 0
    for name, (lo, lo_t, hi, hi_t, _) in hr.history_outputs(report, step).items():
        if lo_t == hi_t or math.isnan(lo) or math.isnan(hi) or lo > hi:  # min above max: no values
            constant += 1
            continue
        rows.append([step, name, lo_t, hi_t])
    notes = []
    if len(rows) > MAX_HISTORY_ROWS:
        notes.append(f"{len(rows) - MAX_HISTORY_ROWS} more that change")
        rows = rows[:MAX_HISTORY_ROWS]
    if constant:
        notes.append(f"{constant} constant or empty")
    return rows, (f"  {step}: not listed: " + ", ".join(notes)) if notes else None


def summary(report, args):
    wanted = [(args.stress, "mises"), (args.disp, "mag")]
    steps = report.step_order
    print(f"{report.source}: {report.lines} lines, {len(steps)} step{'s' if len(steps) != 1 else ''}")
    left_out = []

    mass_rows = []
    for step in steps:
        mass = hr.mass_of(report, step, "Mass")
        centre = hr.mass_of(report, step, "MassCenter")
        if mass or centre:
            mass_rows.append([step, mass.text if mass else "-", centre.text if centre else "-"])
    if mass_rows:
        print("\nmass and centre of mass")
        print(table([["step", "mass", "centre of mass"]] + mass_rows))
    else:
        left_out.append("mass")

    rows = [r for step in steps for r in field_rows(report, step, wanted)]
    if rows:
        print("\ngreatest maxima over the frames (frame in brackets)")
        print(table([["step", "quantity", "whole model", "enggmax", "set with the greatest max"]] + rows))
    for field_label, quantity in wanted:
        if not any(r[1] == quantity_name(field_label, quantity) for r in rows):
            others = [f for f in hr.fields_with(report, quantity) if f != field_label]
            hint = f" (fields with it: {', '.join(others[:4])})" if others else ""
            left_out.append(f"{quantity_name(field_label, quantity)} ({field_label}__{quantity}__max){hint}")

    shown = {f for f, _ in wanted}
    extra = {}
    for r in report.fields:
        if r.field not in shown:
            extra[r.field] = extra.get(r.field, 0) + 1
    if extra:
        names = list(extra)
        more = f" and {len(names) - 5} more" if len(names) > 5 else ""
        print(f"\nother field outputs ({sum(extra.values())} lines): " + ", ".join(names[:5]) + more)

    rows, notes = [], []
    for step in steps:
        step_rows, note = history_rows(report, step)
        rows += step_rows
        notes += [note] if note else []
    if rows or notes:
        print("\nhistory outputs that change over the step")
        if rows:
            print(table([["step", "output", "min", "max"]] + rows))
        for note in notes:
            print(note)
    else:
        left_out.append("history")

    print()
    if left_out:
        print("left out, no lines in the report: " + "; ".join(left_out))
    examples = ", ".join(repr(n) for n in report.other[:3])
    print(f"other lines: {len(report.other)}" + (f" (e.g. {examples})" if examples else ""))


def batch_summary(rows, source, args):
    print(f"{source}: {len(rows)} databases, {sum(1 for r in rows if not r.report.lines)} without values")
    table_rows = [["database", "status", "step", quantity_name(args.stress, "mises") + " max",
                   quantity_name(args.disp, "mag") + " max", "mass"]]
    messages = []
    for row in rows:
        report = row.report
        if row.message:
            messages.append(f"  {row.database}: {row.message}")
        if not report.step_order:
            table_rows.append([row.database, row.status, "-", "-", "-", "-"])
            continue
        for step in report.step_order:
            mass = hr.mass_of(report, step, "Mass")
            table_rows.append([row.database, row.status, step,
                               at(hr.peak(report, step, args.stress, "mises")),
                               at(hr.peak(report, step, args.disp, "mag")), mass.text if mass else "-"])
    print(table(table_rows))
    if messages:
        print("\nmessages")
        print("\n".join(messages))
    other = sum(len(r.report.other) for r in rows)
    print(f"\nother lines: {other}")


# ---- the picture ---------------------------------------------------------------------------------

def history_family(name):
    m = re.match(r"[A-Za-z]+", name)
    return m.group(0) if m else name


def history_panels(report):
    """[(family, {step: [(name, points)]})] of the outputs that change in some step (drawn in every
    step that has them, so a reaction that holds still in the second step is still seen there),
    and the count left out."""
    per_step = {step: hr.history_outputs(report, step) for step in report.step_order}
    changing = set()
    for outputs in per_step.values():
        for name, (_, _, _, _, pts) in outputs.items():
            values = [v for _, v in pts if not math.isnan(v)]
            if values and min(values) != max(values):
                changing.add(name)
    families, skipped = {}, 0
    for step, outputs in per_step.items():
        for name, (_, _, _, _, pts) in outputs.items():
            if name not in changing or not pts:
                skipped += 1
                continue
            families.setdefault(history_family(name), {}).setdefault(step, []).append((name, pts))
    panels = []
    for family, curves_of in families.items():
        if len(panels) == MAX_HISTORY_PANELS:
            skipped += sum(len(v) for v in curves_of.values())
            continue
        for step, curves in curves_of.items():
            skipped += max(0, len(curves) - MAX_CURVES)
            curves_of[step] = curves[:MAX_CURVES]
        panels.append((family, curves_of))
    return panels, skipped


COLOURS = ("tab:blue", "tab:orange", "tab:green", "tab:red", "tab:purple", "tab:brown", "tab:pink",
           "tab:olive", "tab:cyan", "tab:grey")


def draw_field(ax, report, step, field_label, quantity, sets):
    """One step's per-frame maxima; the whole model is a wide grey band under the set curves, so a
    set that reaches the model's maximum stays visible on top of it."""
    from matplotlib.ticker import MaxNLocator
    drawn = False
    curves = [("", "max", "whole model", dict(color="0.55", linewidth=5, marker="o", markersize=8, zorder=1))]
    curves.append(("", "enggmax", "whole model, engineering max",
                   dict(color="black", linestyle="--", linewidth=1.2, marker="s", markersize=4, zorder=2)))
    curves += [(s, "max", f"set {s}", dict(color=COLOURS[i % len(COLOURS)], linewidth=1.5, marker=".", zorder=3))
               for i, s in enumerate(sets)]
    for region, stat, label, style in curves:
        series = hr.frame_series(report, step, field_label, quantity, region=region, stat=stat)
        if not series:
            continue
        xs, ys = zip(*series)
        if len(xs) > MARKED_POINTS:
            style = dict(style, marker=None)
        ax.plot(xs, ys, label=label, **style)
        drawn = True
    ax.xaxis.set_major_locator(MaxNLocator(integer=True))
    ax.set_xlabel("frame (increment)")
    ax.set_ylabel(f"{quantity_name(field_label, quantity)} max")
    ax.set_title(f"{step}: {quantity_name(field_label, quantity)} max per frame", fontsize="medium")
    ax.grid(True, alpha=0.3)
    return drawn


def draw_history(ax, step, family, curves, colour_of):
    for name, pts in curves:
        xs, ys = zip(*pts)
        ax.plot(xs, ys, marker="." if len(xs) <= MARKED_POINTS else None, label=name, color=colour_of[name])
    ax.set_xlabel("step time")
    ax.set_ylabel(f"history {family}*")
    ax.set_title(f"{step}: history outputs {family}*", fontsize="medium")
    ax.grid(True, alpha=0.3)


def finish_row(axes_row):
    """The drawn panels of a row share one y scale: the first shows the scale and its label, the last
    carries the row's one legend to its right (a curve has the same colour in every step)."""
    drawn = [ax for ax in axes_row if ax.axison]
    if not drawn:
        return
    for ax in drawn[1:]:
        ax.set_ylabel("")
    drawn[0].tick_params(labelleft=True)
    handles = {}
    for ax in drawn:
        for h, label in zip(*ax.get_legend_handles_labels()):
            handles.setdefault(label, h)
    if handles:
        drawn[-1].legend(handles.values(), handles.keys(), fontsize="small", loc="upper left",
                         bbox_to_anchor=(1.02, 1.0), borderaxespad=0.0)


def save(fig, path):
    folder = os.path.dirname(os.path.abspath(path))
    try:
        fd, tmp = tempfile.mkstemp(prefix=".harvest-plot-", suffix=".png", dir=folder)
        os.close(fd)
    except OSError as e:
        fail(path, e.strerror or str(e))
    try:
        fig.savefig(tmp, format="png", dpi=80)
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(tmp, 0o666 & ~mask)
        os.replace(tmp, path)
    except OSError as e:
        os.unlink(tmp)
        fail(path, e.strerror or str(e))


def figure(rows, cols, sharey=False):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(rows, cols, figsize=(5.2 * cols, 3.4 * rows), squeeze=False,
                             sharey="row" if sharey else False)
    return plt, fig, axes


def plot(report, args):
    sets = [hr.clean(s).lstrip("_") for s in args.set]
    kinds = [(args.stress, "mises"), (args.disp, "mag")]
    field_kinds = [k for k in kinds if any(r.field == k[0] and r.quantity == k[1] and r.stat == "max"
                                           for r in report.fields)]
    notes = [f"no {f}__{q}__max lines" for f, q in kinds if (f, q) not in field_kinds]
    present = {r.region for r in report.fields}
    notes += [f"no lines of set {s}" for s in sets if s not in present]
    panels, skipped = history_panels(report)
    if not panels:
        notes.append("no history outputs that change")
    footnote = ""
    if panels and skipped:
        footnote = (f"not drawn: {skipped} history outputs that stay constant or exceed "
                    f"{MAX_HISTORY_PANELS} panels of {MAX_CURVES} curves")
    steps = [s for s in report.step_order
             if any(hr.step_key(r.step) == s for r in report.fields) or any(s in p for _, p in panels)]
    rows = len(field_kinds) + len(panels)
    if notes:
        print(f"{PROG}: {report.source}: left out: " + "; ".join(notes), file=sys.stderr)
    if not rows or not steps:
        plt, fig, axes = figure(1, 1)
        axes[0][0].axis("off")
        axes[0][0].text(0.5, 0.5, f"{os.path.basename(report.source)}:\nno field maxima or history to plot",
                        ha="center", va="center")
        save(fig, args.output)
        return
    # one y scale per row, so that the steps compare at a glance
    plt, fig, axes = figure(rows, len(steps), sharey=True)
    fig.set_size_inches(min(4.6 * len(steps), 32.0) + 2.2, 3.2 * rows)
    for c, step in enumerate(steps):
        for r, (field_label, quantity) in enumerate(field_kinds):
            if not draw_field(axes[r][c], report, step, field_label, quantity, sets):
                axes[r][c].axis("off")
    for r, (family, per_step) in enumerate(panels, start=len(field_kinds)):
        names = list(dict.fromkeys(n for curves in per_step.values() for n, _ in curves))
        colour_of = {n: COLOURS[i % len(COLOURS)] for i, n in enumerate(names)}
        for c, step in enumerate(steps):
            if step in per_step:
                draw_history(axes[r][c], step, family, per_step[step], colour_of)
            else:
                axes[r][c].axis("off")
    for r in range(rows):
        finish_row(axes[r])
    fig.suptitle(f"{report.source}: per-frame maxima and histories", fontsize="medium")
    if footnote:
        fig.text(0.01, 0.005, footnote, fontsize="small", color="0.35")
    fig.tight_layout(rect=(0, 0.02 if footnote else 0, 1, 1))
    save(fig, args.output)


def short_names(paths):
    """The databases' paths without the folders and file name that all of them share
    (runs/t1/job.odb and runs/t2/job.odb become t1 and t2)."""
    parts = [p.split("/") for p in paths]
    if len(parts) < 2:
        return [os.path.basename(p) for p in paths]
    while all(len(p) > 1 for p in parts) and len({p[0] for p in parts}) == 1:
        parts = [p[1:] for p in parts]
    while all(len(p) > 1 for p in parts) and len({p[-1] for p in parts}) == 1:
        parts = [p[:-1] for p in parts]
    return ["/".join(p) for p in parts]


def plot_batch(rows, source, args):
    steps = []
    for row in rows:
        for s in row.report.step_order:
            if s not in steps:
                steps.append(s)
    measures = [(f"{quantity_name(args.stress, 'mises')} max",
                 lambda rep, s: hr.peak(rep, s, args.stress, "mises")),
                (f"{quantity_name(args.disp, 'mag')} max", lambda rep, s: hr.peak(rep, s, args.disp, "mag")),
                ("mass", lambda rep, s: hr.mass_of(rep, s, "Mass"))]
    values = []
    for label, get in measures:
        series = {s: [math.nan] * len(rows) for s in steps}
        for s in steps:
            for i, row in enumerate(rows):
                got = get(row.report, s)
                if got is not None:
                    series[s][i] = got.value if hasattr(got, "value") else got.values[0]
        if any(not math.isnan(v) for ys in series.values() for v in ys):
            values.append((label, series))
        else:
            print(f"{PROG}: {source}: no {label} values; left out", file=sys.stderr)
    failed = sum(1 for r in rows if not r.report.lines)
    if failed:
        print(f"{PROG}: {source}: {failed} databases without values, gaps with their names in red",
              file=sys.stderr)
    plt, fig, axes = figure(max(1, len(values)), 1)
    fig.set_size_inches(max(6.0, 0.35 * len(rows) + 3), 3.0 * max(1, len(values)))
    xs = list(range(len(rows)))
    names = short_names([r.database for r in rows])
    for ax, (label, series) in zip(axes[:, 0], values):
        for s, ys in series.items():
            ax.plot(xs, ys, marker="o", label=s)
        ax.set_ylabel(label)
        ax.grid(True, alpha=0.3)
        ax.legend(fontsize="small", title="step")
        ax.set_xticks(xs)
        ax.set_xticklabels(names, rotation=45 if len(rows) > 6 else 0, ha="right" if len(rows) > 6 else "center",
                           fontsize="small")
        for tick, row in zip(ax.get_xticklabels(), rows):
            if not row.report.lines:
                tick.set_color("tab:red")
    if not values:
        axes[0][0].axis("off")
        axes[0][0].text(0.5, 0.5, "no values to plot", ha="center", va="center")
    axes[-1][0].set_xlabel("database")
    fig.suptitle(os.path.basename(source))
    fig.tight_layout()
    save(fig, args.output)


# ---- the model, drawn by ParaView ----------------------------------------------------------------

RENDER_SECONDS = 300
MARK_COLOURS = {"max": [0.85, 0.0, 0.0], "enggmax": [0.8, 0.0, 0.8]}


def engg_position(n, percentage):
    """Index from the top of the engineering maximum among n sorted values, as the program counts."""
    k = n * percentage / 100.0
    k = 0.0 if not k > 0.0 else min(k, float(n))
    return max(int(k) - 1, 0)


def parse_frame(text):
    step, sep, number = (text or "").rpartition(":")
    if not sep or not step or not number.lstrip("-").isdigit():
        raise argparse.ArgumentTypeError(f"'{text}' is not STEP:N")
    return step, int(number)


def model_peaks(db, field_name, frame_key, percentage, path):
    """(step, frame, field, quantity name, marks) of the frame: the maximum and the engineering
    maximum of the quantity over every value of the field, each with the element or node that
    holds it (the first in block and row order when several do)."""
    steps = list(db.steps.items())
    frames = [(s, f) for s, step in steps for f in step.frames]
    if not frames:
        raise xdmf.Failure(path, "has no frames")
    if frame_key is None:
        step_name, frame = frames[-1]
    else:
        hits = [(s, f) for s, f in frames if (s, f.increment_number) == frame_key]
        if not hits:
            raise xdmf.Failure(path, f"no frame {frame_key[0]}:{frame_key[1]}; frames: "
                               + ", ".join(f"{s}:{f.increment_number}" for s, f in frames[:6])
                               + (" ..." if len(frames) > 6 else ""))
        step_name, frame = hits[0]
    field = frame.field_outputs.get(field_name)
    if field is None:
        raise xdmf.Failure(path, f"no field output {field_name} in frame {step_name}:{frame.increment_number}"
                           f" (fields: {', '.join(list(frame.field_outputs)[:8]) or 'none'})")
    suffix = None
    values, where = [], []
    for block in field.blocks:
        data = xdmf.shaped(field, xdmf.np.asarray(block.data))  # a library failure goes to the caller
        if not len(data):
            continue
        suffix, q = xdmf.measure(field, data)
        nodal = block.position == "NODAL"
        labels = block.node_labels if nodal else block.element_labels
        values.append(q)
        where += [("node" if nodal else "element", block.instance_name, int(l)) for l in labels]
    if not values:
        raise xdmf.Failure(path, f"field output {field_name} of frame {step_name}:{frame.increment_number}"
                           " has no values")
    q = xdmf.np.concatenate(values)
    numbers = q[~xdmf.np.isnan(q)]
    if not len(numbers):
        raise xdmf.Failure(path, f"field output {field_name} has no values that are numbers")
    top = int(xdmf.np.nanargmax(q))
    ordered = xdmf.np.sort(numbers)
    engg = ordered[len(ordered) - 1 - engg_position(len(ordered), percentage)]
    at_engg = int(xdmf.np.nonzero(q == engg)[0][0])
    kind = {"_mises": "von Mises", "_mag": "magnitude", "": "value"}[suffix]
    marks = [("max", q[top], where[top]), ("enggmax", engg, where[at_engg])]
    return step_name, frame, field, suffix, kind, marks


def render_model(args):
    pvbatch, xvfb = shutil.which("pvbatch"), shutil.which("xvfb-run")
    if not pvbatch:
        fail("pvbatch", "not found: --model draws with ParaView (Debian package paraview)")
    if not xvfb:
        fail("xvfb-run", "not found: ParaView draws offscreen under it (Debian package xvfb)")
    try:
        width, height = (int(v) for v in args.size.lower().split("x"))
        assert 16 <= width <= 8192 and 16 <= height <= 8192
    except (ValueError, AssertionError):
        fail(args.size, "--size is not WIDTHxHEIGHT (16 to 8192 each)")
    db_path = args.model
    out = args.output or "view.png"
    folder = os.path.dirname(os.path.abspath(out))
    if not os.path.isdir(folder):
        fail(out, "No such file or directory")
    work = tempfile.mkdtemp(prefix=".harvest-plot-", dir=folder)
    try:
        try:
            with xdmf.open_database(db_path) as db:
                step_name, frame, field, suffix, kind, marks = model_peaks(db, args.field, args.frame,
                                                                           args.percentage, db_path)
            exported = xdmf.export(db_path, os.path.join(work, "model.xdmf"), fields=[field.name],
                                   frames={(step_name, frame.increment_number)})
        except xdmf.library_errors() as e:
            print(f"{PROG}: {e}", file=sys.stderr)
            sys.exit(1)
        except xdmf.Failure as e:
            print(f"{PROG}: {e}", file=sys.stderr)
            sys.exit(1)
        mesh = exported.mesh
        centroids = None
        job_marks, printed = [], []
        for stat, value, (what, instance, label) in marks:
            if what == "element":
                index = mesh.lookup(instance, [label], "element")[0]
                if centroids is None:
                    centroids = mesh.centroids()
                at = centroids[index] if index >= 0 else [math.nan] * 3
            else:
                index = mesh.lookup(instance, [label], "node")[0]
                at = mesh.xyz[index] if index >= 0 else [math.nan] * 3
            name = "maximum" if stat == "max" else f"engineering maximum ({args.percentage:g} %)"
            where = f"{what} {label}" + (f" of {instance}" if instance else "")
            xyz = ", ".join(f"{c:g}" for c in at)
            printed.append(f"{name}: {field.name} {kind} {value:g} at {where}, "
                           f"{'centroid' if what == 'element' else 'node'} at ({xyz})")
            if index >= 0:
                job_marks.append({"label": label, "instance": int(mesh.elem_instance[index]) if what == "element"
                                  else int(mesh.node_instance[index]), "kind": what, "at": [float(c) for c in at],
                                  "text": f"{name}: {value:g} at {where}", "colour": MARK_COLOURS[stat]})
        nodal = any(b.position == "NODAL" for b in field.blocks)
        direction = outward(mesh, job_marks[0]["at"]) if job_marks else None
        array = field.name + suffix if suffix else field.name
        png = os.path.join(work, "view.png")
        job = {"xdmf": os.path.abspath(exported.xdmf), "array": array, "centre": "POINTS" if nodal else "CELLS",
               "title": f"{os.path.basename(db_path)}: {step_name}, increment {frame.increment_number}: "
                        f"{field.name} {kind}", "png": png, "width": width, "height": height, "marks": job_marks,
               "direction": direction}
        job_path = os.path.join(work, "job.json")
        with open(job_path, "w") as f:
            json.dump(job, f)
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pvrender.py")
        # xvfb-run -a takes the first free display from -n on; starting from one of our own keeps
        # apart from other pictures drawn at the same time, and a display lost to one of them
        # anyway (ParaView aborts on "bad X server connection") is tried again
        for attempt in range(3):
            display = 100 + (os.getpid() * 7 + attempt * 101) % 30000
            status, err = run_guarded([xvfb, "-a", "-n", str(display), pvbatch, script, job_path], work,
                                      RENDER_SECONDS)
            if status == 0 or "bad X server connection" not in err:
                break
        if status != 0 or not os.path.isfile(png):
            why = "timed out" if status is None else f"ended with status {status}"
            detail = next((l for l in reversed(err.splitlines()) if "Error" in l), "")
            fail(out, f"ParaView {why}" + (f": {detail.strip()}" if detail else ""))
        try:
            mask = os.umask(0)
            os.umask(mask)
            os.chmod(png, 0o666 & ~mask)
            os.replace(png, out)
        except OSError as e:
            fail(out, e.strerror or str(e))
        for line in printed:
            print(line)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def outward(mesh, at):
    """A direction to look at the point from outside the model, a little from above: away from the
    middle of the material around it (the nodes within a fifth of the model's size), which holds
    for an inner corner as for an outer one."""
    xyz = mesh.xyz
    if not len(xyz):
        return None
    at = xdmf.np.asarray(at, float)
    size = float((xyz.max(axis=0) - xyz.min(axis=0)).max())
    near = xyz[((xyz - at) ** 2).sum(axis=1) <= (0.2 * size) ** 2]
    away = at - (near.mean(axis=0) if len(near) else xyz.mean(axis=0))
    length = float(xdmf.np.sqrt((away ** 2).sum()))
    if not length > 1e-6 * size:
        return None
    away = away / length
    return [float(away[0]) + 0.1, float(away[1]) - 0.15, float(away[2]) + 1.0]


def run_guarded(argv, cwd, seconds):
    """(status, stderr) of argv in a session of its own, its files capped at 1 GiB; after seconds the
    whole session (xvfb-run, Xvfb, pvbatch) is killed by its id and the status is None."""
    import resource
    hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
    limit = 1 << 30 if hard == resource.RLIM_INFINITY else min(1 << 30, hard)
    p = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, start_new_session=True,
                         preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard)))
    try:
        _, err = p.communicate(timeout=seconds)
        status = p.returncode
    except subprocess.TimeoutExpired:
        status = None
    finally:
        try:
            os.killpg(p.pid, signal.SIGKILL)   # whatever of the session is left (an Xvfb of xvfb-run)
        except ProcessLookupError:
            pass
    if status is None:
        _, err = p.communicate()
    return status, err.decode(errors="replace")


def main(argv=None):
    parser = argparse.ArgumentParser(prog=PROG, description=__doc__.split("\n\n", 2)[2].split("\n\nStatus")[0],
                                     epilog="Status" + __doc__.split("\n\nStatus", 1)[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     usage="%(prog)s [-o FILE] [--summary] [--set NAME]... REPORT\n"
                                           "       %(prog)s --model DB [--field S] [--frame STEP:N] [-o view.png]")
    parser.add_argument("report", metavar="REPORT", nargs="?", help="params.txt, or results.csv of harvest-many")
    parser.add_argument("-o", dest="output", metavar="FILE",
                        help="the PNG to write (default params.png; view.png with --model)")
    parser.add_argument("--model", metavar="DB", help="draw this database's model with ParaView instead")
    parser.add_argument("--field", default="S", metavar="S", help="--model: the field to colour by (S)")
    parser.add_argument("--frame", type=parse_frame, metavar="STEP:N",
                        help="--model: the frame, by step name and increment number (default: the last)")
    parser.add_argument("--percentage", type=float, default=5.0, metavar="P",
                        help="--model: percentage of the engineering maximum (5)")
    parser.add_argument("--size", default="1200x900", metavar="WxH", help="--model: picture size (1200x900)")
    parser.add_argument("--summary", action="store_true", help="print the text table instead of a picture")
    parser.add_argument("--set", action="append", default=[], metavar="NAME",
                        help="also draw this set (as named in the lines, e.g. TOP); repeatable")
    parser.add_argument("--stress", default="S", metavar="FIELD", help="tensor field of the von Mises panels (S)")
    parser.add_argument("--disp", default="U", metavar="FIELD", help="vector field of the magnitude panels (U)")
    args = parser.parse_args(argv)
    if args.model is not None:
        if args.report is not None:
            parser.error("--model takes a database, not a report")
        render_model(args)
        return 0
    if args.report is None:
        parser.error("the following arguments are required: REPORT")
    args.output = args.output or "params.png"
    args.stress, args.disp = hr.clean(args.stress), hr.clean(args.disp)

    try:
        if hr.is_results_csv(args.report):
            rows = hr.read_results_csv(args.report)
            (batch_summary if args.summary else plot_batch)(rows, args.report, args)
        else:
            report = hr.read_params(args.report)
            (summary if args.summary else plot)(report, args)
    except OSError as e:
        fail(e.filename or args.report, e.strerror or str(e))
    return 0


if __name__ == "__main__":
    sys.exit(main())
