"""xdmf: a result database as an XDMF time series, for ParaView and meshio.

export(db_path, out_path) writes out_path (.xdmf), the XML index, and beside it the .h5 file
that holds every array: one grid per frame, steps one after another, the mesh of every
instance. The command odb2xdmf (harvestodb.odb2xdmf) runs it; its --help and docs/view.md say
which arrays an export holds and what they mean.
"""

import errno
import os
import stat

import numpy as np

from . import readahead


class Failure(Exception):
    """A failure of the export: printed as 'odb2xdmf: FILE: message', status 1. path is None when
    message is the library's own, which names the file and the object itself."""

    def __init__(self, path, message):
        super().__init__(message if path is None else f"{path}: {message}")
        self.path, self.message = path, message


# ---- reading the database ------------------------------------------------------------------------
#
# The database is read with the library's Python module (harvestodb.open); the export sees it
# through open_database() only: steps, frames, field outputs and blocks as the module hands them
# out, instances with their sets' labels, and the assembly's sets per instance.

def library_errors():
    """The exception class of a library failure, or a class nothing raises without the module."""
    try:
        from . import _odb
        return _odb.OdbError
    except ImportError:
        return Failure


class _Instance:
    def __init__(self, inst):
        self.name = inst.name
        self.node_labels, self.coordinates = inst.node_labels, inst.coordinates
        self.element_labels, self.connectivity, self.offsets = inst.element_labels, inst.connectivity, inst.offsets
        self.node_sets = {n: s.labels(inst.name) for n, s in inst.node_sets.items()}
        self.element_sets = {n: s.labels(inst.name) for n, s in inst.element_sets.items()}

    def take_elements(self):
        """(offsets, connectivity), which the instance forgets: a mesh turns them into rows of
        its own, and the library's labels need not stay beside them."""
        taken, self.offsets, self.connectivity = (self.offsets, self.connectivity), None, None
        return taken


class _Database:
    def __init__(self, db):
        self._db = db
        asm = db.root_assembly
        self.instances = {n: _Instance(i) for n, i in asm.instances.items()}
        self.node_sets = {n: {i: s.labels(i) for i in s.instance_names} for n, s in asm.node_sets.items()}
        self.element_sets = {n: {i: s.labels(i) for i in s.instance_names} for n, s in asm.element_sets.items()}
        self.steps = db.steps

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self._db.close()


def open_database(path):
    """The database at path as a context manager: steps as the module has them, instances and the
    assembly's sets (internal ones left out, as the program does) with their labels."""
    try:
        from . import _odb
    except ImportError:
        raise Failure(path, "cannot read it: the module harvestodb._odb is not built "
                            "(Debian packages pybind11-dev and python3-pybind11)") from None
    try:
        db = _odb.open(os.fspath(path), False)
    except _odb.OdbError as e:
        raise Failure(None, str(e)) from None
    try:
        return _Database(db)
    except _odb.OdbError as e:
        db.close()
        raise Failure(None, str(e)) from None


# ---- the mesh ------------------------------------------------------------------------------------

# XDMF topology: name, code in a Mixed topology, node count. Connectivity is stored in the
# project's (solver's) node order, which for most types here is XDMF's own; NODE_ORDER turns
# a wedge's base triangle around (XDMF wants it facing away from the top) and puts a 3-node
# beam's middle node last.
CELL = {"line": ("Polyline", 2, 2), "line3": ("Edge_3", 34, 3), "tri": ("Triangle", 4, 3), "quad": ("Quadrilateral", 5, 4),
        "tet": ("Tetrahedron", 6, 4), "wedge": ("Wedge", 8, 6), "hex": ("Hexahedron", 9, 8),
        "tri6": ("Triangle_6", 36, 6), "quad8": ("Quadrilateral_8", 37, 8), "tet10": ("Tetrahedron_10", 38, 10),
        "wedge15": ("Wedge_15", 40, 15), "hex20": ("Hexahedron_20", 48, 20)}
KINDS = list(CELL)
NODE_ORDER = {"line3": [0, 2, 1], "wedge": [0, 2, 1, 3, 5, 4], "wedge15": [0, 2, 1, 3, 5, 4, 8, 7, 6, 11, 10, 9, 12, 14, 13]}
BY_COUNT = {2: "line", 10: "tet10", 15: "wedge15", 20: "hex20"}
# node counts shared by a solid and a flat element: the solid's corner nodes that span a volume
SOLID_OR_FLAT = {4: ("tet", "quad", (1, 2, 3)), 6: ("wedge", "tri6", (1, 2, 3)), 8: ("hex", "quad8", (1, 3, 4))}
# and a 3-node element is a triangle unless its nodes lie on a line (a quadratic beam)


