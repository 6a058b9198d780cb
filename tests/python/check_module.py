#!/usr/bin/python3
"""The Python module harvestodb against h5py reading the same files, the writer's argument checks,
the lifetime of arrays, mass properties, and the examples of examples/python.

    check_module.py BIN_DIR PYTHON_DIR EXAMPLES_DIR [--examples CMAKE BUILD_DIR]

BIN_DIR holds odbgen, golden_make_db and odbinfo; PYTHON_DIR the built package. With --examples,
the examples run from the build tree and from an install of BUILD_DIR into a scratch prefix."""
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
    ("golden field_types", ["golden_make_db", "field_types"]),
    ("golden field_two_blocks", ["golden_make_db", "field_two_blocks"]),
    ("golden hist_points", ["golden_make_db", "hist_points"]),
    ("golden trav_sets", ["golden_make_db", "trav_sets"]),
    ("golden trav_mass_special", ["golden_make_db", "trav_mass_special"]),
]

TENSOR_ORDER = {5: "11 22 33 12 13 23", 6: "11 22 33 12", 7: "11 22 12", 8: "11 22 33 12", 9: "11 22 12"}
TYPES = {2: "SCALAR", 3: "VECTOR", 5: "TENSOR_3D_FULL", 6: "TENSOR_3D_PLANAR", 7: "TENSOR_3D_SURFACE",
         8: "TENSOR_2D_PLANAR", 9: "TENSOR_2D_SURFACE"}
INVARIANTS = [None, "MAX_PRINCIPAL", "MID_PRINCIPAL", "MIN_PRINCIPAL", "MISES", "TRESCA", "PRESS", "INV3",
              "MAGNITUDE", "MAX_INPLANE_PRINCIPAL", "MIN_INPLANE_PRINCIPAL", "OUTOFPLANE_PRINCIPAL"]


def names(g):
    """Link names of a group in the order the library reports them: creation order when tracked."""
    if g is None:
        return []
    out = []
    tracked = g.id.get_create_plist().get_link_creation_order()
    order = h5py.h5.INDEX_CRT_ORDER if tracked else h5py.h5.INDEX_NAME
    g.id.links.iterate(lambda n: out.append(n.decode()), idx_type=order)
    return out


def attr(obj, name, default):
    if name not in obj.attrs:
        return default
    v = obj.attrs[name]
    if isinstance(v, bytes):
        return v.decode()
    if isinstance(v, np.ndarray) and v.dtype.kind in "OS":
        return tuple(x.decode() if isinstance(x, bytes) else x for x in v)
    return v


def mises_of(data, labels, type_code):
    """Von Mises per row as the format page defines it, in double precision."""
    if type_code not in TENSOR_ORDER:
        return np.zeros(len(data))
    slots = {}
    for col, label in enumerate(labels):
        if label[-2:] in TENSOR_ORDER[5].split() and label[-2:] not in slots:
            slots[label[-2:]] = col
    if not slots:
        slots = {s: c for c, s in enumerate(TENSOR_ORDER[type_code].split()) if c < data.shape[1]}
    s = {k: data[:, slots[k]].astype(np.float64) if k in slots else 0.0 for k in TENSOR_ORDER[5].split()}
    return np.sqrt(((s["11"] - s["22"]) ** 2 + (s["22"] - s["33"]) ** 2 + (s["33"] - s["11"]) ** 2) / 2
                   + 3 * (s["12"] ** 2 + s["13"] ** 2 + s["23"] ** 2))


def same(name, got, want):
    """Checks equal values of the same dtype (want an h5py array or None)."""
    if want is None or got is None:
        return H.check(name, got is None and want is None, "got %r, expected %r" % (got, want))
    want = np.asarray(want)
    return H.check(name, got.dtype == want.dtype and got.shape == want.shape and np.array_equal(got, want),
                   "got %s %s, expected %s %s" % (got.dtype, got.shape, want.dtype, want.shape))


def compare_sets(where, module_sets, group):
    public = [n for n in names(group) if not attr(group[n], "internal", 0)]  # internal sets are not loaded
    H.check(where + " set names", list(module_sets.keys()) == public, str(list(module_sets.keys())))
    for name, s in module_sets.items():
        d = group[name]
        if isinstance(d, h5py.Dataset):
            same("%s/%s labels" % (where, name), s.labels(s.instance_names[0] if s.instance_names else ""), d[()])
        else:
            H.check("%s/%s instances" % (where, name), list(s.instance_names) == names(d))
            for inst in names(d):
                same("%s/%s/%s labels" % (where, name, inst), s.labels(inst), d[inst][()])


