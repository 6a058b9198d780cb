"""Reads the lines of a harvestodb report (params.txt) into named records.

The one place that knows how parameter names are built: harvest-plot uses it,
and docs/report.md describes the same rules for people who parse params.txt
in their own scripts.

Every line is one of four kinds:
  MassLine     STEP__Mass, __MassCenter, __InertiaCenter, __InertiaOrigin
  HistoryLine  STEP__History__OUT_POINT, __History_Max__..., __History_Min__...
  FieldLine    STEP__Frame_N[__SET]__FIELD[__QUANTITY]__STAT
  other        anything else (kept as text, never an error)

Names cannot be split back without ambiguity in every case: a scalar field
whose name equals a quantity label (mises, mag, 11, ...) reads as that
quantity of the field before it, and a field name holding "__" (a cleaned
"--") lends its front part to the set name. Neither occurs in the names that
solvers write.
"""

import csv
import math
import re
from dataclasses import dataclass, field

STATS = ("max", "min", "enggmax", "enggmin")

# Quantity labels as the program writes them; "mininplane_principal" and
# "outofplane_principal" do have an inner underscore.
QUANTITIES = (
    "mag", "1", "2", "3", "mises", "11", "22", "33", "12", "13", "23",
    "tresca", "press", "inv3", "maxprincipal", "midprincipal", "minprincipal",
    "maxinplaneprincipal", "mininplane_principal", "outofplane_principal",
)

MASS_KINDS = ("Mass", "MassCenter", "InertiaCenter", "InertiaOrigin")

_FIELD_NAME = re.compile(
    r"^(?P<step>.*?)__Frame_(?P<frame>-?\d+)(?P<rest>__.+)__(?P<stat>max|min|enggmax|enggmin)$")
_HISTORY_NAME = re.compile(r"^(?P<step>.*?)__(?P<kind>History|History_Max|History_Min)__(?P<name>.+)$")
_MASS_NAME = re.compile(r"^(?P<step>.*)__(?P<kind>Mass|MassCenter|InertiaCenter|InertiaOrigin)$")
_ENTRY = re.compile(r"\(([^()]*)\)")


def clean(name):
    """The program's cleaned form of a step, set or field name."""
    return name.replace("-", "_").replace(" ", "_")


def step_key(label):
    """One key per step: mass lines keep blanks in step names, the others do not."""
    return label.replace(" ", "_")


@dataclass
class FieldLine:
    step: str        # cleaned step label
    frame: int       # increment number
    region: str      # "" for the whole model, else the cleaned set name without the leading "__"
    field: str       # cleaned field label
    quantity: str    # "" for a scalar field, else one of QUANTITIES
    stat: str        # one of STATS
    value: float
    text: str        # the value as written


@dataclass
class MassLine:
    step: str
    kind: str        # one of MASS_KINDS
    values: tuple    # one number for Mass, the sequence for the others
    text: str


@dataclass
class HistoryLine:
    step: str
    kind: str        # History, History_Max or History_Min
    name: str        # output label and point, as written ("U2_7", "RF_2_TOP SET-1")
    points: list     # History: [(time, value)]; an empty list for "None"
    value: float     # History_Max / History_Min: the number; nan for History
    text: str


@dataclass
class Report:
    source: str
    lines: int = 0
    fields: list = field(default_factory=list)
    masses: list = field(default_factory=list)
    histories: list = field(default_factory=list)
    other: list = field(default_factory=list)   # names of lines of no known family
    entries: list = field(default_factory=list)  # (name, text, record or None) of every line, in file order

    step_order: list = field(default_factory=list)   # step keys in first-seen order

    def add(self, rec):
        key = step_key(rec.step)
        if key not in self.step_order:
            self.step_order.append(key)
        if isinstance(rec, FieldLine):
            self.fields.append(rec)
        elif isinstance(rec, MassLine):
            self.masses.append(rec)
        else:
            self.histories.append(rec)


def _number(text):
    """float() of a value as the program writes it (%g style, nan, inf); None when not a number."""
    try:
        return float(text)
    except ValueError:
        return None


def _sequence(text):
    """'(a, b, c)' -> tuple of floats; None when the text is not such a sequence."""
    text = text.strip()
    if not (text.startswith("(") and text.endswith(")")):
        return None
    inner = text[1:-1].strip()
    if not inner:
        return ()
    values = tuple(_number(t) for t in inner.split(","))
    return None if any(v is None for v in values) else values


def _history_points(text):
    """'((t, v), ...)' -> [(time, value)]; the value is an entry's last number, the time its first
    (the entry's index when it holds one number); entries without numbers are skipped."""
    text = text.strip()
    if text == "None":
        return []
    if not (text.startswith("(") and text.endswith(")")):
        return None
    points = []
    for i, entry in enumerate(_ENTRY.findall(text[1:-1])):
        values = _sequence("(" + entry + ")")
        if values is None:
            return None
        if not values:
            continue
        points.append((values[0] if len(values) > 1 else float(i), values[-1]))
    return points


