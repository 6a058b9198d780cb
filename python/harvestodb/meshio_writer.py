"""The database writer of mesh2odb, one call per object kind.

open_writer(path) hands out the library's own writer (src/odb/odb_writer.h through the compiled
module harvestodb._odb), so that every importer writes the same file; where the module was not built,
an h5py writer of the same layout (docs/format.md) takes its place. Both write objects as they are
added, so memory stays bounded by what one call hands over: model first (part, instance, nodes,
elements, sets), then steps, frames, field outputs and their blocks.
"""

import h5py
import numpy as np

# Codes of docs/format.md §7.
SCALAR, VECTOR, TENSOR_3D_FULL, TENSOR_2D_SURFACE = 2, 3, 5, 9
MAGNITUDE, MISES, TRESCA, PRESS, INV3, MAX_PRINCIPAL, MID_PRINCIPAL, MIN_PRINCIPAL = 8, 4, 5, 6, 7, 1, 2, 3
MAX_INPLANE_PRINCIPAL, MIN_INPLANE_PRINCIPAL = 9, 10
CHUNK_BYTES = 1 << 20


def _fixed(text):
    return np.bytes_(text.encode("utf-8"))


def _fixed_list(texts):
    data = [t.encode("utf-8") for t in texts]
    return np.array(data, dtype="S%d" % max(1, max(len(d) for d in data)))


INVARIANT_NAMES = {1: "MAX_PRINCIPAL", 2: "MID_PRINCIPAL", 3: "MIN_PRINCIPAL", 4: "MISES", 5: "TRESCA",
                   6: "PRESS", 7: "INV3", 8: "MAGNITUDE", 9: "MAX_INPLANE_PRINCIPAL", 10: "MIN_INPLANE_PRINCIPAL"}


def open_writer(path):
    try:
        from . import _odb
    except ImportError:
        return H5Writer(path)
    return LibraryWriter(_odb, path)


class LibraryWriter:
    """The library's writer behind mesh2odb's calls; its failures arrive as OSError with its message."""

    def __init__(self, module, path):
        self.path = path
        self._error = module.OdbError
        self._w = self._call(module.Writer, path)

    def _call(self, fn, *args, **kwargs):
        try:
            return fn(*args, **kwargs)
        except self._error as e:
            raise OSError(str(e)) from None

    def close(self):
        if not self._w.closed:
            self._call(self._w.close)

    def flush(self):
        pass

    def add_part(self, part):
        self._call(self._w.add_part, part)

    def add_instance(self, name, part):
        self._call(self._w.add_instance, name, part)

    def set_instance_nodes(self, instance, labels, coordinates):
        self._call(self._w.set_instance_nodes, instance, np.asarray(labels, dtype=np.int32),
                   np.ascontiguousarray(coordinates, dtype=np.float64).reshape(-1, 3))

    def set_instance_elements(self, instance, labels, offsets, connectivity):
        self._call(self._w.set_instance_elements, instance, np.asarray(labels, dtype=np.int32),
                   np.asarray(connectivity, dtype=np.int32), np.asarray(offsets, dtype=np.int64))

    def add_assembly_set(self, kind, name, instance, labels):
        self._call(self._w.add_assembly_set, kind.upper() + "_SET", name, {instance: np.asarray(labels, dtype=np.int32)})

    def add_step(self, step, description="", mass=None):
        extra = {}
        if mass is not None:
            extra = dict(mass=float(mass[0]), mass_center=list(mass[1]), inertia_about_center=list(mass[2]),
                         inertia_about_origin=list(mass[3]))
        self._call(self._w.add_step, step, description=description, **extra)

    def add_frame(self, step, increment, value, description):
        return self._call(self._w.add_frame, step, increment_number=int(increment), description=description,
                          frame_value=float(value))

    def add_field_output(self, step, frame, field, type_code, description, labels=(), invariants=()):
        self._call(self._w.add_field_output, step, frame, field, type=int(type_code), description=description,
                   component_labels=list(labels), valid_invariants=[INVARIANT_NAMES[i] for i in invariants])

    def add_block(self, step, frame, field, position, instance, data, node_labels=None, element_labels=None,
                  integration_points=None):
        def labels(a):
            return None if a is None else np.asarray(a, dtype=np.int32)
        return self._call(self._w.add_block, step, frame, field, np.ascontiguousarray(data), position=position,
                          instance=instance, node_labels=labels(node_labels), element_labels=labels(element_labels),
                          integration_points=labels(integration_points))


