#!/usr/bin/python3
"""The Python module harvestodb against h5py reading the same files, the writer's argument checks, the
lifetime of arrays, mass properties, and (with --examples, from the build tree and an install) examples/python.

    check_module.py BIN_DIR PYTHON_DIR EXAMPLES_DIR [--examples CMAKE BUILD_DIR]"""
import collections.abc
import contextlib
import functools
import gc
import os
import shutil
import sys

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import harness as H  # noqa: E402

BIN, PYTHON_DIR, EXAMPLES = sys.argv[1:4]
sys.path.insert(0, PYTHON_DIR)
import harvestodb  # noqa: E402

# Databases read both ways: (name, generator argv after the output path's folder).
DATABASES = [
    ("odbgen", ["odbgen", "--size", "3000", "--steps", "2", "--frames", "2"]),
    ("odbgen single contiguous", ["odbgen", "--size", "3000", "--single", "--layout", "contiguous", "--fields", "1"]),
    ("odbgen chunked every-set", ["odbgen", "--size", "2000", "--layout", "chunked", "--sets", "every", "--points", "4"]),
    *(("golden " + n, ["golden_make_db", n]) for n in ("field_types", "field_two_blocks", "hist_points",
                                                       "trav_mass_special")),
]

# The tensor components of each stored type code as docs/format.md defines them.
TENSOR_ORDER = {5: "11 22 33 12 13 23", 6: "11 22 33 12", 7: "11 22 12", 8: "11 22 33 12", 9: "11 22 12"}
FULL = TENSOR_ORDER[5].split()
CUBE = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]], float)
HEX = np.arange(8, dtype=np.int32)  # CUBE's nodes in the order of an 8-node brick


def i32(*values):
    return np.array(values, np.int32)


def names(g):
    """Link names of a group in the order the library reports them: creation order when tracked."""
    out = []
    if g is not None:
        order = h5py.h5.INDEX_CRT_ORDER if g.id.get_create_plist().get_link_creation_order() else h5py.h5.INDEX_NAME
        g.id.links.iterate(lambda n: out.append(n.decode()), idx_type=order)
    return out


def attr(obj, name, default):
    v = default if obj is None or name not in obj.attrs else obj.attrs[name]
    if isinstance(v, np.ndarray) and v.dtype.kind in "OS":
        return tuple(x.decode() if isinstance(x, bytes) else x for x in v)
    return v.decode() if isinstance(v, bytes) else v


def mises_of(data, labels, type_code):
    """Von Mises per row as the format page defines it, in double precision."""
    if type_code not in TENSOR_ORDER:
        return np.zeros(len(data))
    slots = {x[-2:]: c for c, x in reversed(list(enumerate(labels))) if x[-2:] in FULL}  # the first of each
    slots = slots or {s: c for c, s in enumerate(TENSOR_ORDER[type_code].split()) if c < data.shape[1]}
    s = {k: data[:, slots[k]].astype(np.float64) if k in slots else 0.0 for k in FULL}
    return np.sqrt(((s["11"] - s["22"]) ** 2 + (s["22"] - s["33"]) ** 2 + (s["33"] - s["11"]) ** 2) / 2
                   + 3 * (s["12"] ** 2 + s["13"] ** 2 + s["23"] ** 2))


def same(name, got, want):
    """Checks equal values: arrays of the same dtype and shape, numbers (nan equal to nan), or None."""
    if isinstance(got, np.ndarray) or isinstance(want, np.ndarray):
        want = None if want is None else np.asarray(want)
        kinds = [None if a is None else (a.dtype, a.shape) for a in (got, want)]
        ok = None not in kinds and kinds[0] == kinds[1] and np.array_equal(got, want)
        return H.check(name, ok, "got %s, expected %s" % tuple(kinds))
    nan = isinstance(got, float) and isinstance(want, float) and np.isnan(got) and np.isnan(want)
    return H.check(name, got == want or nan, "got %r, expected %r" % (got, want))


def h5(g, key):
    """What h5py reads in g for key: "." the group's name, "path@name" an attribute of the object at path
    (g when empty), "path" a dataset's array; None when absent."""
    if key == ".":
        return g.name.rsplit("/", 1)[-1]
    path, _, name = key.partition("@")
    obj = g.get(path) if path else g
    return None if obj is None else attr(obj, name, None) if name else obj[()]


