"""mesh2odb: results of the open solvers (VTU, XDMF, MED, Exodus II, Gmsh) into an output database.

usage: mesh2odb [-o OUT.odb] [--step NAME=FILE]... [--map SOURCE=FIELD]... [--density RHO]
                [--partial] [--quiet] FILE...

Each FILE (or --step NAME=FILE, which names its step) becomes one step, in the order given; a
time series in it (.pvd, XDMF) becomes the step's frames (frame value = time, increment = index).
  -o OUT.odb          the database (default: the first file's name with .odb)
  --map SOURCE=FIELD  store the data array SOURCE as field FIELD (e.g. --map "von Mises"=MISES)
  --density RHO       write the steps' mass properties for a uniform density RHO
  --partial           on an error, keep the frames read before it (the status is still 1)
  --quiet             no progress lines on standard error

Formats: .vtu/.vtk, .pvd (a series of them), .xdmf (single or dolfinx time series), .med, .e/.exo
(Exodus II), .msh (Gmsh); docs/import.md says what becomes what. Status 0 on success, 1 with
"mesh2odb: FILE: message" when an input cannot be imported (no .odb is left behind), 2 for bad
options.
"""

import argparse
import os
import sys

import numpy as np

from . import meshio_map as mm
from . import meshio_sources as ms
from . import meshio_writer as ow

PROG = "mesh2odb"
PART, INSTANCE = "PART-1", "PART-1-1"


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        print("%s: %s" % (PROG, message), file=sys.stderr)
        sys.exit(2)


class _Ordered(argparse.Action):
    """Files and --step entries in one list, in the order of the command line."""

    def __call__(self, parser, namespace, values, option_string=None):
        items = getattr(namespace, "inputs", None) or []
        if option_string == "--step":
            name, sep, path = values.partition("=")
            if not sep or not name or not path:
                parser.error("--step takes NAME=FILE, got '%s'" % values)
            items.append((name, path))
        else:
            items.extend((None, v) for v in values)
        namespace.inputs = items


def parse(argv):
    p = _Parser(prog=PROG, add_help=False, usage=__doc__.split("\n\n")[1].split("usage: ")[1])
    p.add_argument("-h", "--help", action="store_true")
    p.add_argument("-o", dest="out")
    p.add_argument("--step", action=_Ordered, dest="inputs")
    p.add_argument("--map", action="append", default=[])
    p.add_argument("--density", type=float)
    p.add_argument("--partial", action="store_true")
    p.add_argument("--quiet", action="store_true")
    p.add_argument("files", nargs="*", action=_Ordered)
    args = p.parse_args(argv)
    if args.help:
        print(__doc__.strip())
        sys.exit(0)
    if not getattr(args, "inputs", None):
        p.error("no input file (try '%s --help')" % PROG)
    mapping = {}
    for m in args.map:
        source, sep, target = m.rpartition("=")
        if not sep or not source or not target:
            p.error("--map takes SOURCE=FIELD, got '%s'" % m)
        if mm.clean(target) != target:
            p.error("--map target '%s' must hold letters, digits and underscores only" % target)
        mapping[source] = target
    args.mapping = mapping
    if args.density is not None and not (args.density > 0 and np.isfinite(args.density)):
        p.error("--density must be a positive number, got '%g'" % args.density)
    return args


