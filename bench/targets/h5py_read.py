"""Reads every array of every field output block (data and labels) with h5py
and nothing else: the time an engineer's script spends before any numbers.
    /usr/bin/python3 h5py_read.py DB.odb"""
import sys

import h5py


def block_arrays(f):
    """(path, dataset) of every array under a field output's blocks, in file order."""
    for step in f["steps"].values():
        for frame in step["frames"].values():
            for field in frame.get("fieldOutputs", {}).values():
                for block in field.get("blocks", {}).values():
                    for ds in block.values():
                        yield ds


def main():
    total = 0
    with h5py.File(sys.argv[1], "r") as f:
        for ds in block_arrays(f):
            total += ds[()].nbytes
    print(f"{total} bytes")


if __name__ == "__main__":
    main()
