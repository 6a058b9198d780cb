"""harvest-response: the few named values an optimiser asks for, taken from a
harvestodb report.

usage: harvest-response [-r FILE]... [--response 'NAME = EXPR']... [--format FORMAT]
                        [-o FILE] [--column NAME=VALUE]... [--no-marker] [REPORT]

A response is one line 'NAME = REDUCTION(PATTERN)' or 'NAME = PATTERN'.
PATTERN matches whole parameter names: '*' stands for any characters but
'__' (one part of a name), '**' for anything. REDUCTION is one of max, min,
absmax (the greatest magnitude), sum, count, first, last (in report order)
over the matching lines that hold one number; a plain PATTERN must match
exactly one such line. Responses come from files (-r, one a line, '#' starts
a comment) and from --response options, in the order given.

  stress = max(Step_2__Frame_*__S__mises__enggmax)
  mass   = Step_1__Mass
  corner = max(**__CORNER__S__mises__max)

REPORT is a params.txt or the folder holding it (default: params.txt here).
The evaluation fails when the report is missing or incomplete (no
paramsdone.txt beside it, or one older than the report; --no-marker skips
that test), when a pattern matches nothing, a plain pattern more than one
line, or a value taken is nan, infinite or a start value that no value
replaced (-1.79769e+308, 3.40282e+38 ...).

Formats (--format):
  lines        'NAME VALUE' a line (default)
  json         {"NAME": VALUE, ...}
  dakota       Dakota's labeled results file: 'VALUE NAME' a line, in the
               order of the responses; 'fail' alone when the evaluation failed
  dakota-free  the same without labels
  csv          one row (with --column values first, then status, the
               responses and the reason of a failure); with -o the row is
               appended to that history file, under a header written when the
               file is new
Values are written as the report writes them; a sum as %.10g, a count as
an integer.

A pattern that selects the whole-model component lines of a vector or tensor
field, or the von Mises lines of a nodal tensor field (told by a negative
von Mises minimum), draws a warning: those lines follow the program's shared
component slots (docs/report.md, "Names that promise more than they hold").

Status 0 when every response has a value, 1 when the evaluation failed (the
reason on stderr; Dakota's formats still write 'fail'), or a file cannot be
read or written, 2 for a wrong command line.
"""

import csv
import io
import json
import math
import os
import re
import sys
from dataclasses import dataclass, field

from . import report as hr

PROG = "harvest-response"
REDUCTIONS = ("max", "min", "absmax", "sum", "count", "first", "last")
FORMATS = ("lines", "json", "dakota", "dakota-free", "csv")

# Start values of the program's extremes (fields in double and single precision, histories) as %g writes
# them: a line that still holds one saw no value.
START_VALUES = (1.79769e+308, 3.40282e+38)

# Whole-model component lines whose values follow shared component slots rather than the field alone.
SLOT_QUANTITIES = ("1", "2", "3", "11", "22", "33", "12", "13", "23")

_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_.:-]*")
_CALL = re.compile(r"([a-z]+)\s*\((.*)\)")


class ResponseError(Exception):
    """A response that cannot be read (its text is the message)."""


@dataclass
class Response:
    name: str
    reduction: str     # one of REDUCTIONS, or "" for a plain pattern
    pattern: str
    regex: re.Pattern = field(repr=False, compare=False, default=None)

    def __str__(self):
        return f"{self.name} = {self.reduction}({self.pattern})" if self.reduction else f"{self.name} = {self.pattern}"


@dataclass
class Value:
    name: str
    text: str          # as written in the output
    value: float


@dataclass
class Evaluation:
    ok: bool
    values: list = field(default_factory=list)     # Value per response, in order, when ok
    reason: str = ""                                # why it failed
    warnings: list = field(default_factory=list)


def pattern_regex(pattern):
    """The regular expression of a name pattern: '**' anything, '*' anything without '__'."""
    out = []
    for i, part in enumerate(pattern.split("**")):
        if i:
            out.append(".*")
        out.append("(?:(?!__).)*?".join(re.escape(p) for p in part.split("*")))
    return re.compile("".join(out), re.DOTALL)