def cell_kinds(counts, conn_idx, offsets, xyz):
    """The cell kind of each element from its node count; a 4-, 6- or 8-node element whose nodes
    span no volume is the flat one (quad, 6-node triangle, 8-node quad)."""
    kinds = np.full(len(counts), -1, np.int8)   # an index into KINDS; -1: no cell type of that size
    for n, kind in BY_COUNT.items():
        kinds[counts == n] = KINDS.index(kind)
    for n, (solid, flat, corners) in SOLID_OR_FLAT.items():
        of_n = counts == n
        if of_n.all():   # the usual model of one element type: no index arrays
            sel, start = slice(None), offsets
        else:
            sel = np.nonzero(of_n)[0]
            if not len(sel):
                continue
            start = offsets[sel]
        volume, size = solid_measures(xyz, conn_idx, start, corners)
        size **= 3
        size *= 1e-9
        kinds[sel] = np.where(volume > size, np.int8(KINDS.index(solid)), np.int8(KINDS.index(flat)))
    sel = np.nonzero(counts == 3)[0]
    if len(sel):
        start = offsets[sel]
        a, b = (xyz[conn_idx[start + c]] - xyz[conn_idx[start]] for c in (1, 2))
        area = np.sqrt((np.cross(a, b) ** 2).sum(axis=1))
        size = np.maximum(np.abs(a).max(axis=1), np.abs(b).max(axis=1))
        kinds[sel] = np.where(area > 1e-9 * size ** 2, KINDS.index("tri"), KINDS.index("line3"))
    return kinds


def solid_measures(xyz, conn_idx, start, corners):
    """(volume, size) of the elements starting at start: the absolute triple product of the edges
    from the first node to the corners, and the largest absolute coordinate difference along them.
    The module computes both (as the numpy below does, in its order) without the gathers' arrays."""
    try:
        from . import _odb
        return _odb._solid_measures(np.ascontiguousarray(xyz, np.float64), np.ascontiguousarray(conn_idx),
                                    np.ascontiguousarray(start, np.int64), corners)
    except (ImportError, AttributeError):
        pass
    p0 = conn_idx[start]
    (ax, ay, az), (bx, by, bz), (cx, cy, cz) = ([xyz[conn_idx[start + k], d] - xyz[p0, d] for d in range(3)]
                                                for k in corners)
    volume = np.abs(ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx))
    size = np.abs(ax)
    for v in (ay, az, bx, by, bz, cx, cy, cz):
        np.maximum(size, np.abs(v), out=size)
    return volume, size


def label_index(labels, base, dtype):
    """What Mesh.lookup finds labels with: a table over the label range when the labels fill at
    least a quarter of it (the usual 1..n), else the sorted labels. Indices are of dtype."""
    if not len(labels):
        return None
    low, high = int(labels.min()), int(labels.max())
    if high - low < 4 * len(labels) + 1024:
        if labels.dtype == np.int32:   # the module's one pass, without numpy's temporaries
            from . import _odb
            return ("dense", low, _odb._label_table(labels, low, high - low + 1, base, dtype == np.int64))
        index = np.full(high - low + 1, -1, dtype)
        index[labels[::-1] - low] = np.arange(len(labels) - 1, -1, -1, dtype=dtype) + base   # the first of repeats
        return ("dense", low, index)
    order = np.argsort(labels, kind="stable")
    return ("sorted", labels[order], (order + base).astype(dtype))


def concatenated(parts, dtype):
    """The parts one after another, as dtype; a single part of that dtype as it is."""
    if len(parts) == 1:
        return np.asarray(parts[0]).astype(dtype, copy=False)
    return np.concatenate(parts).astype(dtype, copy=False) if parts else np.zeros(0, dtype)


