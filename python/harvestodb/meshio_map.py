"""What becomes what when a mesh and its data enter a database (docs/import.md keeps the same tables).

Cells: our node order is the solver's of docs/format.md (C3D4 ... C3D20, S3 ... S8). meshio hands
cells over in VTK's order; a format that orders nodes otherwise is brought to VTK's order first
(NATIVE_TO_VTK). Solid elements whose volume comes out negative are mirrored (readers disagree on
wedge and tetrahedron orientation, and dolfinx numbers a cell's vertices by their global index),
and the mid-side nodes of quadratic elements must sit nearest the middle of their own edge: a wrong
order table would otherwise go unnoticed into every derived value.

Fields: the type follows the component count (and the component names when the file gives them),
the name and description follow DEFAULT_NAMES unless --map names the target.
"""

import re

import numpy as np

from . import meshio_writer as ow


class ImportError_(Exception):
    """A fault of the input: the message after "mesh2odb: FILE: "."""


# meshio cell type -> (our element, node count, permutation VTK order -> ours or None, dimension, solid shape)
CELLS = {
    "tetra": ("C3D4", 4, None, 3, "TET4"),
    "tetra10": ("C3D10", 10, None, 3, "TET10"),
    "hexahedron": ("C3D8", 8, None, 3, "HEX8"),
    "hexahedron20": ("C3D20", 20, None, 3, "HEX20"),
    "wedge": ("C3D6", 6, [0, 2, 1, 3, 5, 4], 3, "WEDGE6"),
    "wedge15": ("C3D15", 15, [0, 2, 1, 3, 5, 4, 8, 7, 6, 11, 10, 9, 12, 14, 13], 3, "WEDGE15"),
    "triangle": ("S3", 3, None, 2, None),
    "triangle6": ("S6", 6, None, 2, None),
    "quad": ("S4", 4, None, 2, None),
    "quad8": ("S8", 8, None, 2, None),
}

# Mirror images in our order (an element of negative volume becomes a positive one).
MIRROR = {
    "tetra": [0, 2, 1, 3],
    "tetra10": [0, 2, 1, 3, 6, 5, 4, 7, 9, 8],
    "hexahedron": [0, 3, 2, 1, 4, 7, 6, 5],
    "hexahedron20": [0, 3, 2, 1, 4, 7, 6, 5, 11, 10, 9, 8, 15, 14, 13, 12, 16, 19, 18, 17],
    "wedge": [0, 2, 1, 3, 5, 4],
    "wedge15": [0, 2, 1, 3, 5, 4, 8, 7, 6, 11, 10, 9, 12, 14, 13],
}

# Edges of the quadratic elements in our order: mid-side node -> its two corners.
EDGES = {
    "tetra10": [(0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3)],
    "hexahedron20": [(0, 1), (1, 2), (2, 3), (3, 0), (4, 5), (5, 6), (6, 7), (7, 4),
                     (0, 4), (1, 5), (2, 6), (3, 7)],
    "wedge15": [(0, 1), (1, 2), (2, 0), (3, 4), (4, 5), (5, 3), (0, 3), (1, 4), (2, 5)],
    "triangle6": [(0, 1), (1, 2), (2, 0)],
    "quad8": [(0, 1), (1, 2), (2, 3), (3, 0)],
}

# Formats whose own node order differs from VTK's: format -> cell type -> permutation native -> VTK.
NATIVE_TO_VTK = {
    "exodus": {
        "hexahedron20": list(range(12)) + [16, 17, 18, 19, 12, 13, 14, 15],
        "wedge15": list(range(9)) + [12, 13, 14, 9, 10, 11],
    },
}

# Points and lines: boundary marks of solid and surface meshes (their groups become node sets).
LOWER = {"vertex": 0, "line": 1, "line3": 1}


def signed_volume(cell_type, xyz):
    """Sign-carrying measure of each element's Jacobian at its centre; xyz: [m, nodes, 3] in our order."""
    p = xyz
    if cell_type.startswith("tetra"):
        a, b, c = p[:, 1] - p[:, 0], p[:, 2] - p[:, 0], p[:, 3] - p[:, 0]
    elif cell_type.startswith("wedge"):
        a = p[:, 1] - p[:, 0] + p[:, 4] - p[:, 3]
        b = p[:, 2] - p[:, 0] + p[:, 5] - p[:, 3]
        c = p[:, 3:6].sum(axis=1) - p[:, 0:3].sum(axis=1)
    else:
        a = p[:, [1, 2, 6, 5]].sum(axis=1) - p[:, [0, 3, 7, 4]].sum(axis=1)
        b = p[:, [3, 2, 6, 7]].sum(axis=1) - p[:, [0, 1, 5, 4]].sum(axis=1)
        c = p[:, 4:8].sum(axis=1) - p[:, 0:4].sum(axis=1)
    return np.einsum("ij,ij->i", a, np.cross(b, c))