def compare_model(label, db, f):
    H.check(label + " parts", list(db.parts.keys()) == names(f.get("parts")))
    for name, part in db.parts.items():
        for kind in ("nodeSets", "elementSets"):
            sets = part.node_sets if kind == "nodeSets" else part.element_sets
            compare_sets("%s part %s %s" % (label, name, kind), sets, f["parts"][name].get(kind))
    asm = f.get("assembly")
    ra = db.root_assembly
    H.check(label + " assembly name", ra.name == attr(asm, "name", "ASSEMBLY") if asm else ra.name == "ASSEMBLY")
    instances = asm.get("instances") if asm else None
    H.check(label + " instances", list(ra.instances.keys()) == names(instances))
    for name, inst in ra.instances.items():
        g = instances[name]
        where = "%s instance %s" % (label, name)
        H.check(where + " part", inst.part_name == attr(g, "part", ""))
        same(where + " node labels", inst.node_labels, g["nodes/labels"][()] if "nodes/labels" in g else
             np.zeros(0, np.int32))
        if "nodes/coordinates" in g:
            same(where + " coordinates", inst.coordinates, g["nodes/coordinates"][()].astype(np.float64))
        same(where + " element labels", inst.element_labels,
             g["elements/labels"][()] if "elements/labels" in g else np.zeros(0, np.int32))
        if "elements/offsets" in g:
            same(where + " offsets", inst.offsets, g["elements/offsets"][()].astype(np.int64))
            same(where + " connectivity", inst.connectivity, g["elements/connectivity"][()])
        for kind in ("nodeSets", "elementSets"):
            sets = inst.node_sets if kind == "nodeSets" else inst.element_sets
            compare_sets(where + " " + kind, sets, g.get(kind))
    for kind in ("nodeSets", "elementSets"):
        sets = ra.node_sets if kind == "nodeSets" else ra.element_sets
        compare_sets("%s assembly %s" % (label, kind), sets, asm.get(kind) if asm else None)


def compare_block(where, block, g, field):
    data = g["data"][()]
    data = data.reshape(len(data), -1)
    H.check(where + " position", block.position == attr(g, "position", "").strip())
    H.check(where + " instance", block.instance_name == attr(g, "instance", ""))
    H.check(where + " section point", block.section_point == attr(g, "sectionPoint", 0))
    H.check(where + " precision", block.precision == str(data.dtype), block.precision)
    same(where + " data", block.data, data)
    H.check(where + " data is a read-only view", not block.data.flags.writeable and not block.data.flags.owndata)
    for name, attr_name in (("nodeLabels", "node_labels"), ("elementLabels", "element_labels"),
                            ("integrationPoints", "integration_points")):
        same("%s %s" % (where, name), getattr(block, attr_name), g[name][()] if name in g else None)
    labels = field.component_labels
    stripped = tuple(x[len(field.name):] if len(x) > len(field.name) and x.startswith(field.name) else x
                     for x in labels)
    H.check(where + " component labels", block.component_labels == stripped, str(block.component_labels))
    want = mises_of(data, labels, field.type_code)
    H.check(where + " mises", block.mises.dtype == np.float32 and np.allclose(block.mises, want, rtol=1e-5, atol=1e-5),
            "max difference %g" % np.max(np.abs(block.mises - want)) if len(want) else "")