SKIP = object()  # nothing to compare when the file has no such object
I32 = np.zeros(0, np.int32)


def none_for(missing=None):
    """None for an absent, empty or missing-marked value."""
    return lambda v: None if v is None or np.size(v) == 0 or (missing is not None and v == missing) else v


def rows(d):
    return d.reshape(len(d), -1)


# What each kind of object shows, against what h5py reads in its group: (module attribute, h5py key, the
# format's default when the file has none, conversions of what was read); a key "group/" pairs the module's
# mapping or list (by position with groups 0..n-1) with the group's objects of the kind that follows, less
# the internal sets and empty blocks the module leaves out.
SETS = [("node_sets", "nodeSets/", "set"), ("element_sets", "elementSets/", "set")]
OBJECTS = {
    "database": [("description", "@description", ""), ("root_assembly.name", "assembly@name", "ASSEMBLY"),
                 ("parts", "parts/", "part"), ("root_assembly.instances", "assembly/instances/", "instance"),
                 *(("root_assembly." + p, "assembly/" + k, c) for p, k, c in SETS), ("steps", "steps/", "step")],
    "part": [("name", ".", None), *SETS],
    "instance": [("name", ".", None), *SETS, ("part_name", "@part", ""), ("node_labels", "nodes/labels", I32),
                 ("coordinates", "nodes/coordinates", SKIP, lambda c: c.astype(np.float64)),
                 ("element_labels", "elements/labels", I32),
                 ("offsets", "elements/offsets", SKIP, lambda o: o.astype(np.int64)),
                 ("connectivity", "elements/connectivity", SKIP)],
    "set": [("name", ".", None)],
    "step": [("name", ".", None), ("description", "@description", ""), ("mass", "@mass", None, none_for(-1.0)),
             ("mass_center", "@massCenter", None, none_for()),
             ("inertia_about_center", "@inertiaAboutCenter", None, none_for()),
             ("inertia_about_origin", "@inertiaAboutOrigin", None, none_for()),
             ("frames", "frames/", "frame"), ("history_regions", "historyRegions/", "region")],
    "frame": [("frame_id", ".", None, int), ("increment_number", "@incrementNumber", lambda g: int(h5(g, "."))),
              ("description", "@description", ""), ("frame_value", "@frameValue", 0.0),
              ("field_outputs", "fieldOutputs/", "field")],
    "field": [("name", ".", None), ("type_code", "@type", 2, int),  # names of types and invariants: check_writer
              ("description", "@description", ""), ("component_labels", "@componentLabels", (), tuple),
              ("blocks", "blocks/", "block")],
    "block": [("position", "@position", "", str.strip), ("instance_name", "@instance", ""),
              ("section_point", "@sectionPoint", 0), ("data", "data", None, rows),
              ("precision", "data", None, lambda d: str(d.dtype)),
              ("data.flags.writeable", "", False), ("data.flags.owndata", "", False),  # a read-only view
              ("mises.dtype", "", np.dtype(np.float32)), ("node_labels", "nodeLabels", None),
              ("element_labels", "elementLabels", None), ("integration_points", "integrationPoints", None)],
    "region": [("name", ".", None), ("outputs", "historyOutputs/", "output"),
               ("point.node", "@node", None, none_for(-1)), ("point.element", "@element", None, none_for(-1)),
               ("point.ip_number", "@ipNumber", 0), ("point.section_point", "@sectionPoint", 0),
               ("point.region", "@region", ""), ("point.instance_name", "@instance", "")],
    "output": [("name", ".", None), ("data", "data", None, lambda d: d.astype(np.float32))],
}

KEEP = {"set": lambda g: not attr(g, "internal", 0), "block": lambda g: len(g["data"]) > 0}


def compare_set(where, s, d, _):
    if isinstance(d, h5py.Dataset):
        return same(where + " labels", s.labels(s.instance_names[0] if s.instance_names else ""), d[()])
    H.check(where + " instances", list(s.instance_names) == names(d))
    for inst in names(d):
        same("%s labels of %s" % (where, inst), s.labels(inst), d[inst][()])