class Mesh:
    """Every instance's nodes and elements, numbered from 0 in instance order. Indices (the
    topology, lookups) are int32 unless the model has 2**31 nodes or elements. Made in two parts:
    the labels, their tables and the coordinates at once, which is all that placing a field's
    values needs; the topology (connectivity labels to rows, cell kinds) by build(), which reads
    no database, only the arrays taken here, so an export runs it on a thread of its own while it
    reads the first frame's fields."""

    def __init__(self, db, path, build=True):
        xyz, node_labels, node_inst, elem_labels, elem_inst = [], [], [], [], []
        self.instances = list(db.instances)
        self.node_index, self.elem_index = {}, {}   # instance -> label_index()
        sizes = [(len(i.node_labels), len(i.element_labels)) for i in db.instances.values()]
        big = max(sum(n for n, _ in sizes), sum(e for _, e in sizes)) >= 2 ** 31 - 1
        self.index_type = np.int64 if big else np.int32
        self._path, self._elements, self._thread, self._failure = path, [], None, None
        base = 0
        for k, (name, inst) in enumerate(db.instances.items()):
            labels = np.asarray(inst.node_labels)
            self.node_index[name] = label_index(labels, base, self.index_type)
            xyz.append(np.asarray(inst.coordinates, np.float64).reshape(-1, 3))
            node_labels.append(labels)
            node_inst.append(np.full(len(labels), k, np.int32))
            el = np.asarray(inst.element_labels)
            self._elements.append((name, el, *inst.take_elements()))
            elem_labels.append(el)
            elem_inst.append(np.full(len(el), k, np.int32))
            base += len(labels)
        base = 0
        for name, el in zip(self.instances, elem_labels):
            self.elem_index[name] = label_index(el, base, self.index_type)
            base += len(el)
        cat = concatenated
        self.xyz = cat(xyz, np.float64).reshape(-1, 3)
        self.node_labels, self.node_instance = cat(node_labels, np.int32), cat(node_inst, np.int32)
        self.elem_labels, self.elem_instance = cat(elem_labels, np.int32), cat(elem_inst, np.int32)
        if build:
            self.build()

    def build(self):
        """The topology: conn (rows of nodes), offsets, kinds and the XDMF topology."""
        conn, counts, offs = [], [], []
        for name, el, off, c in self._elements:
            off, c = np.asarray(off, np.int64), np.asarray(c)
            local = self.lookup(name, c, "node")
            if local.min(initial=0) < 0:
                e = el[np.searchsorted(off, np.nonzero(local < 0)[0][0], side="right") - 1]
                raise Failure(self._path, f"/assembly/instances/{name}: element {e} refers to node "
                                          f"{c[local < 0][0]}, which the instance does not have")
            conn.append(local)
            counts.append(np.diff(off))
            offs.append(off)
        self._elements = None   # the library's connectivity: the rows above replace it
        counts = concatenated(counts, np.int64)
        self.conn = concatenated(conn, self.index_type)
        if len(offs) == 1 and len(offs[0]) and offs[0][0] == 0:   # one instance: its offsets as they are
            self.offsets = offs[0]
        else:
            self.offsets = np.concatenate([[0], np.cumsum(counts)]).astype(np.int64)
        self.kinds = cell_kinds(counts, self.conn, self.offsets[:-1], self.xyz)
        unknown = np.nonzero(self.kinds < 0)[0]
        if len(unknown):
            i = unknown[0]
            raise Failure(self._path, f"/assembly/instances/{self.instances[self.elem_instance[i]]}: element "
                                      f"{self.elem_labels[i]} has {counts[i]} nodes, which no cell type here has")
        self.topology = self._topology()

    def start(self):
        """Runs build() on a thread of its own; finish() waits for it."""
        import threading

        def run():
            try:
                self.build()
            except BaseException as e:   # raised again by finish()
                self._failure = e
        self._thread = threading.Thread(target=run, daemon=True)
        self._thread.start()

    def finish(self):
        """Waits for build() started by start() and raises its failure."""
        if self._thread is not None:
            self._thread.join()
            self._thread = None
        if self._failure is not None:
            raise self._failure

    def lookup(self, instance, labels, what):
        """Global indices of labels of an instance's nodes or elements ('node'/'element'); -1 if absent."""
        table = (self.node_index if what == "node" else self.elem_index).get(instance)
        labels = np.asarray(labels)
        if table is None or not len(labels):
            return np.full(len(labels), -1, self.index_type)
        if table[0] == "dense":
            _, low, index = table
            if labels.dtype == np.int32:   # the module's one pass, without numpy's temporaries
                from . import _odb
                return _odb._lookup(index, low, labels)
            if labels.min() >= low and labels.max() < low + len(index):   # the usual case: one gather
                return index[labels - low]
            at = labels.astype(np.int64) - low
            inside = (at >= 0) & (at < len(index))
            return np.where(inside, index[np.where(inside, at, 0)], -1)
        _, sorted_labels, index = table
        at = np.minimum(np.searchsorted(sorted_labels, labels), len(sorted_labels) - 1)
        return np.where(sorted_labels[at] == labels, index[at], -1)

    def _topology(self):
        """(XDMF topology type, array, number of cells): one type as [cells, nodes], several as Mixed."""
        kinds = [KINDS[k] for k in np.unique(self.kinds)]
        ncell = len(self.kinds)
        conn = self.conn
        for kind, order in NODE_ORDER.items():
            sel = np.nonzero(self.kinds == KINDS.index(kind))[0]
            if len(sel):
                conn = conn.copy() if conn is self.conn else conn
                rows = self.offsets[sel][:, None] + np.arange(len(order))
                conn[rows] = self.conn[rows[:, order]]
        if len(kinds) == 1:
            name, _, n = CELL[kinds[0]]
            return name, conn.reshape(ncell, n), ncell
        if not ncell:
            return "Mixed", np.zeros(0, self.index_type), 0
        # Mixed: per cell its type code, for a polyline also its node count, then its nodes
        head = np.array([CELL[k][1] for k in KINDS], np.int64)[self.kinds]
        counts = np.diff(self.offsets)
        lines = head == 2
        width = 1 + lines + counts
        out = np.empty(int(width.sum()), self.index_type)
        start = np.concatenate([[0], np.cumsum(width)[:-1]])
        out[start] = head
        out[start[lines] + 1] = 2
        first = start + 1 + lines
        pos = np.repeat(first - self.offsets[:-1], counts) + np.arange(len(self.conn))
        out[pos] = conn
        return "Mixed", out, ncell

    def centroids(self):
        sums = np.add.reduceat(self.xyz[self.conn], self.offsets[:-1], axis=0) if len(self.conn) else \
            np.zeros((0, 3))
        return sums / np.maximum(np.diff(self.offsets), 1)[:, None]