def compare_steps(label, db, f):
    steps = f.get("steps")
    H.check(label + " steps", list(db.steps.keys()) == names(steps))
    for sname, step in db.steps.items():
        g = steps[sname]
        where = "%s %s" % (label, sname)
        H.check(where + " description", step.description == attr(g, "description", ""))
        mass = attr(g, "mass", -1.0)
        H.check(where + " mass", step.mass == (None if mass == -1.0 else mass) or np.isnan(mass) and np.isnan(step.mass),
                "%r" % step.mass)
        for name, prop in (("massCenter", "mass_center"), ("inertiaAboutCenter", "inertia_about_center"),
                           ("inertiaAboutOrigin", "inertia_about_origin")):
            want = attr(g, name, None)
            got = getattr(step, prop)
            H.check("%s %s" % (where, name), (got is None and (want is None or len(want) == 0))
                    or (want is not None and np.array_equal(got, want)), "%r" % got)
        frames = step.frames
        H.check(where + " frames", len(frames) == len(names(g["frames"])))
        for i, frame in enumerate(frames):
            fg = g["frames"][str(i)]
            fw = "%s frame %d" % (where, i)
            H.check(fw + " attributes", (frame.frame_id, frame.increment_number, frame.description, frame.frame_value)
                    == (i, attr(fg, "incrementNumber", i), attr(fg, "description", ""), attr(fg, "frameValue", 0.0)))
            outputs = fg.get("fieldOutputs")
            fields = frame.field_outputs
            H.check(fw + " field outputs", list(fields.keys()) == names(outputs), str(list(fields.keys())))
            for fname, field in fields.items():
                og = outputs[fname]
                ow = "%s %s" % (fw, fname)
                code = int(attr(og, "type", 2))
                H.check(ow + " type", (field.type, field.type_code) == (TYPES.get(code, "OTHER"), code), field.type)
                H.check(ow + " description", field.description == attr(og, "description", ""))
                H.check(ow + " labels", field.component_labels == tuple(attr(og, "componentLabels", ())))
                H.check(ow + " invariants", field.valid_invariants ==
                        tuple(INVARIANTS[c] for c in attr(og, "validInvariants", [])), str(field.valid_invariants))
                stored = [og["blocks"][str(j)] for j in range(len(og["blocks"]))]
                stored = [b for b in stored if len(b["data"]) > 0]  # empty blocks are left out
                blocks = field.blocks
                H.check(ow + " blocks", len(blocks) == len(stored), "%d, expected %d" % (len(blocks), len(stored)))
                for j, (block, bg) in enumerate(zip(blocks, stored)):
                    compare_block("%s block %d" % (ow, j), block, bg, field)
        regions = g.get("historyRegions")
        H.check(where + " history regions", list(step.history_regions.keys()) == names(regions))
        for rname, region in step.history_regions.items():
            rg = regions[rname]
            rw = "%s %s" % (where, rname)
            p = region.point
            node, element = attr(rg, "node", -1), attr(rg, "element", -1)
            H.check(rw + " point", (p.node, p.element, p.ip_number, p.section_point, p.region, p.instance_name)
                    == (None if node == -1 else node, None if element == -1 else element, attr(rg, "ipNumber", 0),
                        attr(rg, "sectionPoint", 0), attr(rg, "region", ""), attr(rg, "instance", "")))
            H.check(rw + " outputs", list(region.outputs.keys()) == names(rg.get("historyOutputs")))
            for oname, out in region.outputs.items():
                same("%s %s data" % (rw, oname), out.data, rg["historyOutputs"][oname]["data"][()].astype(np.float32))


def compare(label, path):
    with harvestodb.open(path) as db, h5py.File(path, "r") as f:
        H.check(label + " description", db.description == attr(f, "description", ""))
        compare_model(label, db, f)
        compare_steps(label, db, f)
        H.check(label + " open", not db.closed)
    H.check(label + " closed on exit", db.closed)


def check_subsets(path):
    """get_subset on a node set and an element set selects the rows numpy selects."""
    with harvestodb.open(path) as db:
        inst = db.root_assembly.instances["PART-1-1"]
        fields = db.steps["Step-1"].frames[-1].field_outputs
        for fname, sets, attr_name in (("U", inst.node_sets, "node_labels"), ("S", inst.element_sets, "element_labels")):
            for sname, s in sets.items():
                whole = np.concatenate([b.data for b in fields[fname].blocks])
                keys = np.concatenate([getattr(b, attr_name) for b in fields[fname].blocks])
                sub = fields[fname].get_subset(s).blocks
                got = np.concatenate([b.data for b in sub]) if sub else whole[:0]
                same("subset %s on %s" % (fname, sname), got, whole[np.isin(keys, s.labels("PART-1-1"))])


