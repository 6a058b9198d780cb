"""The report's field lines as numpy computes them from a solver's own arrays: what every line of
params.txt (whole model and sets, every frame, max/min/engg, components, invariants) must say."""
import math
import numpy as np

TENSOR = ("11", "22", "33", "12", "13", "23")


def extremes(values, per):
    """max, min and the engineering extremes at per percent (k-th highest and lowest, NaNs left out)."""
    s = np.sort(np.asarray(values, dtype=np.float64))
    s = s[~np.isnan(s)]
    k = max(int(min(max(len(s) * per / 100.0, 0), len(s))) - 1, 0)
    return {"max": s[-1], "min": s[0], "enggmax": s[::-1][k], "enggmin": s[k]}


def mises(t):
    s11, s22, s33, s12, s13, s23 = t.T
    return np.sqrt(((s11 - s22) ** 2 + (s22 - s33) ** 2 + (s33 - s11) ** 2) / 2 + 3 * (s12 ** 2 + s13 ** 2 + s23 ** 2))


def invariants(t):
    full = t[:, [[0, 3, 4], [3, 1, 5], [4, 5, 2]]]   # 11 22 33 12 13 23 as the symmetric 3 x 3
    eig, mean = np.linalg.eigvalsh(full), t[:, :3].sum(axis=1) / 3
    dev = full - mean[:, None, None] * np.eye(3)
    return {"mises": mises(t), "tresca": eig[:, 2] - eig[:, 0], "press": -mean, "inv3": np.cbrt(13.5 * np.linalg.det(dev)),
            "maxprincipal": eig[:, 2], "midprincipal": eig[:, 1], "minprincipal": eig[:, 0]}


def quantities(name, kind, data, on_set):
    """{quantity label: values} of one field's values; "" is a scalar's own value."""
    if kind == "scalar":
        return {"": data}
    if kind == "vector":
        return {"mag": np.linalg.norm(data, axis=1), **{c: data[:, i] for i, c in enumerate("123")}}
    return {"mises": mises(data), **{c: data[:, i] for i, c in enumerate(TENSOR)},
            **(invariants(data) if on_set and name == "S" else {})}


def expected(step, frames, node_sets, element_sets, connectivity, per=5.0):
    """{line name: value}. frames: [(increment, [(field, kind, 'NODAL'|'CENTROID', data)])]; sets hold 0-based
    node or element indices; connectivity: a 0-based node list per element."""
    lines = {}
    for increment, fields in frames:
        for name, kind, position, data in fields:
            nodal = position == "NODAL"
            regions = [("", np.arange(len(data)))] + [
                (s, np.unique(np.concatenate([connectivity[e] for e in els])) if nodal else np.asarray(els))
                for s, els in element_sets.items()] + [(s, np.asarray(n)) for s, n in node_sets.items() if nodal]
            for region, rows in regions:
                if not len(rows):
                    continue
                for quantity, values in quantities(name, kind, data[rows], bool(region)).items():
                    parts = [step, "Frame_%d" % increment] + ([region] if region else []) + [name] + ([quantity] if quantity else [])
                    for stat, value in extremes(values, per).items():
                        lines["__".join(parts + [stat])] = value
    return lines


def compare(check, label, params_text, want, rel=2e-5):
    """Every line of the report against the model and the model's lines against the report."""
    field_lines = dict(line.split("\t", 1) for line in params_text.splitlines() if "__Frame_" in line)
    for what, names in (("missing", set(want) - set(field_lines)), ("extra", set(field_lines) - set(want))):
        check(label + ": no line " + what, not names, "%d %s, first %s" % (len(names), what, sorted(names)[:3]))
    wrong = ["%s: report %s, numpy %.6g" % (name, field_lines[name], want[name]) for name in sorted(set(want) & set(field_lines))
             if not math.isclose(float(field_lines[name]), want[name], rel_tol=rel, abs_tol=1e-9 * (1 + abs(want[name])))]
    check(label + ": every line agrees with numpy", not wrong, "%d differ, first %s" % (len(wrong), wrong[:3]))
    return len(set(want) & set(field_lines))