class Importer:
    """Writes the model from the first mesh, then every frame as it is read."""

    def __init__(self, writer, mapping, quiet, density=None):
        self.w, self.mapping, self.quiet, self.density = writer, mapping, quiet, density
        self.mesh = None
        self.frames = 0

    # ---- model --------------------------------------------------------------------------------

    def model(self, mesh):
        # Cells of no element count as solids (so that they are refused by name), points and lines as
        # the boundaries they are.
        dims = [mm.CELLS[t][3] if t in mm.CELLS else mm.LOWER.get(t, 3) for t, _ in mesh.blocks]
        top = max(dims, default=0)
        self.top = [d == top for d in dims]
        if not any(self.top):
            raise mm.ImportError_("no cells, expected a mesh of solids or surfaces")
        conns, start = [], 0
        self.starts = []
        for (cell_type, conn), keep in zip(mesh.blocks, self.top):
            self.starts.append(start)
            if not keep:
                continue
            conn = np.asarray(conn)
            outside = np.nonzero((conn < 0) | (conn >= len(mesh.points)))[0] if conn.size else []
            if len(outside):
                raise mm.ImportError_("cell %d of type %s names node %d, the mesh has %d points"
                                      % (outside[0], cell_type, int(conn[outside[0]].max()) + 1, len(mesh.points)))
            ours = mm.to_our_order(cell_type, conn, mesh.points, mesh.fmt)
            conns.append(ours)
            start += len(ours)
        self.elements = start
        self.ours = conns
        self.w.add_part(PART)
        self.w.add_instance(INSTANCE, PART)
        self.w.set_instance_nodes(INSTANCE, np.arange(1, len(mesh.points) + 1), mesh.points)
        counts = [c.shape[1] for c in conns for _ in range(len(c))]
        offsets = np.concatenate([[0], np.cumsum(counts, dtype=np.int64)])
        connectivity = np.concatenate([c.reshape(-1) for c in conns]) + 1 if conns else np.zeros(0)
        self.w.set_instance_elements(INSTANCE, np.arange(1, start + 1), offsets, connectivity)
        self._sets(mesh)
        self.mesh = mesh

    def _sets(self, mesh):
        written = set()
        for name, idx in sorted(mesh.point_sets.items()):
            self.w.add_assembly_set("node", mm.clean(name), INSTANCE, np.unique(idx) + 1)
        for name, per_block in mesh.cell_sets.items():
            elements, nodes = [], []
            for b, idx in enumerate(per_block[:len(mesh.blocks)]):
                if idx is None or not len(idx):
                    continue
                if self.top[b]:
                    elements.append(self.starts[b] + np.asarray(idx) + 1)
                else:
                    nodes.append(np.asarray(mesh.blocks[b][1])[np.asarray(idx)].reshape(-1) + 1)
            name = mm.clean(name)
            if elements:
                self.w.add_assembly_set("element", name, INSTANCE, np.unique(np.concatenate(elements)))
            if nodes and name not in written and name not in mesh.point_sets:
                self.w.add_assembly_set("node", name, INSTANCE, np.unique(np.concatenate(nodes)))
            written.add(name)

    # ---- results ------------------------------------------------------------------------------

    def typed_frame(self, frame):
        """All fields of a frame, typed and checked, before any is written (a frame is whole or absent)."""
        fields = []
        n_points = len(self.mesh.points)
        for name, values, comps in frame.point_data:
            values = np.asarray(values)
            if len(values) != n_points:
                raise mm.ImportError_("point data %s has %d values, the mesh has %d points"
                                      % (name, len(values), n_points))
            for f in mm.typed(name, values, comps, self.mapping, cell=False):
                fields.append(("NODAL",) + f)
        for name, per_block, comps in frame.cell_data:
            if len(per_block) != len(self.top):
                raise mm.ImportError_("cell data %s has %d blocks, the mesh has %d" % (name, len(per_block), len(self.top)))
            kept = [np.asarray(v) for v, keep in zip(per_block, self.top) if keep]
            count = sum(len(v) for v in kept)
            if count != self.elements:
                raise mm.ImportError_("cell data %s has %d values, the mesh has %d cells"
                                      % (name, count, self.elements))
            values = np.concatenate(kept)
            position = "CENTROID"
            if values.ndim == 3:       # values at integration points: [cells, points, components]
                position = "INTEGRATION_POINT:%d" % values.shape[1]
                values = values.reshape(values.shape[0] * values.shape[1], -1)
            for f in mm.typed(name, values, comps, self.mapping, cell=True):
                fields.append((position,) + f)
        names = [f[1] for f in fields]
        clash = next((n for n in names if names.count(n) > 1), None)
        if clash:
            raise mm.ImportError_("two data arrays become field %s (use --map)" % clash)
        return fields

    def frame(self, step, frame, fields):
        index = self.frames
        f = self.w.add_frame(step, index, frame.time, "Increment %d: Time = %.6g" % (index, frame.time))
        all_nodes = np.arange(1, len(self.mesh.points) + 1)
        all_elements = np.arange(1, self.elements + 1)
        for position, name, type_code, labels, invariants, description, data in fields:
            self.w.add_field_output(step, f, name, type_code, description, labels, invariants)
            if position == "NODAL":
                self.w.add_block(step, f, name, "NODAL", INSTANCE, data, node_labels=all_nodes)
            elif position == "CENTROID":
                self.w.add_block(step, f, name, "CENTROID", INSTANCE, data, element_labels=all_elements)
            else:
                points = int(position.split(":")[1])
                self.w.add_block(step, f, name, "INTEGRATION_POINT", INSTANCE, data,
                                 element_labels=np.repeat(all_elements, points),
                                 integration_points=np.tile(np.arange(1, points + 1), self.elements))
        self.frames += 1
        self.w.flush()

    def step(self, step, path):
        """The file's frames as frames of the step; the step is written once the first mesh is known."""
        self.frames = 0
        for mesh, frame in ms.read(path):
            if mesh is not None:
                if self.mesh is None:
                    self.model(mesh)
                elif not mesh.same_as(self.mesh):
                    raise mm.ImportError_("the mesh at time %g differs from the first one (%s)"
                                          % (frame.time, mesh.difference(self.mesh)))
            fields = self.typed_frame(frame)     # checked before the step is written: no empty step on a fault
            if self.frames == 0:
                self.w.add_step(step, description=os.path.basename(path), mass=self.mass())
            self.frame(step, frame, fields)
            if not self.quiet:
                print("%s: %s: frame %d at time %g" % (PROG, path, self.frames - 1, frame.time), file=sys.stderr)

    def mass(self):
        """(mass, centre, inertia about the centre, about the origin) at --density, through the library's
        element integration; None without --density or when an element is no solid."""
        if self.density is None:
            return None
        shapes = [mm.CELLS[t][4] for (t, _), keep in zip(self.mesh.blocks, self.top) if keep]
        if None in shapes:
            return None
        try:
            from . import mass_properties
        except ImportError:
            raise mm.ImportError_("--density needs the compiled module harvestodb._odb, which this build lacks")
        counts = [len(c) for c in self.ours]
        result = mass_properties([s for s, n in zip(shapes, counts) for _ in range(n)],
                                 np.ascontiguousarray(self.mesh.points, dtype=np.float64),
                                 np.concatenate([c.reshape(-1) for c in self.ours]).astype(np.int32),
                                 offsets=np.concatenate([[0], np.cumsum([c.shape[1] for c in self.ours for _ in c])]),
                                 density=self.density)
        if result is None:
            return None
        return (result["mass"], result["mass_center"], result["inertia_about_center"], result["inertia_about_origin"])