def check_lifetime(path):
    """Arrays outlive the database, the field output and the block they came from; after close()
    arrays taken before stay, everything else fails with the library's message."""
    db = harvestodb.open(path)
    step = db.steps["Step-1"]
    block = step.frames[-1].field_outputs["S"].blocks[0]
    inst = db.root_assembly.instances["PART-1-1"]
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
    u = db.steps["Step-1"].frames[0].field_outputs["U"].blocks[0].data
    db.close()
    for what, get in (("steps", lambda: db.steps), ("field outputs", lambda: frame.field_outputs)):
        try:
            get()
            H.check("closed database: " + what, False, "no error")
        except harvestodb.OdbError as e:
            H.check("closed database: " + what, str(e).endswith(": database is closed"), str(e))
    steps = harvestodb.open(path).steps  # the mapping keeps its database open
    H.check("mapping", ("Step-1" in steps, 1 in steps, steps.get("x", 5), list(steps)[:1], len(steps.items()))
            == (True, False, 5, ["Step-1"], len(steps)) and isinstance(steps, __import__("collections").abc.Mapping))
    for key in ("Step-9", 1):
        try:
            steps[key]
            H.check("mapping KeyError", False, "no error")
        except KeyError as e:
            H.check("mapping KeyError", e.args == (key,), repr(e))
    H.check("closed database keeps arrays", u.shape[1] == 3 and np.isfinite(u).all())


def walk_all(path):
    """Touches everything a database holds, so that a damaged array is met."""
    with harvestodb.open(path) as db:
        for inst in db.root_assembly.instances.values():
            inst.coordinates, inst.connectivity
        for step in db.steps.values():
            for frame in step.frames:
                for field in frame.field_outputs.values():
                    for b in field.blocks:
                        b.data, b.node_labels, b.element_labels, b.integration_points, b.mises
            for region in step.history_regions.values():
                for out in region.outputs.values():
                    out.data


# Damaged files: (name, how h5py damages a copy of the golden field_types database). The module
# must raise OdbError with exactly the message odbinfo --check prints.
DAMAGE = [
    ("missing file", None),
    ("not an HDF5 file", "text"),
    ("wrong format", lambda f: f.attrs.modify("format", "xyz")),
    ("labels count off", lambda f: f["steps/Step-1/frames/0/fieldOutputs/U/blocks/0"].__delitem__("nodeLabels")),
    ("frames not 0..n-1", lambda f: f.move("steps/Step-1/frames/0", "steps/Step-1/frames/7")),
    ("connectivity past the end", lambda f: f["assembly/instances/PART-1-1/elements/offsets"].__setitem__(-1, 99)),
]


def check_errors(good, scratch):
    for name, damage in DAMAGE:
        path = os.path.join(scratch, "damaged.odb")
        if os.path.exists(path):
            os.remove(path)
        if damage == "text":
            H.write(path, "not a database\n")
        elif damage is not None:
            shutil.copy(good, path)
            with h5py.File(path, "r+") as f:
                damage(f)
        ref = H.run([os.path.join(BIN, "odbinfo"), "--check", path], text=True)
        want = ref.err.strip()[len("odbinfo: "):]
        try:
            walk_all(path)
            H.check("damaged: " + name, False, "no error; odbinfo says " + want)
        except harvestodb.OdbError as e:
            H.check("damaged: " + name, ref.status == 1 and str(e) == want, "%r, odbinfo: %r" % (str(e), want))