def parse_response(text):
    """A Response from 'NAME = REDUCTION(PATTERN)' or 'NAME = PATTERN'."""
    name, eq, expr = text.partition("=")
    name, expr = name.strip(), expr.strip()
    if not eq:
        raise ResponseError(f"'{text.strip()}': expected NAME = PATTERN or NAME = REDUCTION(PATTERN)")
    if not _NAME.fullmatch(name):
        raise ResponseError(f"'{name}': a response name is a letter or '_' and then letters, digits, '_.:-'")
    reduction, pattern = "", expr
    m = _CALL.fullmatch(expr)
    if m:
        reduction, pattern = m.group(1), m.group(2).strip()
        if reduction not in REDUCTIONS:
            raise ResponseError(f"{name}: unknown reduction '{reduction}', expected one of {', '.join(REDUCTIONS)}")
    if not pattern or any(c in pattern for c in "\t\n()"):
        raise ResponseError(f"{name}: '{pattern}': a pattern is a parameter name with '*' and '**'")
    return Response(name, reduction, pattern, pattern_regex(pattern))


def read_responses(path):
    """The responses of a file: one a line, '#' starts a comment, blank lines skipped."""
    out = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if line:
                try:
                    out.append(parse_response(line))
                except ResponseError as e:
                    raise ResponseError(f"{path}:{number}: {e}") from None
    return out


def check_names(responses):
    """Raises ResponseError when two responses share a name."""
    seen = set()
    for r in responses:
        if r.name in seen:
            raise ResponseError(f"{r.name}: named twice")
        seen.add(r.name)


def _is_number_line(rec):
    if isinstance(rec, hr.FieldLine):
        return True
    if isinstance(rec, hr.MassLine):
        return rec.kind == "Mass"
    return isinstance(rec, hr.HistoryLine) and rec.kind != "History"


def _bad_value(value):
    """Why a value taken from the report is no result, or ''."""
    if math.isnan(value):
        return "is nan"
    if math.isinf(value):
        return "is infinite"
    if abs(value) in START_VALUES:
        return "is a start value (no value was seen)"
    return ""


def _slot_lines(rec):
    """True for whole-model component lines, False for other field lines, None for lines of no field."""
    return (rec.region == "" and rec.quantity in SLOT_QUANTITIES) if isinstance(rec, hr.FieldLine) else None


def _absolute_text(text):
    return text[1:] if text.startswith("-") else text


def reduce(response, lines):
    """The Value of one response over the (name, text, value) lines it matched; raises ResponseError."""
    if response.reduction == "count":
        return Value(response.name, str(len(lines)), float(len(lines)))
    if not lines:
        raise ResponseError(f"{response.name}: {response.pattern} matches no line")
    if not response.reduction and len(lines) > 1:
        shown = ", ".join(n for n, _, _ in lines[:3]) + (", ..." if len(lines) > 3 else "")
        raise ResponseError(f"{response.name}: {response.pattern} matches {len(lines)} lines ({shown}), "
                            "expected one")
    for name, text, value in lines:
        bad = _bad_value(value)
        if bad:
            raise ResponseError(f"{response.name}: {name} {bad}: {text}")
    how = response.reduction
    if how == "sum":
        total = math.fsum(v for _, _, v in lines)
        return Value(response.name, "%.10g" % total, total)
    if how in ("", "first"):
        pick = lines[0]
    elif how == "last":
        pick = lines[-1]
    elif how == "max":
        pick = max(lines, key=lambda line: line[2])      # the first of equal values
    elif how == "min":
        pick = min(lines, key=lambda line: line[2])
    else:
        pick = max(lines, key=lambda line: abs(line[2]))
        return Value(response.name, _absolute_text(pick[1]), abs(pick[2]))
    return Value(response.name, pick[1], pick[2])


def _not_mises(report):
    """(step, frame, field) of whole-model fields whose von Mises minimum is negative: a nodal tensor field,
    whose mises lines hold component extremes."""
    return {(r.step, r.frame, r.field) for r in report.fields
            if r.region == "" and r.quantity == "mises" and r.stat == "min" and r.value < 0}