def compare_block(where, block, g, field):
    """Component labels without the field's name, and von Mises computed here from the stored rows."""
    n = field.name
    stripped = tuple(x[len(n):] if len(x) > len(n) and x.startswith(n) else x for x in field.component_labels)
    same(where + " component labels", block.component_labels, stripped)
    want = mises_of(rows(g["data"][()]), field.component_labels, field.type_code)
    H.check(where + " mises", np.allclose(block.mises, want, rtol=1e-5, atol=1e-5),
            "max difference %g" % np.max(np.abs(block.mises - want)) if len(want) else "")


CHECKS = {"set": compare_set, "block": compare_block}


def dig(obj, prop):
    return functools.reduce(getattr, prop.split("."), obj)


def pairs(obj, prop, g, sub, kind):
    """(name, module object, group) of the children, and whether both sides hold the same names."""
    group, children = g.get(sub.rstrip("/")), dig(obj, prop)
    keys = [n for n in names(group) if KEEP.get(kind, bool)(group[n])]
    if isinstance(children, collections.abc.Mapping):
        return [(k, children[k], group[k]) for k in keys if k in children], list(children) == keys
    return [(k, c, group[k]) for k, c in zip(sorted(keys, key=int), children)], len(children) == len(keys)


def walk(where, kind, obj, g, parent=None):
    """Compares obj with its group g by the rows of its kind, then its children."""
    for prop, key, default, *conversions in OBJECTS[kind]:
        if key and key.endswith("/"):
            children, ok = pairs(obj, prop, g, key, default)
            H.check("%s %s" % (where, prop), ok, str(list(dig(obj, prop))))
            for name, c, cg in children:
                walk("%s/%s%s" % (where.rstrip("/"), key, name), default, c, cg, obj)
            continue
        want = h5(g, key) if key else None
        if want is None:
            want = default(g) if callable(default) else default
        if want is not SKIP:
            same("%s %s" % (where, prop), dig(obj, prop), functools.reduce(lambda v, f: f(v), conversions, want))
    if kind in CHECKS:
        CHECKS[kind](where, obj, g, parent)


def touch(kind, obj):
    """Reads everything obj holds by the same rows, so that a damaged array is met."""
    for prop, key, child, *_ in OBJECTS[kind]:
        value = dig(obj, prop)
        for c in (value.values() if isinstance(value, collections.abc.Mapping) else value) if key.endswith("/") else ():
            touch(child, c)


def compare(label, path):
    with harvestodb.open(path) as db, h5py.File(path, "r") as f:
        walk(label + " /", "database", db, f)
        H.check(label + " open", not db.closed)
    H.check(label + " closed on exit", db.closed)


def check_subsets(path):
    """get_subset on a node set and an element set selects the rows numpy selects."""
    with harvestodb.open(path) as db:
        inst = db.root_assembly.instances["PART-1-1"]
        fields = db.steps["Step-1"].frames[-1].field_outputs
        for fname, sets, attr_name in (("U", inst.node_sets, "node_labels"), ("S", inst.element_sets, "element_labels")):
            whole = np.concatenate([b.data for b in fields[fname].blocks])
            keys = np.concatenate([getattr(b, attr_name) for b in fields[fname].blocks])
            for sname, s in sets.items():
                sub = fields[fname].get_subset(s).blocks
                got = np.concatenate([b.data for b in sub]) if sub else whole[:0]
                same("subset %s on %s" % (fname, sname), got, whole[np.isin(keys, s.labels("PART-1-1"))])


def check_lifetime(path):
    """Arrays outlive the database, field output and block they came from; after close() arrays taken
    before stay, everything else fails with the library's message."""
    db = harvestodb.open(path)
    step = db.steps["Step-1"]
    block, inst = step.frames[-1].field_outputs["S"].blocks[0], db.root_assembly.instances["PART-1-1"]
    region = next(iter(step.history_regions.values()))
    arrays = {"data": block.data, "mises": block.mises, "element labels": block.element_labels,
              "coordinates": inst.coordinates, "connectivity": inst.connectivity,
              "set": next(iter(inst.node_sets.values())).labels("PART-1-1"),
              "history": next(iter(region.outputs.values())).data}
    copies = {k: v.copy() for k, v in arrays.items()}
    del db, step, block, inst, region
    gc.collect()
    junk = [np.full(len(v), 7.0) for v in copies.values()]  # reuse of freed memory would show
    for k, v in arrays.items():
        same("lifetime " + k, v, copies[k])
    del junk
    db = harvestodb.open(path)
    frame = db.steps["Step-1"].frames[0]
    u = frame.field_outputs["U"].blocks[0].data
    db.close()
    for what, get in (("steps", lambda: db.steps), ("field outputs", lambda: frame.field_outputs)):
        e = error_of(get)
        H.check("closed database: " + what, e is not None and e.endswith(": database is closed"), str(e))
    H.check("closed database keeps arrays", u.shape[1] == 3 and np.isfinite(u).all())
    steps = harvestodb.open(path).steps  # the mapping keeps its database open
    got = ("Step-1" in steps, 1 in steps, steps.get(1, 5), [error_of(lambda: steps[k], KeyError) for k in ("S", 1)])
    H.check("mapping", got == (True, False, 5, ["'S'", "1"]), str(got))