def write_everything(path, single):
    """A database with every kind of object the writer makes; returns what a reader must find."""
    dt = np.float32 if single else np.float64
    xyz = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]], float)
    with harvestodb.Writer(path, chunked=not single) as w:
        w.set_description("every object")
        w.set_assembly_name("ASM")
        w.add_part("PART-1")
        w.add_part_set("PART-1", "NODE_SET", "PN", [1, 2])
        w.add_part_set("PART-1", "ELEMENT_SET", "PE", np.array([1], np.int32), internal=True)
        w.add_instance("PART-1-1", "PART-1")
        w.set_instance_nodes("PART-1-1", np.arange(1, 9, dtype=np.int32), xyz)
        w.set_instance_elements("PART-1-1", np.array([1, 2], np.int32), np.array([1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8],
                                np.int32), np.array([0, 8, 12], np.int64))
        w.add_instance_set("PART-1-1", "NODE_SET", "TOP", np.array([5, 6, 7, 8], np.int32))
        w.add_instance_set("PART-1-1", "ELEMENT_SET", "E1", np.array([1], np.int32))
        w.add_assembly_set("NODE_SET", "ASM_N", {"PART-1-1": np.array([1, 8], np.int32)})
        props = harvestodb.mass_properties("C3D8", xyz, np.arange(8, dtype=np.int32).reshape(1, 8), density=2.0)
        w.add_step("Step-1", description="load", **props)
        w.add_step("Step 2 (mass unknown)")
        for step in ("Step-1", "Step 2 (mass unknown)"):
            for k in range(2):
                frame = w.add_frame(step, increment_number=k + 1, frame_value=0.5 * (k + 1), description="Inc %d" % k)
                w.add_field_output(step, frame, "S", type="TENSOR_3D_FULL", description="Stress",
                                   component_labels=["S11", "S22", "S33", "S12", "S13", "S23"],
                                   valid_invariants=["MISES", "PRESS"])
                s = np.arange(48, dtype=dt).reshape(8, 6) * (k + 1)
                w.add_block(step, frame, "S", s, position="INTEGRATION_POINT", instance="PART-1-1",
                            element_labels=np.ones(8, np.int32), integration_points=np.arange(1, 9, dtype=np.int32))
                w.add_block(step, frame, "S", s[:2] + 1, position="CENTROID", instance="PART-1-1", section_point=3,
                            element_labels=np.array([1, 2], np.int32))
                w.add_field_output(step, frame, "U", type="VECTOR", component_labels=["U1", "U2", "U3"])
                w.add_block(step, frame, "U", xyz.astype(dt) * k, instance="PART-1-1",
                            node_labels=np.arange(1, 9, dtype=np.int32))
                w.add_field_output(step, frame, "PEEQ", type=2)
                w.add_block(step, frame, "PEEQ", np.linspace(0, 1, 8, dtype=dt), position="INTEGRATION_POINT",
                            instance="PART-1-1", element_labels=np.ones(8, np.int32),
                            integration_points=np.arange(1, 9, dtype=np.int32))
        w.add_history_region("Step-1", "Node PART-1-1.7", description="tip", node=7, instance="PART-1-1")
        w.add_history_output("Step-1", "Node PART-1-1.7", "U3", np.array([[0, 0], [1, -0.5]], dt), type=2)
        w.add_history_region("Step-1", "Assembly ASM", region="ASM_N")
        w.add_history_output("Step-1", "Assembly ASM", "ALLIE", [[0.0, 0.0], [1.0, 3.5]], description="energy")
    return props


def check_writer(scratch):
    """Every writer call reads back through the module and through h5py; mass properties of a unit
    cube hold their closed-form values."""
    for single in (False, True):
        label = "written %s" % ("float32" if single else "float64")
        path = os.path.join(scratch, "written.odb")
        props = write_everything(path, single)
        compare(label, path)
        with harvestodb.open(path, internal_sets=True) as db:
            H.check(label + " internal set", db.parts["PART-1"].element_sets["PE"].is_internal)
            step = db.steps["Step-1"]
            H.check(label + " mass", step.mass == props["mass"] and np.array_equal(step.inertia_about_origin,
                                                                                 props["inertia_about_origin"]))
        with harvestodb.open(path) as db:
            H.check(label + " internal set left out", "PE" not in db.parts["PART-1"].element_sets)
            H.check(label + " no mass", db.steps["Step 2 (mass unknown)"].mass is None)
    want = {"mass": 2.0, "mass_center": [0.5] * 3, "inertia_about_center": [1 / 3.0] * 3 + [0.0] * 3,
            "inertia_about_origin": [4 / 3.0] * 3 + [0.5] * 3}
    H.check("unit cube mass properties", all(np.allclose(props[k], v, atol=1e-12) for k, v in want.items()), str(props))