def _warn(ev, r, names, what):
    if names and r.reduction != "count":
        ev.warnings.append(f"{r.name}: {r.pattern} selects {what} ({names[0]}{', ...' if len(names) > 1 else ''}), "
                           "which follow shared component slots: see docs/report.md")


def evaluate_report(responses, report):
    """The Evaluation of the responses over a read Report (no completeness test)."""
    ev = Evaluation(True)
    numbers = [(name, text, rec) for name, text, rec in report.entries if rec is not None and _is_number_line(rec)]
    nodal = _not_mises(report)
    for r in responses:
        matched = [(name, text, rec) for name, text, rec in numbers if r.regex.fullmatch(name)]
        _warn(ev, r, [name for name, _, rec in matched if _slot_lines(rec)], "whole-model component lines")
        _warn(ev, r, [name for name, _, rec in matched if _slot_lines(rec) is False and rec.quantity == "mises"
                      and rec.region == "" and (rec.step, rec.frame, rec.field) in nodal],
              "von Mises lines of a nodal tensor field")
        try:
            ev.values.append(reduce(r, [(name, text, _value(rec)) for name, text, rec in matched]))
        except ResponseError as e:
            return Evaluation(False, [], str(e), ev.warnings)
    return ev


def _value(rec):
    return rec.values[0] if isinstance(rec, hr.MassLine) else rec.value


def report_path(path):
    """params.txt for a folder, else the path itself."""
    return os.path.join(path, "params.txt") if os.path.isdir(path) else path


def completeness(path):
    """Why the report at path is not a complete one, or '' (paramsdone.txt beside it, not older than it)."""
    done = os.path.join(os.path.dirname(path) or ".", "paramsdone.txt")
    if not os.path.isfile(path):
        return f"{path}: no report"
    if not os.path.isfile(done):
        return f"{done}: missing, the run did not complete"
    if os.stat(done).st_mtime_ns < os.stat(path).st_mtime_ns:
        return f"{done}: older than {os.path.basename(path)}, the report is not that run's"
    return ""


def evaluate(responses, path, marker=True):
    """The Evaluation of the responses over the report at path (params.txt or its folder): failed when the
    report is missing or incomplete (unless marker is false) or a response has no value."""
    path = report_path(path)
    why = completeness(path) if marker else ("" if os.path.isfile(path) else f"{path}: no report")
    if why:
        return Evaluation(False, [], why)
    return evaluate_report(responses, hr.read_params(path))


def failed(reason):
    return Evaluation(False, [], reason)


# ---- output formats ------------------------------------------------------------------------------

def _json_number(text, value):
    """The report's text when JSON can carry it as it stands, else the shortest exact form."""
    try:
        json.loads(text)
        return text
    except ValueError:
        return repr(value)


def format_lines(ev):
    return "".join(f"{v.name} {v.text}\n" for v in ev.values) if ev.ok else ""


def format_json(ev):
    if not ev.ok:
        return ""
    return "{" + ", ".join(f"{json.dumps(v.name)}: {_json_number(v.text, v.value)}" for v in ev.values) + "}\n"


def format_dakota(ev, labeled=True):
    """Dakota's results file: one value a line (followed by its label in the labeled form), or 'fail'."""
    if not ev.ok:
        return "fail\n"
    return "".join(f"{v.text} {v.name}\n" if labeled else f"{v.text}\n" for v in ev.values)


def csv_header(responses, columns=()):
    return [c for c, _ in columns] + ["status"] + [r.name for r in responses] + ["reason"]


def csv_row(ev, responses, columns=()):
    values = [v.text for v in ev.values] if ev.ok else [""] * len(responses)
    return [v for _, v in columns] + ["ok" if ev.ok else "failed"] + values + [ev.reason]


def csv_text(rows):
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerows(rows)
    return out.getvalue()


def append_csv(path, header, row):
    """Appends a row to a history file, writing the header when the file is new or empty; a file whose
    header differs is refused (ResponseError)."""
    first = ""
    if os.path.exists(path):
        with open(path, encoding="utf-8", newline="") as f:
            first = f.readline()
    if first and first.rstrip("\r\n") != csv_text([header]).rstrip("\n"):
        raise ResponseError(f"{path}: its header is not {','.join(header)}")
    with open(path, "a", encoding="utf-8", newline="") as f:
        f.write(csv_text(([header] if not first else []) + [row]))


