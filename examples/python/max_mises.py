#!/usr/bin/python3
"""Prints the largest von Mises value of every tensor field output, frame by frame, one line each:

    STEP INCREMENT FIELD max_mises          e.g.  Step-1 1 S 261.908

usage: max_mises.py DB.odb
"""
import sys

import harvestodb


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv in (["-h"], ["--help"]):
        print(__doc__.strip())
        return 0
    if len(argv) != 1 or argv[0].startswith("-"):
        print("usage: max_mises.py DB.odb", file=sys.stderr)
        return 2
    try:
        with harvestodb.open(argv[0]) as db:
            for step in db.steps.values():
                for frame in step.frames:
                    # The field outputs of a frame own their arrays: they go
                    # when the loop moves on, so memory stays one frame deep.
                    for field in frame.field_outputs.values():
                        if not field.type.startswith("TENSOR") or not field.blocks:
                            continue
                        largest = max(block.mises.max() for block in field.blocks)
                        print("%s %d %s %g" % (step.name, frame.increment_number, field.name, largest))
    except harvestodb.OdbError as e:  # the message names the file and the object
        print("max_mises.py: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