def check_mass_properties():
    """One unit cube cut five ways: hexahedron, two wedges, six tetrahedra, by labels, with densities."""
    xyz = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]], float)
    tets = [[0, 1, 3, 4], [1, 2, 3, 6], [1, 3, 4, 6], [3, 4, 6, 7], [1, 4, 5, 6]]  # the centre one and 4 corners
    cube = harvestodb.mass_properties("HEX8", xyz, np.arange(8, dtype=np.int32).reshape(1, 8), density=3.0)
    rows = [
        ("two wedges", dict(shapes=["C3D6", "C3D6"], connectivity=np.array([[0, 1, 3, 4, 5, 7], [1, 2, 3, 5, 6, 7]],
                                                                           np.int32))),
        ("five tetrahedra", dict(shapes="C3D4", connectivity=np.array(tets, np.int32))),
        ("labels", dict(shapes=["C3D8R"], connectivity=np.array([[11, 12, 13, 14, 15, 16, 17, 18]], np.int32),
                        node_labels=np.arange(11, 19, dtype=np.int32))),
        ("flat with offsets", dict(shapes=["C3D8"], connectivity=np.arange(8, dtype=np.int32),
                                   offsets=np.array([0, 8], np.int64))),
    ]
    for name, kw in rows:
        got = harvestodb.mass_properties(coordinates=xyz, density=kw.pop("density", 3.0), **kw)
        H.check("mass properties: " + name, got is not None and all(np.allclose(got[k], cube[k], atol=1e-12)
                                                                    for k in cube), str(got))
    H.check("mass properties: unknown type", harvestodb.mass_properties(["S4"], xyz, np.zeros((1, 4), np.int32)) is None)
    for name, kw, message in [
        ("node out of range", dict(connectivity=np.array([[0, 1, 2, 3, 4, 5, 6, 8]], np.int32)),
         "element 0 has node 8, which is not a node"),
        ("too few nodes", dict(connectivity=np.array([[0, 1, 2, 3]], np.int32)), "element 0 (C3D8) has 4 nodes, expected 8"),
        ("int64 connectivity", dict(connectivity=np.zeros((1, 8), np.int64)), "connectivity has dtype int64, expected int32"),
    ]:
        try:
            harvestodb.mass_properties("C3D8", xyz, **kw)
            H.check("mass properties refuse: " + name, False, "no error")
        except ValueError as e:
            H.check("mass properties refuse: " + name, str(e) == "mass_properties: /: " + message, str(e))


