"""Writes a small output database with h5py.

One part with one instance of four nodes and one quadrilateral element, a
node set, one step with mass properties, two frames holding a nodal
displacement U and an integration-point stress S, and one history region.

Usage: python3 write_db.py [path]   (default: example.odb)
"""
import sys

import h5py
import numpy as np

STR = h5py.string_dtype("utf-8")


def group(parent, key, **attrs):
    # track_order=True keeps steps, frames, outputs ... in the order written.
    g = parent.create_group(key, track_order=True)
    for key, value in attrs.items():
        g.attrs[key] = value
    return g


def write(path):
    with h5py.File(path, "w", libver=("v110", "latest"), track_order=True) as f:
        f.attrs["format"] = "odb"
        f.attrs["format_version"] = np.int32(2)
        f.attrs["description"] = "h5py example"

        # Model: part, instance with mesh (CSR connectivity), one node set.
        parts = group(f, "parts")
        group(parts, "PLATE")
        assembly = group(f, "assembly", name="ASSEMBLY")
        inst = group(group(assembly, "instances"), "PLATE-1", part="PLATE")
        nodes = group(inst, "nodes")
        nodes["labels"] = np.array([1, 2, 3, 4], dtype=np.int32)
        nodes["coordinates"] = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], dtype=np.float64)
        elements = group(inst, "elements")
        elements["labels"] = np.array([1], dtype=np.int32)
        elements["offsets"] = np.array([0, 4], dtype=np.int64)
        elements["connectivity"] = np.array([1, 2, 3, 4], dtype=np.int32)
        group(inst, "nodeSets")["EDGE"] = np.array([1, 4], dtype=np.int32)

        # One step with mass properties.
        step = group(group(f, "steps"), "Step-1", description="Load")
        step.attrs["mass"] = 7.85
        step.attrs["massCenter"] = np.array([0.5, 0.5, 0.0])
        step.attrs["inertiaAboutCenter"] = np.array([0.65, 0.65, 1.3, 0.0, 0.0, 0.0])
        frames = group(step, "frames")
        for i, time in enumerate([0.0, 1.0]):
            frame = group(frames, str(i), incrementNumber=np.int32(i), frameValue=time,
                          description="Increment %d: Step Time = %g" % (i, time))
            outputs = group(frame, "fieldOutputs")

            u = group(outputs, "U", description="Spatial displacement", type=np.int32(3))
            u.attrs.create("componentLabels", ["U1", "U2", "U3"], dtype=STR)
            u.attrs["validInvariants"] = np.array([8], dtype=np.int32)  # MAGNITUDE
            block = group(group(u, "blocks"), "0", instance="PLATE-1", position="NODAL")
            block["data"] = time * np.array([[0, 0, 0], [1e-3, 0, 0], [1e-3, 2e-4, 0], [0, 2e-4, 0]],
                                            dtype=np.float32)
            block["nodeLabels"] = np.array([1, 2, 3, 4], dtype=np.int32)

            s = group(outputs, "S", description="Stress components", type=np.int32(5))
            s.attrs.create("componentLabels", ["S11", "S22", "S33", "S12", "S13", "S23"], dtype=STR)
            s.attrs["validInvariants"] = np.array([1, 3, 4, 6, 7], dtype=np.int32)
            block = group(group(s, "blocks"), "0", instance="PLATE-1", position="INTEGRATION_POINT")
            block["data"] = time * np.array([[100, 10, 0, 5, 0, 0], [110, 12, 0, 4, 0, 0],
                                             [90, 8, 0, 6, 0, 0], [105, 11, 0, 5, 0, 0]], dtype=np.float32)
            block["elementLabels"] = np.array([1, 1, 1, 1], dtype=np.int32)
            block["integrationPoints"] = np.array([1, 2, 3, 4], dtype=np.int32)

        # History: the displacement of node 3 over the step, as (time, value) rows.
        region = group(group(step, "historyRegions"), "Node PLATE-1.3",
                       description="Output at node 3", node=np.int32(3), instance="PLATE-1")
        u1 = group(group(region, "historyOutputs"), "U1", description="Spatial displacement: U1",
                   type=np.int32(2))
        u1["data"] = np.array([[0.0, 0.0], [0.5, 5e-4], [1.0, 1e-3]], dtype=np.float64)


if __name__ == "__main__":
    write(sys.argv[1] if len(sys.argv) > 1 else "example.odb")