# ---- derived quantities --------------------------------------------------------------------------

CANONICAL = {"TENSOR_3D_FULL": ["11", "22", "33", "12", "13", "23"], "TENSOR_3D_PLANAR": ["11", "22", "33", "12"],
             "TENSOR_2D_PLANAR": ["11", "22", "33", "12"], "TENSOR_3D_SURFACE": ["11", "22", "12"],
             "TENSOR_2D_SURFACE": ["11", "22", "12"]}


def kind_of(field_type):
    if field_type == "SCALAR":
        return "scalar"
    if field_type == "VECTOR":
        return "vector"
    return "tensor" if field_type in CANONICAL else "other"


def tensor_columns(field, width):
    """{component: column}: named by a label's last two characters, else the type's order."""
    names = ("11", "22", "33", "12", "13", "23")
    cols = {}
    for i, label in enumerate(field.component_labels[:width]):
        if label[-2:] in names and label[-2:] not in cols:
            cols[label[-2:]] = i
    if not cols:
        cols = {c: i for i, c in enumerate(CANONICAL[field.type][:width])}
    return cols


def mises(field, data):
    cols = tensor_columns(field, data.shape[1])
    zero = np.zeros(len(data))
    s = {c: data[:, cols[c]].astype(np.float64, copy=False) if c in cols else zero for c in ("11", "22", "33", "12", "13", "23")}
    return np.sqrt(((s["11"] - s["22"]) ** 2 + (s["22"] - s["33"]) ** 2 + (s["33"] - s["11"]) ** 2) / 2
                   + 3 * (s["12"] ** 2 + s["13"] ** 2 + s["23"] ** 2))


def measure(field, data):
    """(suffix, per-row quantity) the report ranks a field's values by: von Mises (single precision,
    as the library hands it out), magnitude (in the data's precision, as the program sums it), value."""
    kind = kind_of(field.type)
    if kind == "tensor":
        return "_mises", mises(field, data).astype(np.float32)
    if kind == "vector":
        total = np.zeros(len(data), data.dtype)
        for c in range(data.shape[1]):
            total += data[:, c] * data[:, c]
        return "_mag", np.sqrt(total)
    return "", data[:, 0]


def shaped(field, data):
    """The values as stored, vectors padded to three components (missing ones are 0)."""
    if kind_of(field.type) == "vector" and data.shape[1] < 3:
        return np.hstack([data, np.zeros((len(data), 3 - data.shape[1]), data.dtype)])
    return data


# ---- the arrays of one frame ---------------------------------------------------------------------

def block_measure(field, block, data):
    """measure() of a block's rows; a tensor's von Mises as the library computed it for the program."""
    if kind_of(field.type) == "tensor" and kind_of(block.type) == "tensor":
        return "_mises", np.asarray(block.mises)
    return measure(field, data)


def per_element(q, data, k):
    """(rows, {tail: values}) of elements of k values each: the row of the largest quantity q
    (the first of equal ones), the largest, the smallest and the mean q; NaN is passed over."""
    q3 = q.reshape(-1, k)
    at = np.arange(0, len(q), k)
    row = at + q3.argmax(axis=1)   # argmax() finds the first NaN of an element that has one
    high = q[row]
    if np.isnan(high).any():
        row = at + np.where(np.isnan(q3), -np.inf, q3).argmax(axis=1)
        high = q[row]
        with np.errstate(all="ignore"):
            low = np.nanmin(np.where(np.isnan(q3).all(axis=1)[:, None], 0, q3), axis=1)
            mean = np.nanmean(q3, axis=1)
    else:
        low = q3[:, 0].copy()
        for j in range(1, k):   # column by column: quicker than min(axis=1) over a short axis
            np.minimum(low, q3[:, j], out=low)
        mean = (q3.sum(axis=1).astype(np.float64) / k).astype(q3.dtype)   # rounded as nanmean rounds it
    return np.take(data, row, axis=0), {"": high, "_min": low, "_mean": mean}


class Scratch:
    """What the fields of an export share: the module's reading buffers (pieces), and the arrays
    of frames already written (spare), which later frames fill anew: memory the export has
    touched already is cheaper to fill than fresh pages (see docs/view.md)."""

    def __init__(self):
        from . import _odb
        self.pieces = _odb._PieceBuffers()
        self.spare = []   # the writer's thread appends, target() takes

    def full(self, shape, dtype):
        """An array of shape and dtype filled with NaN, a spare one when there is one."""
        for i, a in enumerate(self.spare):
            if a.shape == shape and a.dtype == dtype:
                a = self.spare.pop(i)
                a.fill(np.nan)
                return a
        return np.full(shape, np.nan, dtype)