# Writer calls refused before anything is written: (name, call on a writer with one instance, a
# step, frame 0 and a field S of 6 components, the ValueError or OdbError message after "w.odb: ").
BLOCK = "/steps/Step-1/frames/0/fieldOutputs/S/blocks/0: "
REFUSED = [
    ("data 1-D", lambda w: w.add_block("Step-1", 0, "S", np.zeros(3)), BLOCK + "data has shape (3,), expected (n, 6)"),
    ("data width", lambda w: w.add_block("Step-1", 0, "S", np.zeros((2, 4), np.float32)),
     BLOCK + "data has shape (2, 4), expected (n, 6)"),
    ("data dtype", lambda w: w.add_block("Step-1", 0, "S", np.zeros((2, 6), np.int64)),
     BLOCK + "data has dtype int64, expected float32 or float64"),
    ("data not contiguous", lambda w: w.add_block("Step-1", 0, "S", np.zeros((6, 2)).T),
     BLOCK + "data is not C-contiguous"),
    ("label dtype", lambda w: w.add_block("Step-1", 0, "S", np.zeros((2, 6)), node_labels=np.array([1, 2])),
     BLOCK + "nodeLabels has dtype int64, expected int32"),
    ("label shape", lambda w: w.add_block("Step-1", 0, "S", np.zeros((2, 6)), element_labels=np.ones((2, 1), np.int32)),
     BLOCK + "elementLabels has shape (2, 1), expected (n,)"),
    ("label count (library)", lambda w: w.add_block("Step-1", 0, "S", np.zeros((2, 6)), node_labels=[1, 2, 3]),
     BLOCK + "nodeLabels has 3 entries, data has 2 rows"),
    ("position", lambda w: w.add_block("Step-1", 0, "S", np.zeros((2, 6)), position="NODES"),
     "/steps/Step-1/frames/0/fieldOutputs/S: position 'NODES' is not a result position"),
    ("no such field (library)", lambda w: w.add_block("Step-1", 0, "T", np.zeros((2, 6))),
     "/steps/Step-1/frames/0/fieldOutputs/T: no such field output"),
    ("coordinates shape", lambda w: w.set_instance_nodes("I", np.array([1, 2], np.int32), np.zeros((2, 2))),
     "/assembly/instances/I/nodes: coordinates has shape (2, 2), expected (2, 3)"),
    ("coordinates dtype", lambda w: w.set_instance_nodes("I", np.array([1], np.int32), np.zeros((1, 3), np.float32)),
     "/assembly/instances/I/nodes: coordinates has dtype float32, expected float64"),
    ("offsets length", lambda w: w.set_instance_elements("I", np.array([1], np.int32), np.arange(4, dtype=np.int32),
                                                         np.array([0, 4, 4], np.int64)),
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
        w.add_field_output("Step-1", 0, "S", type="TENSOR_3D_FULL", component_labels=["S11", "S22", "S33", "S12",
                                                                                          "S13", "S23"])
        w.add_history_region("Step-1", "R")
        try:
            call(w)
            H.check("refused: " + name, False, "no error")
        except (ValueError, harvestodb.OdbError) as e:
            H.check("refused: " + name, str(e) == path + ": " + message, str(e))
        w.close()
    # A with block that raises leaves no file; a closed writer refuses more.
    try:
        with harvestodb.Writer(path) as w:
            w.add_step("Step-1")
            raise KeyError("stop")
    except KeyError:
        pass
    H.check("writer: an exception leaves no file", not os.path.exists(path))
    with harvestodb.Writer(path) as w:
        w.add_step("Step-1")
    try:
        w.add_step("Step-2")
        H.check("writer: closed", False, "no error")
    except harvestodb.OdbError as e:
        H.check("writer: closed", str(e) == path + ": /: the file is closed", str(e))


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
    """The library, python and programs components installed into a prefix: the launchers, the package
    and the library find each other there, and the pure modules import where the compiled one is missing."""
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


def check_examples(scratch):
    """write_db.py writes the documented brick; max_mises.py prints per frame what numpy computes
    from h5py, on it and on a generated database."""
    py = sys.executable
    env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
    db = os.path.join(scratch, "brick.odb")
    r = H.run([py, os.path.join(EXAMPLES, "write_db.py"), db], env=env, text=True)
    H.check("write_db.py", r.status == 0 and r.err == "", r.err)
    gen = os.path.join(scratch, "gen.odb")
    H.run([os.path.join(BIN, "odbgen"), "--size", "2000", "--frames", "3", gen])
    for path in (db, gen):
        r = H.run([py, os.path.join(EXAMPLES, "max_mises.py"), path], env=env, text=True)
        want = []
        with h5py.File(path, "r") as f:
            for sname in names(f["steps"]):
                frames = f["steps"][sname]["frames"]
                for i in range(len(frames)):
                    fg = frames[str(i)]
                    for fname in names(fg.get("fieldOutputs")):
                        og = fg["fieldOutputs"][fname]
                        code = int(og.attrs["type"])
                        if code not in TENSOR_ORDER:
                            continue
                        labels = tuple(attr(og, "componentLabels", ()))
                        m = max(mises_of(b["data"][()].reshape(len(b["data"]), -1), labels, code).astype(np.float32).max()
                                for b in og["blocks"].values() if len(b["data"]))
                        want.append("%s %d %s %g" % (sname, attr(fg, "incrementNumber", i), fname, m))
        H.check("max_mises.py " + os.path.basename(path), r.status == 0 and r.out.splitlines() == want,
                "got %r, expected %r (%s)" % (r.out.splitlines()[:3], want[:3], r.err))
    expected = os.path.join(EXAMPLES, "..", "cpp", "max_mises.expected")  # the C++ pair prints the same
    if os.path.isfile(expected):
        r = H.run([py, os.path.join(EXAMPLES, "max_mises.py"), db], env=env, text=True)
        H.check("max_mises.py as the C++ example", r.out == H.read(expected, "r"), r.out)
    with harvestodb.open(db) as brick:
        inst = brick.root_assembly.instances["PART-1-1"]
        fields = brick.steps["Step-1"].frames[0].field_outputs
        H.check("brick model", list(inst.node_labels) == list(range(1, 9)) and list(inst.offsets) == [0, 8]
                and inst.coordinates.max() == 1.0 and list(fields.keys()) == ["S", "U"]
                and fields["S"].blocks[0].position == "INTEGRATION_POINT" and len(fields["S"].blocks[0].data) == 8
                and fields["U"].blocks[0].position == "NODAL")
    r = H.run([py, os.path.join(EXAMPLES, "max_mises.py"), os.path.join(scratch, "none.odb")], env=env, text=True)
    H.check("max_mises.py missing file", r.status == 1 and r.err.startswith("max_mises.py: ") and
            r.err.endswith(": /: file does not exist\n"), r.err)


def main():
    with H.scratch("harvest-py-") as scratch:
        if "--examples" in sys.argv:
            check_examples(scratch)
            check_docs()
            check_install(scratch, *sys.argv[sys.argv.index("--examples") + 1:][:2])
            return H.finish("python examples")
        for i, (label, argv) in enumerate(DATABASES):
            path = os.path.join(scratch, "db%d.odb" % i)
            r = H.run([os.path.join(BIN, argv[0])] + argv[1:] + [path], text=True)
            if not H.check(label + " generated", r.status == 0, r.err):
                continue
            compare(label, path)
            if argv[0] == "odbgen" and i == 0:
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
