#!/usr/bin/python3
"""usage: gmsh_model.py OUT.msh -- a Gmsh model for mesh2odb's test: a 2 x 1 x 0.5 box of tetrahedra,
physical groups BODY (the volume) and BASE (the face z = 0), views "temperature" (T = 100 + 10 x + 20 y
+ 30 z at the nodes) and "displacement" ((x^2, x y, -z)). Writes OUT.msh (mesh and views, format 4.1)
and OUT.npz with Gmsh's own arrays: the node coordinates and the values given to each view."""
import sys

import gmsh
import numpy as np


out = sys.argv[1]
gmsh.initialize(["gmsh", "-v", "0"])
try:
    gmsh.model.add("box")
    gmsh.model.occ.addBox(0, 0, 0, 2, 1, 0.5)
    gmsh.model.occ.synchronize()
    base = [tag for dim, tag in gmsh.model.getEntities(2) if abs(gmsh.model.occ.getCenterOfMass(dim, tag)[2]) < 1e-12]
    for dim, entities, tag, name in ((3, [1], 1, "BODY"), (2, base, 2, "BASE")):
        gmsh.model.setPhysicalName(dim, gmsh.model.addPhysicalGroup(dim, entities, tag), name)
    gmsh.option.setNumber("Mesh.MeshSizeMax", 0.25)
    gmsh.model.mesh.generate(3)
    tags, xyz, _ = gmsh.model.mesh.getNodes()
    xyz = xyz.reshape(-1, 3)
    temperature = 100 + 10 * xyz[:, 0] + 20 * xyz[:, 1] + 30 * xyz[:, 2]
    displacement = np.stack([xyz[:, 0] ** 2, xyz[:, 0] * xyz[:, 1], -xyz[:, 2]], axis=1)
    gmsh.option.setNumber("Mesh.MshFileVersion", 4.1)
    gmsh.write(out)
    for name, values in (("temperature", temperature[:, None]), ("displacement", displacement)):
        view = gmsh.view.add(name)
        gmsh.view.addModelData(view, 0, "box", "NodeData", tags, values.tolist())
        gmsh.view.write(view, out, append=True)
    np.savez(out[:-4] + ".npz", tags=tags, xyz=xyz, temperature=temperature, displacement=displacement)
finally:
    gmsh.finalize()