def target(out, key, shape, dtype, scratch=None):
    """The array of key in out, made (NaN) of shape or widened to float64 for float64 values."""
    a = out.get(key)
    if a is None:
        dtype = np.float32 if dtype == np.float32 else np.float64
        a = out[key] = scratch.full(shape, np.dtype(dtype)) if scratch else np.full(shape, np.nan, dtype)
    elif dtype == np.float64 and a.dtype == np.float32:
        a = out[key] = a.astype(np.float64)
    return a


def named_tails(field, suffix, nodal):
    """(name, tail) of the arrays a block fills besides the field's own: the measure of each point
    or element, and the smallest and mean of an element's."""
    tails = ("",) if nodal else ("", "_min", "_mean")
    return [(field.name + suffix + tail, tail) if suffix or tail else (None, tail) for tail in tails]


def place_block(field, block, mesh, suffix, out, scratch):
    """Places a block with the module's reader, which reads it in pieces into buffers it reuses
    (no array of the whole block) and measures and reduces it as numpy_block() does. Returns the
    values per element (0 for nodes), or None where numpy_block() takes the block: labels found
    through the sorted table, a tensor field's block that is no tensor, an element with a NaN."""
    kind = kind_of(field.type)
    if kind == "tensor" and kind_of(block.type) != "tensor":
        return None
    how = {"tensor": "mises", "vector": "magnitude"}.get(kind, "value")
    nodal = block.position == "NODAL"
    table = (mesh.node_index if nodal else mesh.elem_index).get(block.instance_name)
    if table is not None and table[0] != "dense":
        return None
    low, index = (table[1], table[2]) if table is not None else (0, np.zeros(0, mesh.index_type))
    dtype = np.float64 if block.precision == "float64" else np.float32
    width = max(block.width, 3) if kind == "vector" else block.width
    centre, size = ("Node", len(mesh.xyz)) if nodal else ("Cell", len(mesh.elem_labels))
    rows = target(out, (centre, field.name), (size, width), dtype, scratch)
    if rows.shape[1:] != (width,):
        return None
    measured = {tail: target(out, (centre, name), (size,), np.float32 if how == "mises" else dtype, scratch)
                for name, tail in named_tails(field, suffix, nodal) if name is not None}
    from . import _odb
    k = _odb._place_block(block, how, low, index, rows, measured.get(""), measured.get("_min"), measured.get("_mean"),
                          scratch and scratch.pieces)
    return None if k < 0 else k


def numpy_block(field, block, mesh, suffix, out, scratch):
    """Places a block read whole, with numpy; returns the values per element (0 for nodes)."""
    data = shaped(field, np.asarray(block.data))
    _, q = block_measure(field, block, data)
    if block.position == "NODAL":
        where = mesh.lookup(block.instance_name, block.node_labels, "node")
        centre, size, k = "Node", len(mesh.xyz), 0
        rows, values = data, {"": q}
    else:
        labels = np.asarray(block.element_labels)
        k = len(labels) // max(block.number_of_elements, 1)   # the library checked: k values each, together
        where = mesh.lookup(block.instance_name, labels[::k], "element")
        centre, size = "Cell", len(mesh.elem_labels)
        if k > 1:
            rows, values = per_element(q, data, k)
        else:
            rows, values = data, {"": q, "_min": q, "_mean": q}
    named = {field.name: rows}
    for name, tail in named_tails(field, suffix, centre == "Node"):
        if name is not None:
            named[name] = values[tail]
    keep = None if where.min(initial=0) >= 0 else where >= 0   # labels the mesh does not have are left out
    for name, v in named.items():
        a = target(out, (centre, name), (size,) + v.shape[1:], v.dtype, scratch)
        if keep is None:
            a[where] = v
        else:
            a[where[keep]] = v[keep]
    return k


def field_arrays(field, mesh, scratch=None):
    """{(centre, name): array} of one field output in one frame; centre is 'Node' or 'Cell'.
    scratch (a Scratch) is what the fields of an export share."""
    out = {}
    suffix, _ = measure(field, np.zeros((0, 6)))
    multi = False
    for block in field.blocks:
        if not block.length:
            continue
        k = place_block(field, block, mesh, suffix, out, scratch)
        if k is None:
            k = numpy_block(field, block, mesh, suffix, out, scratch)
        multi = multi or k > 1
    if not multi:   # one value per element everywhere: no min and mean arrays
        for tail in ("_min", "_mean"):
            out.pop(("Cell", field.name + suffix + tail), None)
    return out