def check_midsides(cell_type, xyz):
    """Index of the first element whose mid-side nodes do not sit nearest their own edge's middle, or -1."""
    edges = EDGES.get(cell_type)
    if edges is None:
        return -1
    corners = CELLS[cell_type][1] - len(edges)
    middles = np.stack([(xyz[:, i] + xyz[:, j]) / 2 for i, j in edges], axis=1)   # [m, e, 3]
    mids = xyz[:, corners:corners + len(edges)]                                    # [m, e, 3]
    d = np.linalg.norm(mids[:, :, None, :] - middles[:, None, :, :], axis=3)       # [m, node, edge]
    bad = np.nonzero((d.argmin(axis=2) != np.arange(len(edges))).any(axis=1))[0]
    return int(bad[0]) if bad.size else -1


def to_our_order(cell_type, conn, points, fmt):
    """Connectivity (0-based, VTK or the format's order) in our node order, solids mirrored to a
    positive volume."""
    if cell_type not in CELLS:
        raise ImportError_("cell type %s has no element in the database" % cell_type)
    name, count, perm, dim, _ = CELLS[cell_type]
    conn = np.asarray(conn, dtype=np.int64)
    if conn.ndim != 2 or conn.shape[1] != count:
        raise ImportError_("cells of type %s have %d nodes, expected %d" % (cell_type, conn.shape[-1], count))
    native = NATIVE_TO_VTK.get(fmt, {}).get(cell_type)
    if native is not None:
        conn = conn[:, native]
    if perm is not None:
        conn = conn[:, perm]
    if dim == 3 and len(conn):
        negative = signed_volume(cell_type, points[conn]) < 0
        conn[negative] = conn[negative][:, MIRROR[cell_type]]
    if len(conn):
        bad = check_midsides(cell_type, points[conn])
        if bad >= 0:
            raise ImportError_("cell %d of type %s: mid-side nodes are not in %s order" % (bad, cell_type, name))
    return conn


# ---- fields ----------------------------------------------------------------------------------

# Common source names (lower case, cleaned) -> our field name.
DEFAULT_NAMES = {
    "displacement": "U", "displacements": "U", "disp": "U", "u": "U",
    "velocity": "V", "v": "V",
    "stress": "S", "stresses": "S", "sigma": "S", "s": "S", "cauchy_stress": "S",
    "strain": "E", "strains": "E", "eps": "E", "epsilon": "E", "e": "E",
    "temperature": "NT", "temp": "NT", "t": "NT",
    "von_mises": "MISES", "von_mises_stress": "MISES", "vonmises": "MISES", "mises": "MISES",
    "reaction": "RF", "reaction_force": "RF", "reactions": "RF", "rf": "RF",
    "equivalent_plastic_strain": "PEEQ", "peeq": "PEEQ",
    # Code_Aster's result names
    "depl": "U", "sief": "S", "sigm": "S", "sief_elga": "S", "sief_noeu": "S", "sigm_elno": "S", "sigm_noeu": "S",
    "epsi": "E", "epsi_elga": "E", "epsi_noeu": "E",
}

# Our field name -> description (the report selects by "Stress", "Spatial" and "Element").
DESCRIPTIONS = {
    "U": "Spatial displacement", "V": "Spatial velocity", "S": "Stress components",
    "E": "Strain components", "NT": "Nodal temperature", "RF": "Reaction force",
    "MISES": "Mises equivalent Stress", "PEEQ": "Equivalent plastic strain",
}

TENSOR_SLOTS = ("11", "22", "33", "12", "13", "23")
_AXIS = {"x": "1", "y": "2", "z": "3", "1": "1", "2": "2", "3": "3"}
# Tensor orders by component count when the file names no component: VTK's symmetric order.
DEFAULT_SYM6 = ("11", "22", "33", "12", "23", "13")
TENSOR_INVARIANTS = (ow.MISES, ow.TRESCA, ow.PRESS, ow.INV3, ow.MAX_PRINCIPAL, ow.MID_PRINCIPAL, ow.MIN_PRINCIPAL)


def clean(name):
    """Letters, digits and underscores: other characters become one underscore, none at the ends."""
    return re.sub(r"[^A-Za-z0-9_]+", "_", name).strip("_") or "FIELD"