def parse_line(name, text):
    """One record for one name and value text, or None for a line of no known family."""
    m = _HISTORY_NAME.match(name)
    if m:
        kind = m["kind"]
        if kind == "History":
            points = _history_points(text)
            if points is None:
                return None
            return HistoryLine(m["step"], kind, m["name"], points, math.nan, text)
        value = _number(text)
        if value is None:
            return None
        return HistoryLine(m["step"], kind, m["name"], [], value, text)
    m = _FIELD_NAME.match(name)
    if m:
        value = _number(text)
        if value is None:
            return None
        rest = m["rest"]
        quantity = ""
        for q in QUANTITIES:
            tail = "__" + q
            if rest.endswith(tail) and rest.rfind("__", 0, len(rest) - len(tail)) >= 0:
                quantity, rest = q, rest[:-len(tail)]
                break
        cut = rest.rfind("__")
        region, label = rest[:cut], rest[cut + 2:]
        if not label:
            return None
        return FieldLine(m["step"], int(m["frame"]), region[2:] if region.startswith("__") else region,
                         label, quantity, m["stat"], value, text)
    m = _MASS_NAME.match(name)
    if m:
        if m["kind"] == "Mass":
            value = _number(text)
            values = None if value is None else (value,)
        else:
            values = _sequence(text)
        if values is None:
            return None
        return MassLine(m["step"], m["kind"], values, text)
    return None


def name_of(rec):
    """The parameter name a record was read from, built again from its parts (parse_line's inverse)."""
    if isinstance(rec, FieldLine):
        return "%s__Frame_%d%s__%s%s__%s" % (rec.step, rec.frame, "__" + rec.region if rec.region else "",
                                            rec.field, "__" + rec.quantity if rec.quantity else "", rec.stat)
    if isinstance(rec, MassLine):
        return "%s__%s" % (rec.step, rec.kind)
    return "%s__%s__%s" % (rec.step, rec.kind, rec.name)


def _add_line(report, name, text):
    report.lines += 1
    rec = parse_line(name, text)
    report.entries.append((name, text, rec))
    if rec is None:
        report.other.append(name)
    else:
        report.add(rec)


def read_params(path):
    """The Report of a params.txt. A line without a tab is an other line."""
    report = Report(path)
    with open(path, encoding="utf-8", errors="replace", newline="\n") as f:
        for raw in f:
            line = raw.rstrip("\n")
            name, tab, text = line.rpartition("\t")
            if not tab:
                name, text = line, ""
            _add_line(report, name, text)
    return report


@dataclass
class BatchRow:
    database: str
    status: str
    message: str
    report: Report


def is_results_csv(path):
    """True for a results table of harvest-many: its header starts with database,status,message."""
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        first = f.readline()
    return first.startswith("database,status,message")


def read_results_csv(path):
    """One BatchRow per database row; empty cells (a parameter the database did not write) are left out."""
    rows = []
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        reader = csv.reader(f)
        header = next(reader, None) or []
        names = header[3:]
        for cells in reader:
            if not cells:
                continue
            cells += [""] * (len(header) - len(cells))
            report = Report(cells[0])
            for name, text in zip(names, cells[3:]):
                if text != "":
                    _add_line(report, name, text)
            rows.append(BatchRow(cells[0], cells[1], cells[2], report))
    return rows


# ---- what the summary and the plot show ------------------------------------------------------

@dataclass
class Peak:
    value: float
    text: str
    frame: int
    region: str = ""


def frame_series(report, step, field_label, quantity, region="", stat="max"):
    """[(frame, value)] of one quantity of one region in one step, in file order."""
    return [(r.frame, r.value) for r in report.fields
            if step_key(r.step) == step and r.field == field_label and r.quantity == quantity
            and r.region == region and r.stat == stat]


def _greatest(records):
    best = None
    for r in records:
        if math.isnan(r.value):
            continue
        if best is None or r.value > best.value:
            best = r
    return None if best is None else Peak(best.value, best.text, best.frame, best.region)


def peak(report, step, field_label, quantity, stat="max", sets=False):
    """The greatest value among the lines of a step (whole model, or any set when sets is true),
    with its frame; the first line wins a tie. None when there is no such line."""
    return _greatest(r for r in report.fields
                     if step_key(r.step) == step and r.field == field_label and r.quantity == quantity
                     and r.stat == stat and (r.region != "") == sets)


def ties(report, step, field_label, quantity, best):
    """The other sets whose maximum equals the greatest set maximum."""
    names = []
    for r in report.fields:
        if (step_key(r.step) == step and r.field == field_label and r.quantity == quantity
                and r.stat == "max" and r.region and r.value == best.value
                and r.region != best.region and r.region not in names):
            names.append(r.region)
    return names


def mass_of(report, step, kind):
    for r in report.masses:
        if step_key(r.step) == step and r.kind == kind:
            return r
    return None


def history_outputs(report, step):
    """{name: (min, max, points)} of a step's history outputs, in file order; min and max come from
    the History_Min/History_Max lines when the report has them, else from the history line."""
    out = {}
    for r in report.histories:
        if step_key(r.step) != step:
            continue
        lo, hi, pts = out.get(r.name, (None, None, []))
        if r.kind == "History":
            pts = r.points
        elif r.kind == "History_Max":
            hi = r
        else:
            lo = r
        out[r.name] = (lo, hi, pts)
    result = {}
    for name, (lo, hi, pts) in out.items():
        values = [v for _, v in pts if not math.isnan(v)]
        lo_v = lo.value if lo else (min(values) if values else math.nan)
        hi_v = hi.value if hi else (max(values) if values else math.nan)
        lo_t = lo.text if lo else ("%g" % lo_v)
        hi_t = hi.text if hi else ("%g" % hi_v)
        result[name] = (lo_v, lo_t, hi_v, hi_t, pts)
    return result


def fields_with(report, quantity):
    """Field labels that have lines of the quantity, in first-seen order."""
    names = {}
    for r in report.fields:
        if r.quantity == quantity:
            names.setdefault(r.field, None)
    return list(names)