def error_of(call, kinds=(ValueError, harvestodb.OdbError)):
    """The message of the exception of kinds that call raises, or None."""
    try:
        call()
    except kinds as e:
        return str(e)


# Damaged copies of the golden field_types database, one failing on open and one on each lazy read (the
# library's own table has every message): the module raises OdbError with the message odbinfo --check prints.
DAMAGE = [
    ("missing file", None),
    ("labels count off", lambda f: f["steps/Step-1/frames/0/fieldOutputs/U/blocks/0"].__delitem__("nodeLabels")),
    ("connectivity past the end", lambda f: f["assembly/instances/PART-1-1/elements/offsets"].__setitem__(-1, 99)),
]


def check_errors(good, scratch):
    path = os.path.join(scratch, "damaged.odb")
    for name, damage in DAMAGE:
        if damage is not None:
            shutil.copy(good, path)
            with h5py.File(path, "r+") as f:
                damage(f)
        ref = H.run([os.path.join(BIN, "odbinfo"), "--check", path], text=True)
        want = ref.err.strip()[len("odbinfo: "):]
        e = error_of(lambda: touch("database", harvestodb.open(path)), harvestodb.OdbError)
        H.check("damaged: " + name, ref.status == 1 and e == want, "%r, odbinfo: %r" % (e, want))


def write_everything(path, single):
    """A database with every kind of object the writer makes; returns what a reader must find."""
    dt, labels8 = (np.float32 if single else np.float64), np.arange(1, 9, dtype=np.int32)
    ip = dict(position="INTEGRATION_POINT", instance="PART-1-1", element_labels=np.ones(8, np.int32),
              integration_points=labels8)
    with harvestodb.Writer(path, chunked=not single) as w:
        w.set_description("every object")
        w.set_assembly_name("ASM")
        w.add_part("PART-1")
        w.add_part_set("PART-1", "NODE_SET", "PN", [1, 2])
        w.add_part_set("PART-1", "ELEMENT_SET", "PE", i32(1), internal=True)
        w.add_instance("PART-1-1", "PART-1")
        w.set_instance_nodes("PART-1-1", labels8, CUBE)
        w.set_instance_elements("PART-1-1", i32(1, 2), i32(1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8),
                                np.array([0, 8, 12], np.int64))
        w.add_instance_set("PART-1-1", "NODE_SET", "TOP", i32(5, 6, 7, 8))
        w.add_instance_set("PART-1-1", "ELEMENT_SET", "E1", i32(1))
        w.add_assembly_set("NODE_SET", "ASM_N", {"PART-1-1": i32(1, 8)})
        props = harvestodb.mass_properties("C3D8", CUBE, HEX.reshape(1, 8), density=2.0)
        w.add_step("Step-1", description="load", **props)
        w.add_step("Step 2 (mass unknown)")
        for step in ("Step-1", "Step 2 (mass unknown)"):
            for k in range(2):
                frame = w.add_frame(step, increment_number=k + 1, frame_value=0.5 * (k + 1), description="Inc %d" % k)
                w.add_field_output(step, frame, "S", type="TENSOR_3D_FULL", description="Stress",
                                   component_labels=["S" + c for c in FULL], valid_invariants=["MISES", "PRESS"])
                s = np.arange(48, dtype=dt).reshape(8, 6) * (k + 1)
                w.add_block(step, frame, "S", s, **ip)
                w.add_block(step, frame, "S", s[:2] + 1, position="CENTROID", instance="PART-1-1", section_point=3,
                            element_labels=i32(1, 2))
                w.add_field_output(step, frame, "U", type="VECTOR", component_labels=["U1", "U2", "U3"])
                w.add_block(step, frame, "U", CUBE.astype(dt) * k, instance="PART-1-1", node_labels=labels8)
                w.add_field_output(step, frame, "PEEQ", type=2)
                w.add_block(step, frame, "PEEQ", np.linspace(0, 1, 8, dtype=dt), **ip)
        w.add_history_region("Step-1", "Node PART-1-1.7", description="tip", node=7, instance="PART-1-1")
        w.add_history_output("Step-1", "Node PART-1-1.7", "U3", np.array([[0, 0], [1, -0.5]], dt), type=2)
        w.add_history_region("Step-1", "Assembly ASM", region="ASM_N")
        w.add_history_output("Step-1", "Assembly ASM", "ALLIE", [[0.0, 0.0], [1.0, 3.5]], description="energy")
    return props