def target_name(source, mapping):
    if source in mapping:
        return mapping[source]
    cleaned = clean(source)
    return DEFAULT_NAMES.get(cleaned.lower(), cleaned)


def describe(target, source, kind, cell):
    if target in DESCRIPTIONS:
        return DESCRIPTIONS[target]
    low = source.lower()
    if kind == "tensor" and ("stress" in low or "sigma" in low):
        return "Stress components"
    if kind == "vector" and ("displacement" in low or low in ("u", "disp")):
        return "Spatial displacement"
    return ("Element " if cell else "") + source


def slot_of(component):
    """'xy', 'SIXY', 'stress_yz', 'S12', ... -> the tensor slot ('12'), or None."""
    tail = component.strip().lower()[-2:]
    if len(tail) < 2 or tail[0] not in _AXIS or tail[1] not in _AXIS:
        return None
    a, b = sorted((_AXIS[tail[0]], _AXIS[tail[1]]))
    return a + b


def _symmetric(flat, side, source):
    """[n, side*side] row by row -> [n, 6] (side 3) or [n, 3] (side 2) in our slot order; refuses a
    tensor that is not symmetric to its precision (64 ulps of its largest entry)."""
    eps = np.finfo(flat.dtype).eps if np.issubdtype(flat.dtype, np.floating) else 0.0
    upper, lower = ([1, 2, 5], [3, 6, 7]) if side == 3 else ([1], [2])
    skew = np.abs(flat[:, upper] - flat[:, lower]).max(axis=1)
    bad = np.nonzero(skew > 64 * eps * np.abs(flat).max(axis=1))[0]
    if bad.size:
        i = int(bad[0])
        raise ImportError_("field %s: tensor of entry %d is not symmetric (%.6g against %.6g)"
                           % (source, i, skew[i], np.abs(flat[i]).max()))
    off = (flat[:, upper] + flat[:, lower]) / 2
    if side == 2:
        return np.column_stack([flat[:, 0], flat[:, 3], off[:, 0]])
    return np.column_stack([flat[:, 0], flat[:, 4], flat[:, 8], off])       # 11 22 33 12 13 23


def typed(source, values, components, mapping, cell):
    """One entry of point or cell data -> [(name, type, labels, invariants, description, data[n, w])]."""
    data = np.asarray(values)
    if not np.issubdtype(data.dtype, np.number):
        raise ImportError_("field %s holds %s values, expected numbers" % (source, data.dtype))
    if data.dtype.kind in "iub":
        data = data.astype(np.float64)
    n = data.shape[0]
    data = data.reshape(n, -1)
    width = data.shape[1]
    target = target_name(source, mapping)
    if width == 1:
        return [(target, ow.SCALAR, (), (), describe(target, source, "scalar", cell), data[:, 0])]
    if width in (2, 3):
        if width == 2:
            data = np.hstack([data, np.zeros((n, 1), dtype=data.dtype)])
        labels = tuple(target + c for c in "123")
        return [(target, ow.VECTOR, labels, (ow.MAGNITUDE,), describe(target, source, "vector", cell), data)]
    if width in (4, 9):
        side = 2 if width == 4 else 3
        sym = _symmetric(data, side, source)
        desc = describe(target, source, "tensor", cell)
        if side == 2:
            return [(target, ow.TENSOR_2D_SURFACE, tuple(target + s for s in ("11", "22", "12")),
                     (ow.MISES, ow.MAX_INPLANE_PRINCIPAL, ow.MIN_INPLANE_PRINCIPAL), desc, sym)]
        return [(target, ow.TENSOR_3D_FULL, tuple(target + s for s in TENSOR_SLOTS), TENSOR_INVARIANTS, desc, sym)]
    if width == 6:
        slots = [slot_of(c) for c in components] if components and len(components) == 6 else []
        if not slots or None in slots or len(set(slots)) != 6:
            slots = list(DEFAULT_SYM6)
        order = [slots.index(s) for s in TENSOR_SLOTS]
        return [(target, ow.TENSOR_3D_FULL, tuple(target + s for s in TENSOR_SLOTS), TENSOR_INVARIANTS,
                 describe(target, source, "tensor", cell), data[:, order])]
    out = []
    for i in range(width):
        name = "%s_%s" % (target, clean(components[i]) if components and len(components) == width else i + 1)
        out.append((name, ow.SCALAR, (), (), "%s component %d" % (describe(target, source, "scalar", cell), i + 1),
                    data[:, i]))
    return out
