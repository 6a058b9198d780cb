#!/usr/bin/python3
"""Writes a one-element database from numpy arrays: instance PART-1-1, an 8-node brick (C3D8) on
the unit cube with nodes 1..8, step Step-1 with its mass properties, one frame (increment 1, value
1.0) holding the stress S at the 8 integration points and the displacement U at the nodes.

usage: write_db.py OUT.odb
"""
import sys

import numpy as np

import harvestodb


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv in (["-h"], ["--help"]):
        print(__doc__.strip())
        return 0
    if len(argv) != 1 or argv[0].startswith("-"):
        print("usage: write_db.py OUT.odb", file=sys.stderr)
        return 2
    path = argv[0]

    # The brick's nodes in the C3D8 order: the bottom face, then the top face.
    labels = np.arange(1, 9, dtype=np.int32)
    xyz = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0],
                    [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]], dtype=np.float64)
    connectivity = labels.reshape(1, 8)  # one element of 8 node labels

    # Results: a uniaxial stress growing from point to point, a stretch along x.
    points = np.arange(1, 9, dtype=np.int32)
    stress = np.zeros((8, 6), dtype=np.float32)  # S11 S22 S33 S12 S13 S23
    stress[:, 0] = 200.0 + 10.0 * points
    stress[:, 3] = 5.0
    displacement = np.zeros((8, 3), dtype=np.float32)
    displacement[:, 0] = 1e-3 * xyz[:, 0]

    # Steel in mm, t, s: the mass properties the step records (C3D8 names the shape).
    mass = harvestodb.mass_properties("C3D8", xyz, connectivity, node_labels=labels, density=7.85e-9)

    try:
        with harvestodb.Writer(path) as w:  # an exception inside leaves no file
            w.set_description("one C3D8 brick")
            w.add_part("PART-1")
            w.add_instance("PART-1-1", "PART-1")
            w.set_instance_nodes("PART-1-1", labels, xyz)
            w.set_instance_elements("PART-1-1", np.array([1], dtype=np.int32), connectivity)
            w.add_step("Step-1", description="Static", **mass)
            frame = w.add_frame("Step-1", increment_number=1, frame_value=1.0, description="Increment 1")
            w.add_field_output("Step-1", frame, "S", type="TENSOR_3D_FULL", description="Stress components",
                               component_labels=["S11", "S22", "S33", "S12", "S13", "S23"],
                               valid_invariants=["MISES", "MAX_PRINCIPAL", "MIN_PRINCIPAL", "PRESS"])
            w.add_block("Step-1", frame, "S", stress, position="INTEGRATION_POINT", instance="PART-1-1",
                        element_labels=np.ones(8, dtype=np.int32), integration_points=points)
            w.add_field_output("Step-1", frame, "U", type="VECTOR", description="Spatial displacement",
                               component_labels=["U1", "U2", "U3"], valid_invariants=["MAGNITUDE"])
            w.add_block("Step-1", frame, "U", displacement, position="NODAL", instance="PART-1-1",
                        node_labels=labels)
    except (harvestodb.OdbError, ValueError) as e:
        print("write_db.py: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