# ---- command line ---------------------------------------------------------------------------------

class Usage(Exception):
    """A wrong command line: one line on stderr, status 2."""


def parse_args(argv):
    opts = {"files": [], "responses": [], "format": "lines", "output": None, "columns": [], "marker": True,
            "report": None}
    i = 0
    while i < len(argv):
        a = argv[i]
        name, eq, inline = a.partition("=") if a.startswith("--") else (a, "", "")

        def value():
            nonlocal i
            if eq:
                return inline
            i += 1
            if i >= len(argv):
                raise Usage(f"{name} needs a value")
            return argv[i]

        if a in ("-h", "--help"):
            opts["help"] = True
        elif name in ("-r", "--responses"):
            opts["files"].append(value())
            opts["responses"].append(("file", opts["files"][-1]))
        elif name == "--response":
            opts["responses"].append(("text", value()))
        elif name in ("-f", "--format"):
            opts["format"] = value()
            if opts["format"] not in FORMATS:
                raise Usage(f"--format {opts['format']}: expected one of {', '.join(FORMATS)}")
        elif name in ("-o", "--output"):
            opts["output"] = value()
        elif name == "--column":
            column, sep, text = value().partition("=")
            if not sep or not column:
                raise Usage("--column needs NAME=VALUE")
            opts["columns"].append((column, text))
        elif a == "--no-marker":
            opts["marker"] = False
        elif a.startswith("-") and a != "-":
            raise Usage(f"unknown option {a}")
        elif opts["report"] is None:
            opts["report"] = a
        else:
            raise Usage(f"{a}: only one report")
        i += 1
    if not opts.get("help") and not opts["responses"]:
        raise Usage("no response (give -r FILE or --response 'NAME = EXPR')")
    return opts


def load_responses(sources):
    out = []
    for kind, what in sources:
        if kind == "file":
            out += read_responses(what)
        else:
            try:
                out.append(parse_response(what))
            except ResponseError as e:
                raise ResponseError(f"--response: {e}") from None
    check_names(out)
    return out


def render(ev, responses, fmt, columns=()):
    if fmt == "lines":
        return format_lines(ev)
    if fmt == "json":
        return format_json(ev)
    if fmt in ("dakota", "dakota-free"):
        return format_dakota(ev, labeled=fmt == "dakota")
    return csv_text([csv_row(ev, responses, columns)])


def write_output(path, text):
    """Writes the whole text or nothing: a temporary file beside it, renamed."""
    tmp = f"{path}.tmp{os.getpid()}"
    try:
        with open(tmp, "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(tmp, path)
    except OSError:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    try:
        opts = parse_args(argv)
    except Usage as e:
        print(f"{PROG}: {e} (try --help)", file=sys.stderr)
        return 2
    if opts.get("help"):
        sys.stdout.write(__doc__.split("\n\n", 1)[1])
        return 0
    try:
        responses = load_responses(opts["responses"])
    except ResponseError as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"{PROG}: {e.filename}: {e.strerror}", file=sys.stderr)
        return 1
    try:
        ev = evaluate(responses, opts["report"] or "params.txt", opts["marker"])
    except OSError as e:
        ev = failed(f"{e.filename}: {e.strerror}")
    for w in ev.warnings:
        print(f"{PROG}: warning: {w}", file=sys.stderr)
    if not ev.ok:
        print(f"{PROG}: {ev.reason}", file=sys.stderr)
    try:
        if opts["format"] == "csv" and opts["output"]:
            append_csv(opts["output"], csv_header(responses, opts["columns"]), csv_row(ev, responses, opts["columns"]))
        elif opts["output"]:
            write_output(opts["output"], render(ev, responses, opts["format"], opts["columns"]))
        else:
            sys.stdout.write(render(ev, responses, opts["format"], opts["columns"]))
            sys.stdout.flush()
    except ResponseError as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"{PROG}: {e.filename or opts['output'] or 'standard output'}: {e.strerror}", file=sys.stderr)
        return 1
    return 0 if ev.ok else 1


if __name__ == "__main__":
    sys.exit(main())