def main(argv=None):
    args = parse(sys.argv[1:] if argv is None else argv)
    inputs = [(name or "Step-%d" % (i + 1), path) for i, (name, path) in enumerate(args.inputs)]
    out = args.out or os.path.splitext(inputs[0][1])[0] + ".odb"
    for _, path in inputs:
        if os.path.exists(path) and os.path.exists(out) and os.path.samefile(path, out):
            print("%s: %s: is an input" % (PROG, out), file=sys.stderr)
            return 1
    tmp = "%s.tmp%d" % (out, os.getpid())
    current = inputs[0][1]
    writer = importer = None
    try:
        writer = ow.open_writer(tmp)
        importer = Importer(writer, args.mapping, args.quiet, args.density)
        for step, path in inputs:
            current = path
            importer.step(step, path)
        writer.close()
        os.replace(tmp, out)
        return 0
    except Exception as e:  # noqa: BLE001 (every failure ends with one line and no partial file)
        if isinstance(e, mm.ImportError_):
            message = str(e)
        elif isinstance(e, OSError):
            message = e.strerror or str(e)
        else:   # a file that breaks a reader in a way we did not foresee
            message = "cannot read: %s: %s" % (type(e).__name__, (str(e).splitlines() or [""])[0])
        keep = args.partial and importer is not None and importer.mesh is not None
        try:
            if writer is not None:
                writer.close()
        except (OSError, ValueError):
            keep = False
        if keep:
            os.replace(tmp, out)
        elif os.path.exists(tmp):
            os.remove(tmp)
        print("%s: %s: %s" % (PROG, current, message), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