def set_arrays(db, mesh):
    out = {}
    for name, inst in db.instances.items():
        for centre, what, sets in (("Node", "node", inst.node_sets), ("Cell", "element", inst.element_sets)):
            for set_name, labels in sets.items():
                out[(centre, f"{'nset' if what == 'node' else 'elset'}_{name}.{set_name}")] = (what, {name: labels})
    for centre, what, sets in (("Node", "node", db.node_sets), ("Cell", "element", db.element_sets)):
        for set_name, per_instance in sets.items():
            out[(centre, f"{'nset' if what == 'node' else 'elset'}_{set_name}")] = (what, per_instance)
    arrays = {}
    for key, (what, per_instance) in out.items():
        flags = np.zeros(len(mesh.xyz) if what == "node" else len(mesh.elem_labels), np.uint8)
        for inst, labels in per_instance.items():
            idx = mesh.lookup(inst, labels, what)
            flags[idx[idx >= 0]] = 1
        arrays[key] = flags
    return arrays


def frame_times(steps):
    """Total times of the frames, steps one after another: a step starts where the last one ended
    (its largest frame value). When these do not rise strictly (frequencies, several frames at
    the same time, a step that starts again at 0) the frames are numbered 0, 1, 2, ... instead."""
    times, start = [], 0.0
    for step in steps.values():
        values = [f.frame_value for f in step.frames]
        times += [start + v for v in values]
        start += max(values, default=0.0)
    rising = all(b > a for a, b in zip(times, times[1:]))
    return times if rising else [float(i) for i in range(len(times))], rising


# ---- writing -------------------------------------------------------------------------------------

def data_item(h5name, path, array):
    dt = array.dtype
    kind = {"f": "Float", "i": "Int", "u": "UInt"}[dt.kind]
    dims = " ".join(str(d) for d in array.shape)
    return (f'<DataItem DataType="{kind}" Precision="{dt.itemsize}" Dimensions="{dims}" Format="HDF">'
            f"{h5name}:{path}</DataItem>")


def attribute(name, centre, h5name, path, array):
    if array.ndim == 1 or array.shape[1] == 1:
        kind = "Scalar"
    elif array.shape[1] == 3:
        kind = "Vector"
    else:
        kind = "Matrix"
    return (f'<Attribute Name="{xml_escape(name)}" AttributeType="{kind}" Center="{centre}">'
            + data_item(h5name, path, array) + "</Attribute>")