class H5Writer:
    """The same calls with h5py: strings fixed-length UTF-8 as our writer stores them, groups tracking
    their creation order, arrays chunked (about 1 MiB) with the Fletcher-32 checksum."""

    def __init__(self, path):
        self.path = path
        self._file = h5py.File(path, "w", libver=("v110", "latest"), track_order=True)
        self._file.attrs["format"] = _fixed("odb")
        self._file.attrs["format_version"] = np.int32(2)
        self._frames = {}

    def close(self):
        if self._file is not None:
            f, self._file = self._file, None
            f.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _group(self, path, **attrs):
        g = self._file.require_group(path) if path in self._file else self._file.create_group(path, track_order=True)
        for key, value in attrs.items():
            g.attrs[key] = _fixed(value) if isinstance(value, str) else value
        return g

    def _array(self, parent, name, data):
        data = np.ascontiguousarray(data)
        kwargs = {}
        if data.size:
            row = max(1, data.itemsize * (data.shape[1] if data.ndim == 2 else 1))
            rows = max(1, min(data.shape[0], CHUNK_BYTES // row))
            kwargs = dict(chunks=(rows,) + data.shape[1:], fletcher32=True)
        parent.create_dataset(name, data=data, **kwargs)

    # ---- model --------------------------------------------------------------------------------

    def add_part(self, part):
        self._group("/parts/" + part)

    def add_instance(self, name, part):
        self._group("/assembly", name="ASSEMBLY")
        self._group("/assembly/instances/" + name, part=part)

    def set_instance_nodes(self, instance, labels, coordinates):
        g = self._group("/assembly/instances/%s/nodes" % instance)
        self._array(g, "labels", np.asarray(labels, dtype=np.int32))
        self._array(g, "coordinates", np.asarray(coordinates, dtype=np.float64).reshape(-1, 3))

    def set_instance_elements(self, instance, labels, offsets, connectivity):
        g = self._group("/assembly/instances/%s/elements" % instance)
        self._array(g, "labels", np.asarray(labels, dtype=np.int32))
        self._array(g, "offsets", np.asarray(offsets, dtype=np.int64))
        self._array(g, "connectivity", np.asarray(connectivity, dtype=np.int32))

    def add_assembly_set(self, kind, name, instance, labels):
        """kind is "node" or "element"; an assembly set on one instance."""
        g = self._group("/assembly/%sSets/%s" % (kind, name))
        self._array(g, instance, np.asarray(labels, dtype=np.int32))

    # ---- results ------------------------------------------------------------------------------

    def add_step(self, step, description="", mass=None):
        """mass: None, or (mass, centre[3], inertia about the centre[6], inertia about the origin[6])."""
        g = self._group("/steps/" + step, description=description)
        self._frames[step] = 0
        if mass is None:
            return
        g.attrs["mass"] = np.float64(mass[0])
        g.attrs["massCenter"] = np.asarray(mass[1], dtype=np.float64)
        g.attrs["inertiaAboutCenter"] = np.asarray(mass[2], dtype=np.float64)
        g.attrs["inertiaAboutOrigin"] = np.asarray(mass[3], dtype=np.float64)

    def add_frame(self, step, increment, value, description):
        """Returns the frame's index (0, 1, ...)."""
        index = self._frames[step]
        self._frames[step] = index + 1
        self._group("/steps/%s/frames/%d" % (step, index), incrementNumber=np.int32(increment),
                    frameValue=np.float64(value), description=description)
        return index

    def add_field_output(self, step, frame, field, type_code, description, labels=(), invariants=()):
        g = self._group("/steps/%s/frames/%d/fieldOutputs/%s" % (step, frame, field),
                        type=np.int32(type_code), description=description)
        if labels:
            g.attrs["componentLabels"] = _fixed_list(labels)
        if invariants:
            g.attrs["validInvariants"] = np.asarray(invariants, dtype=np.int32)
        self._group(g.name + "/blocks")

    def add_block(self, step, frame, field, position, instance, data, node_labels=None, element_labels=None,
                  integration_points=None):
        """data: [n] or [n, w] floats; labels as the position needs them. Returns the block's index."""
        blocks = self._file["/steps/%s/frames/%d/fieldOutputs/%s/blocks" % (step, frame, field)]
        index = len(blocks)
        g = self._group("%s/%d" % (blocks.name, index), position=position, instance=instance)
        self._array(g, "data", data)
        if node_labels is not None:
            self._array(g, "nodeLabels", np.asarray(node_labels, dtype=np.int32))
        if element_labels is not None:
            self._array(g, "elementLabels", np.asarray(element_labels, dtype=np.int32))
        if integration_points is not None:
            self._array(g, "integrationPoints", np.asarray(integration_points, dtype=np.int32))
        return index

    def flush(self):
        self._file.flush()