def check_writer(scratch):
    """Every writer call reads back through the module and through h5py."""
    for single in (False, True):
        label, path = "written %s" % ("float32" if single else "float64"), os.path.join(scratch, "written.odb")
        props = write_everything(path, single)
        compare(label, path)
        with harvestodb.open(path, internal_sets=True) as db:  # the walk saw the internal set left out
            step, fields = db.steps["Step-1"], db.steps["Step-1"].frames[0].field_outputs
            got = (db.parts["PART-1"].element_sets["PE"].is_internal, step.mass, list(step.inertia_about_origin),
                   [f.type for f in fields.values()], fields["S"].valid_invariants)
            H.check(label + " internal set, mass, types and invariants as written", got == (
                True, props["mass"], list(props["inertia_about_origin"]), ["TENSOR_3D_FULL", "VECTOR", "SCALAR"],
                ("MISES", "PRESS")), str(got))


def check_mass_properties():
    """A unit cube of density 3 given each way the call takes it holds its closed-form values (the
    integration of each element family has its own table in the library's tests)."""
    tets = [[0, 1, 3, 4], [1, 2, 3, 6], [1, 3, 4, 6], [3, 4, 6, 7], [1, 4, 5, 6]]  # the centre one and 4 corners
    want = {"mass": 3.0, "mass_center": [0.5] * 3, "inertia_about_center": [0.5] * 3 + [0.0] * 3,
            "inertia_about_origin": [2.0] * 3 + [0.75] * 3}
    for name, kw in [
        ("one type", dict(shapes="HEX8", connectivity=HEX.reshape(1, 8))),
        ("five tetrahedra", dict(shapes="C3D4", connectivity=np.array(tets, np.int32))),
        ("labels", dict(shapes=["C3D8R"], connectivity=HEX.reshape(1, 8) + 11, node_labels=HEX + 11)),
        ("flat with offsets", dict(shapes=["C3D8"], connectivity=HEX, offsets=np.array([0, 8], np.int64))),
    ]:
        got = harvestodb.mass_properties(coordinates=CUBE, density=3.0, **kw)
        H.check("mass properties: " + name, got is not None and set(got) == set(want)
                and all(np.allclose(got[k], v, atol=1e-12) for k, v in want.items()), str(got))
    H.check("mass properties: unknown type", harvestodb.mass_properties(["S4"], CUBE, np.zeros((1, 4), np.int32)) is None)
    for name, conn, message in [
        ("node out of range", i32(0, 1, 2, 3, 4, 5, 6, 8).reshape(1, 8), "element 0 has node 8, which is not a node"),
        ("too few nodes", i32(0, 1, 2, 3).reshape(1, 4), "element 0 (C3D8) has 4 nodes, expected 8"),
        ("int64 connectivity", np.zeros((1, 8), np.int64), "connectivity has dtype int64, expected int32"),
    ]:
        e = error_of(lambda: harvestodb.mass_properties("C3D8", CUBE, connectivity=conn))
        H.check("mass properties refuse: " + name, e == "mass_properties: /: " + message, str(e))


BLOCK = "/steps/Step-1/frames/0/fieldOutputs/S/blocks/0: "


def block(name, data, message, **kw):
    """A row of REFUSED for add_block of data (and kw) to field S in frame 0 of Step-1."""
    return name, lambda w: w.add_block("Step-1", 0, "S", data, **kw), BLOCK + message