def xml_escape(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;"))


def h5_name(name):
    return name.replace("/", "%2F").replace(":", "%3A") if name not in (".", "") else repr(name)


class Export:
    """What an export wrote: output paths, the mesh, the frames (step name, frame, total time)."""


DIRECT_PAGE = 4096             # O_DIRECT's alignment of file offsets, sizes and memory
DIRECT_BUFFER = 4 << 20        # bytes a write past the page cache takes


def release_cache(path):
    """Drops the page cache of the export that this one replaces (the file on disk stays as it
    is until the new one takes its name), so that the new file is written into the pages just
    freed: on a virtual machine, pages the system has not used for a while can cost several
    times as much to write into. Pages not yet on disk stay (the kernel starts writing them)."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except OSError:
        return
    try:
        if stat.S_ISREG(os.fstat(fd).st_mode):
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    except (OSError, AttributeError):   # no fadvise here: the cache stays
        pass
    finally:
        os.close(fd)


def export(db_path, out_path, fields=None, frames=None, ahead=None):
    """Writes out_path (.xdmf) and its .h5 from the database; fields limits the field outputs,
    frames ((step, increment) pairs) the frames. ahead: a read-ahead of the database started
    already (readahead.start(), which odb2xdmf calls before it imports numpy); without one the
    export starts its own when it exports the whole database. Either is stopped on return.
    Raises Failure; leaves nothing behind then."""
    if ahead is None and fields is None and frames is None:   # the whole file is wanted: read it from the start
        ahead = readahead.start(db_path)
    base = os.path.splitext(out_path)[0]
    h5_path = base + ".h5"
    h5_base = os.path.basename(h5_path)
    try:
        with open_database(db_path) as db:
            try:
                return write_export(db, db_path, out_path, h5_path, h5_base, fields, frames)
            except library_errors() as e:
                raise Failure(None, str(e)) from None
    finally:
        if ahead is not None:
            ahead.stop()


def write_export(db, db_path, out_path, h5_path, h5_base, fields, frames):
    """export()'s work on the open database: the mesh's topology is built on a thread of its own
    while the first frame's fields are read; a failure of the mesh is the one reported."""
    mesh = Mesh(db, db_path, build=False)
    mesh.start()
    try:
        return write_files(db, mesh, db_path, out_path, h5_path, h5_base, fields, frames)
    except BaseException:
        mesh.finish()
        raise


def write_files(db, mesh, db_path, out_path, h5_path, h5_base, fields, frames):
    """write_export()'s work once the mesh's tables are there."""
    present = {n for step in db.steps.values() for f in step.frames for n in f.field_outputs}
    if fields is not None:
        missing = [n for n in fields if n not in present]
        if missing:
            raise Failure(db_path, f"no field output {missing[0]} in any frame"
                          + (f" (fields: {', '.join(sorted(present)[:8])})" if present else " (it has none)"))
    times, rising = frame_times(db.steps)
    chosen = []
    i = 0
    for step_name, step in db.steps.items():
        for frame in step.frames:
            if frames is None or (step_name, frame.increment_number) in frames:
                chosen.append((step_name, frame, times[i]))
            i += 1
    if frames is not None and not chosen:
        raise Failure(db_path, "no such frame: " + ", ".join(f"{s}:{n}" for s, n in frames))
    out_dir = os.path.dirname(os.path.abspath(out_path))
    tmp_h5 = os.path.join(out_dir, f".{os.path.basename(h5_path)}.{os.getpid()}.tmp")
    tmp_xml = os.path.join(out_dir, f".{os.path.basename(out_path)}.{os.getpid()}.tmp")
    release_cache(h5_path)
    try:
        grids = write_heavy(db, mesh, chosen, fields, tmp_h5, h5_base)
        with open(tmp_xml, "w") as x:
            x.write('<?xml version="1.0"?>\n<Xdmf Version="3.0">\n<Domain>\n')
            x.write('<Grid Name="frames" GridType="Collection" CollectionType="Temporal">\n')
            for g in grids:
                x.write(g)
            x.write("</Grid>\n</Domain>\n</Xdmf>\n")
        os.replace(tmp_h5, h5_path)
        os.replace(tmp_xml, out_path)
    except OSError as e:
        for p in (tmp_h5, tmp_xml):
            if os.path.exists(p):
                os.unlink(p)
        named = {tmp_h5: h5_path, tmp_xml: out_path}.get(e.filename, e.filename or out_path)   # not the names in passing
        raise Failure(named, e.strerror or str(e)) from None
    except BaseException:
        for p in (tmp_h5, tmp_xml):
            if os.path.exists(p):
                os.unlink(p)
        raise
    result = Export()
    result.xdmf, result.h5, result.mesh, result.frames, result.rising = out_path, h5_path, mesh, chosen, rising
    return result


class ArrayWriter:
    """Writes the export's arrays beside the computing: each dataset is made at once by the
    module (_odb._H5Out: HDF5 itself, without h5py and its start-up), its space allocated and
    never filled, and a thread of its own writes the array's bytes to the dataset's place in the
    file (os.pwrite releases the GIL), while the caller reads and reduces the next field. The
    file holds what HDF5's own writes would put there; close() waits for the writes, closes the
    file and raises the first failure.

    An array's whole pages go past the page cache (O_DIRECT, through a page-aligned buffer):
    copying the export into the cache's new pages took a quarter of an export's CPU time, and
    the pages sit in memory until the disk has them anyway. The pages at an array's ends, which
    it may share with HDF5's own writes, go through the cache, as the whole array does where the
    file system refuses O_DIRECT; the thread starts their way to the disk (sync_file_range): the
    file system would do it all at once when the export takes the name of the one it replaces
    (ext4 flushes a file renamed over another), with the caller waiting."""

    def __init__(self, path):
        import queue
        import threading
        from . import _odb
        self._path = path
        self._fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
        try:
            self._h = _odb._H5Out(path)
        except RuntimeError as e:
            os.close(self._fd)
            raise OSError(errno.EIO, str(e), path) from None
        self._todo, self._failure = queue.Queue(), None
        self._write_out = _odb._start_writeback
        self._direct = self._buffer = None
        try:
            import mmap
            self._buffer = memoryview(mmap.mmap(-1, DIRECT_BUFFER))
            self._direct = os.open(path, os.O_WRONLY | os.O_DIRECT)
        except (OSError, AttributeError, ValueError):   # no O_DIRECT here (tmpfs): through the page cache
            pass
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def put(self, path, array, spare=None):
        """Writes array to a new dataset at path; spare: a list the array joins once written."""
        array = np.ascontiguousarray(array)
        try:
            at = self._h.dataset(path, array.shape, array.dtype.str[1:])
        except RuntimeError as e:
            raise OSError(errno.EIO, str(e), self._path) from None
        if array.nbytes:
            self._todo.put((at, array, spare))
        if self._failure is not None:   # a write failed: stop here
            self.close()

    def _run(self):
        while (item := self._todo.get()) is not None:
            if self._failure is not None:
                continue
            at, array, spare = item
            data = memoryview(array).cast("B")
            head = min(len(data), -at % DIRECT_PAGE)
            body = head + (len(data) - head) // DIRECT_PAGE * DIRECT_PAGE
            try:
                self._write(data[:head], at)
                self._write_direct(data[head:body], at + head)
                self._write(data[body:], at + body)
            except OSError as e:
                self._failure = OSError(e.errno, e.strerror, self._path)
                continue
            self._write_out(self._fd, at, len(data))
            if spare is not None:
                spare.append(array)

    def _write(self, data, at):
        while data:
            n = os.pwrite(self._fd, data[:1 << 30], at)
            data, at = data[n:], at + n

    def _write_direct(self, data, at):
        """Writes whole pages from a page's start past the page cache; through it once the file
        system refuses."""
        done = 0
        while done < len(data) and self._direct is not None:
            n = min(len(self._buffer), len(data) - done)
            self._buffer[:n] = data[done:done + n]
            try:
                done += os.pwrite(self._direct, self._buffer[:n], at + done)
            except OSError as e:
                if e.errno not in (errno.EINVAL, errno.EOPNOTSUPP):   # not a refusal of O_DIRECT
                    raise
                os.close(self._direct)
                self._direct = None
        self._write(data[done:], at + done)

    def close(self, failed=False):
        """Waits for the writes; failed: the export failed already, no write is left to do."""
        if self._fd is None:
            return
        if failed:
            self._failure = self._failure or OSError("the export failed")
        self._todo.put(None)
        self._thread.join()
        try:
            if self._failure is not None:   # a full disk: room for HDF5 to close the file it will remove
                os.ftruncate(self._fd, 0)
        finally:
            os.close(self._fd)
            self._fd = None
            if self._direct is not None:
                os.close(self._direct)
                self._direct = None
            try:
                self._h.close()
            except RuntimeError as e:
                self._failure = self._failure or OSError(errno.EIO, str(e), self._path)
        if self._failure is not None and not failed:
            raise self._failure


def write_heavy(db, mesh, chosen, fields, tmp_h5, h5_base):
    """The HDF5 file of arrays; returns the XML of each frame's grid."""
    scratch = Scratch()
    writer = ArrayWriter(tmp_h5)
    try:
        grids = write_grids(db, mesh, chosen, fields, h5_base, writer.put, scratch)
    except BaseException:
        writer.close(failed=True)
        raise
    writer.close()
    return grids


def write_grids(db, mesh, chosen, fields, h5_base, put, scratch):
    """Puts every array with put(path, array[, spare]); returns the XML of each frame's grid. The
    first frame's fields are read and put while the mesh's topology is being built (mesh.start()),
    so the file holds them before the mesh."""
    def fields_of(k, frame):
        attributes = []
        for field in frame.field_outputs.values():
            if fields is not None and field.name not in fields:
                continue
            for (centre, name), array in field_arrays(field, mesh, scratch).items():
                path = f"/frames/{k}/{h5_name(name)}"
                put(path, array, scratch.spare)   # filled anew by a later frame once written
                attributes.append(attribute(name, centre, h5_base, path, array))
        return attributes

    first = fields_of(0, chosen[0][1]) if chosen else []
    mesh.finish()
    topo_type, topo, ncell = mesh.topology
    put("mesh/geometry", mesh.xyz)
    put("mesh/topology", topo)
    common = [("Node", "node_label", mesh.node_labels),
              ("Cell", "element_label", mesh.elem_labels),
              ("Cell", "instance", mesh.elem_instance)]
    for centre, name, array in common:
        put(f"mesh/{name}", array)
    constant = [(centre, name, f"/mesh/{name}", array) for centre, name, array in common]
    for (centre, name), array in set_arrays(db, mesh).items():
        path = f"/sets/{h5_name(name)}"
        put(path, array)
        constant.append((centre, name, path, array))
    if topo_type == "Mixed":
        topo_xml = f'<Topology TopologyType="Mixed" NumberOfElements="{ncell}">'
    else:
        topo_xml = f'<Topology TopologyType="{topo_type}" NumberOfElements="{ncell}"' + \
            (' NodesPerElement="2"' if topo_type == "Polyline" else "") + ">"
    mesh_xml = (topo_xml + data_item(h5_base, "/mesh/topology", topo) + "</Topology>"
                + '<Geometry GeometryType="XYZ">' + data_item(h5_base, "/mesh/geometry", mesh.xyz)
                + "</Geometry>")
    grids = []
    for k, (step_name, frame, t) in enumerate(chosen):
        parts = [f'<Grid Name="{xml_escape(step_name)} frame {frame.increment_number}" GridType="Uniform">',
                 mesh_xml, f'<Time Value="{t!r}"/>',
                 f'<Information Name="step" Value="{xml_escape(step_name)}"/>',
                 f'<Information Name="increment" Value="{frame.increment_number}"/>',
                 f'<Information Name="frame_value" Value="{frame.frame_value!r}"/>']
        for centre, name, path, array in constant:
            parts.append(attribute(name, centre, h5_base, path, array))
        parts += first if k == 0 else fields_of(k, frame)
        parts.append("</Grid>\n")
        grids.append("\n".join(parts))
    return grids
