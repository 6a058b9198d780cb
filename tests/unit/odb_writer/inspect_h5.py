"""Prints what the writer put in an HDF5 file, one line per object, so that
tests can compare layouts without linking HDF5: superblock version, for each
group whether it tracks link creation order and its members in iteration
order, for each dataset type, shape, chunk shape and checksum filter, and
every attribute with its type and value; small datasets show their values
too."""
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
    if isinstance(v, (str,)):
        return repr(v)
    return repr(v)


def attrs(obj, indent):
    for name in sorted(obj.attrs.keys()):
        a = obj.attrs.get_id(name)
        shape = a.shape
        v = obj.attrs[name]
        print("%s@%s %s%s = %s" % (indent, name, type_name(a.dtype), list(shape) if shape else "", value_text(v)))


def walk(g, depth):
    indent = "  " * depth
    order = g.id.get_create_plist().get_link_creation_order()
    print("%s%s order=%s" % (indent, g.name, "tracked" if order else "name"))
    attrs(g, indent + "  ")
    for name in g.keys():
        obj = g[name]
        if isinstance(obj, h5py.Group):
            walk(obj, depth + 1)
            continue
        chunks = "chunks=%s" % (list(obj.chunks) if obj.chunks else "none")
        values = ""
        if obj.size <= 12 and h5py.check_string_dtype(obj.dtype) is None:
            values = " = " + value_text(np.asarray(obj[()]).reshape(-1))
        print("%s  %s %s %s %s fletcher32=%s%s" % (indent, name, type_name(obj.dtype), list(obj.shape), chunks,
                                                   obj.fletcher32, values))
        attrs(obj, indent + "    ")


def main():
    with h5py.File(sys.argv[1], "r") as f:
        print("superblock=%d" % f.id.get_create_plist().get_version()[0])
        walk(f["/"], 0)


main()