# Writer calls refused before anything is written: (name, call on a writer with one instance, a
# step, frame 0 and a field S of 6 components, the ValueError or OdbError message after "w.odb: ").
REFUSED = [
    block("data width", np.zeros((2, 4), np.float32), "data has shape (2, 4), expected (n, 6)"),
    block("data dtype", np.zeros((2, 6), np.int64), "data has dtype int64, expected float32 or float64"),
    block("data not contiguous", np.zeros((6, 2)).T, "data is not C-contiguous"),
    block("label dtype", np.zeros((2, 6)), "nodeLabels has dtype int64, expected int32", node_labels=np.array([1, 2])),
    block("label shape", np.zeros((2, 6)), "elementLabels has shape (2, 1), expected (n,)",
          element_labels=np.ones((2, 1), np.int32)),
    block("label count (library)", np.zeros((2, 6)), "nodeLabels has 3 entries, data has 2 rows", node_labels=[1, 2, 3]),
    ("position", lambda w: w.add_block("Step-1", 0, "S", np.zeros((2, 6)), position="NODES"),
     "/steps/Step-1/frames/0/fieldOutputs/S: position 'NODES' is not a result position"),
    ("coordinates shape", lambda w: w.set_instance_nodes("I", i32(1, 2), np.zeros((2, 2))),
     "/assembly/instances/I/nodes: coordinates has shape (2, 2), expected (2, 3)"),
    ("offsets length", lambda w: w.set_instance_elements("I", i32(1), i32(0, 1, 2, 3), np.array([0, 4, 4], np.int64)),
     "/assembly/instances/I/elements: offsets has shape (3,), expected (2,)"),
    ("mass centre", lambda w: w.add_step("Step-2", mass_center=[1.0, 2.0]),
     "/steps/Step-2: massCenter has 2 values, expected 3"),
    ("field type", lambda w: w.add_field_output("Step-1", 0, "X", type="TENSOR"),
     "/steps/Step-1/frames/0/fieldOutputs/X: type 'TENSOR' is not a data type"),
    ("set type", lambda w: w.add_instance_set("I", "NODES", "N", [1]),
     "/assembly/instances/I: set type 'NODES', expected NODE_SET or ELEMENT_SET"),
    ("labels not numbers", lambda w: w.add_instance_set("I", "NODE_SET", "N", "abc"),
     "/assembly/instances/I: N is <class 'str'>, expected an array of int32"),
    ("history 1-D", lambda w: w.add_history_output("Step-1", "R", "U1", np.zeros(4)),
     "/steps/Step-1/historyRegions/R/historyOutputs/U1: data has shape (4,), expected (n, 2)"),
]


def check_refusals(scratch):
    path = os.path.join(scratch, "w.odb")
    for name, call, message in REFUSED:
        w = harvestodb.Writer(path)
        w.add_instance("I")
        w.add_step("Step-1")
        w.add_frame("Step-1")
        w.add_field_output("Step-1", 0, "S", type="TENSOR_3D_FULL", component_labels=["S" + c for c in FULL])
        w.add_history_region("Step-1", "R")
        e = error_of(lambda: call(w))
        H.check("refused: " + name, e == path + ": " + message, str(e))
        w.close()
    # A with block that raises leaves no file; a closed writer refuses more.
    with contextlib.suppress(KeyError), harvestodb.Writer(path) as w:
        w.add_step("Step-1")
        raise KeyError("stop")
    H.check("writer: an exception leaves no file", not os.path.exists(path))
    with harvestodb.Writer(path) as w:
        w.add_step("Step-1")
    e = error_of(lambda: w.add_step("Step-2"))
    H.check("writer: closed", e == path + ": /: the file is closed", str(e))


def check_docs():
    """Every Python block of docs/library.md's Python section is a verbatim part of an example."""
    text = H.read(os.path.join(EXAMPLES, "..", "..", "docs", "library.md"), "r")
    section = text.split("## Python\n", 1)[1].split("\n## ", 1)[0]
    blocks = [b.split("```", 1)[0] for b in section.split("```python\n")[1:]]
    sources = [H.read(os.path.join(EXAMPLES, n), "r") for n in sorted(os.listdir(EXAMPLES)) if n.endswith(".py")]
    H.check("docs: python blocks", len(blocks) == 2, str(len(blocks)))
    for i, block in enumerate(blocks):
        H.check("docs: python block %d is in an example" % i, any(block in src for src in sources), block[:80])


