"""Prints an HDF5 file one line per object, so tests compare layouts without linking HDF5."""
import sys

import h5py
import numpy as np


def type_name(dt):
    info = h5py.check_string_dtype(dt)
    if info is not None:
        return "str-%s-%s" % ("vlen" if info.length is None else "fixed", info.encoding)
    return dt.str.lstrip("<>=|")


def value_text(v):
    if isinstance(v, bytes):
        return repr(v.decode())
    if isinstance(v, np.ndarray):
        return "[" + " ".join(value_text(x) for x in v.tolist()) + "]"
    return repr(v)


def attrs(obj, indent):
    for name in sorted(obj.attrs.keys()):
        shape = obj.attrs.get_id(name).shape
        print("%s@%s %s%s = %s" % (indent, name, type_name(obj.attrs.get_id(name).dtype), list(shape) if shape else "",
                                   value_text(obj.attrs[name])))


def walk(g, depth):
    indent = "  " * depth
    tracked = g.id.get_create_plist().get_link_creation_order()
    print("%s%s order=%s" % (indent, g.name, "tracked" if tracked else "name"))
    attrs(g, indent + "  ")
    for name in g.keys():
        obj = g[name]
        if isinstance(obj, h5py.Group):
            walk(obj, depth + 1)
            continue
        values = ""
        if obj.size <= 12 and h5py.check_string_dtype(obj.dtype) is None:
            values = " = " + value_text(np.asarray(obj[()]).reshape(-1))
        print("%s  %s %s %s chunks=%s fletcher32=%s%s" % (indent, name, type_name(obj.dtype), list(obj.shape),
                                                          list(obj.chunks) if obj.chunks else "none", obj.fletcher32,
                                                          values))
        attrs(obj, indent + "    ")


with h5py.File(sys.argv[1], "r") as f:
    print("superblock=%d" % f.id.get_create_plist().get_version()[0])
    walk(f["/"], 0)