def check_install(scratch, cmake, build):
    """Installed components find each other in a prefix; the pure modules import without the compiled one."""
    prefix = os.path.join(scratch, "prefix")
    for component in ("library", "python", "programs"):
        r = H.run([cmake, "--install", build, "--prefix", prefix, "--component", component], text=True)
        H.check("install " + component, r.status == 0, r.err)
    site = os.path.join(prefix, "lib", "python3", "dist-packages")
    r = H.run([os.path.join(prefix, "bin", "harvest-plot"), "--help"], cwd=scratch, text=True)
    H.check("installed harvest-plot --help", r.status == 0 and r.out.startswith("usage: harvest-plot"), r.err)
    probe = ("import harvestodb, harvestodb.report; print(harvestodb.__file__, harvestodb.__version__);"
             "print(sorted(harvestodb.open(%r).steps))")
    r = H.run([sys.executable, "-c", probe % os.path.join(scratch, "brick.odb")], cwd=scratch,
              env=dict(os.environ, PYTHONPATH=site), text=True)
    H.check("installed package", r.status == 0 and r.out.startswith(os.path.join(site, "harvestodb"))
            and r.out.endswith("['Step-1']\n"), r.out + r.err)
    os.remove([os.path.join(site, "harvestodb", n) for n in os.listdir(os.path.join(site, "harvestodb"))
               if n.startswith("_odb")][0])
    r = H.run([sys.executable, "-c", "import harvestodb.report, harvestodb.plot\ntry:\n harvestodb.open('x')\n"
               "except ImportError:\n print('no _odb')"], cwd=scratch, env=dict(os.environ, PYTHONPATH=site),
              text=True)
    H.check("pure modules without _odb", r.status == 0 and r.out == "no _odb\n", r.out + r.err)


def check_examples(scratch, build):
    """write_db.py writes the brick; max_mises.py prints what the C++ example prints on it and on odbgen's."""
    py = sys.executable
    env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
    db, gen = os.path.join(scratch, "brick.odb"), os.path.join(scratch, "gen.odb")
    r = H.run([py, os.path.join(EXAMPLES, "write_db.py"), db], env=env, text=True)
    H.check("write_db.py", r.status == 0 and r.err == "", r.err)
    H.run([os.path.join(BIN, "odbgen"), "--size", "2000", "--steps", "2", "--frames", "3", gen])
    for path, want in ((db, H.read(os.path.join(EXAMPLES, "..", "cpp", "max_mises.expected"), "r")),
                       (gen, H.run([os.path.join(build, "examples", "cpp", "max_mises"), gen], text=True).out)):
        r = H.run([py, os.path.join(EXAMPLES, "max_mises.py"), path], env=env, text=True)
        H.check("max_mises.py as the C++ example on " + os.path.basename(path), (r.status, r.out) == (0, want)
                and want.count("\n") >= (6 if path == gen else 1), r.out + r.err)
    r = H.run([py, os.path.join(EXAMPLES, "max_mises.py"), os.path.join(scratch, "none.odb")], env=env, text=True)
    H.check("max_mises.py missing file", r.status == 1 and r.err.startswith("max_mises.py: ") and
            r.err.endswith(": /: file does not exist\n"), r.err)


def main():
    with H.scratch("harvest-py-") as scratch:
        if "--examples" in sys.argv:
            cmake, build = sys.argv[sys.argv.index("--examples") + 1:][:2]
            check_examples(scratch, build)
            check_docs()
            check_install(scratch, cmake, build)
            return H.finish("python examples")
        for i, (label, argv) in enumerate(DATABASES):
            path = os.path.join(scratch, "db%d.odb" % i)
            r = H.run([os.path.join(BIN, argv[0])] + argv[1:] + [path], text=True)
            if not H.check(label + " generated", r.status == 0, r.err):
                continue
            compare(label, path)
            if i == 0:
                check_subsets(path)
                check_lifetime(path)
            if argv[1:] == ["field_types"]:
                check_errors(path, scratch)
        check_writer(scratch)
        check_mass_properties()
        check_refusals(scratch)
        H.check("version", harvestodb.__version__.count(".") >= 1, harvestodb.__version__)
    return H.finish("python module")


if __name__ == "__main__":
    sys.exit(main())
