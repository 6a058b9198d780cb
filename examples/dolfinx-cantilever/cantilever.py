#!/usr/bin/python3
"""A steel cantilever solved by dolfinx (FEniCSx 0.5): 3D linear elasticity, clamped at x = 0, a shear
traction on the end face x = L, two or more load levels.

usage: cantilever.py OUTDIR [LEVELS]

Writes into OUTDIR:
  cantilever.xdmf/.h5   mesh, cell tags (1 root half, 2 tip half), facet tags (1 clamp, 2 tip) and, per
                        load level t = 1, 2, ..., the displacement "u" (nodal, P1) and the stress "sigma"
                        (3x3 per cell) as one XDMF time series;
  cantilever.pvd/.vtu   the displacement as a ParaView series (dolfinx's VTK writer);
  arrays.npz            the solver's own arrays: points, cells (geometry nodes), cell marks, u[t] at the
                        nodes, sigma[t] per cell (3x3), times, and the
                        beam's dimensions, load and material, for checks that need not read the files.
"""
import os
import sys

import numpy as np
import ufl
from dolfinx import fem, io, mesh
from dolfinx.fem.petsc import LinearProblem
from mpi4py import MPI

LENGTH, WIDTH, HEIGHT = 1.0, 0.1, 0.1          # m
YOUNG, POISSON = 210e9, 0.3                    # Pa
FORCE = 1000.0                                 # N at the tip per load level, downwards (-z)
DIVISIONS = (24, 3, 6)


def solve(outdir, levels=2):
    comm = MPI.COMM_SELF
    domain = mesh.create_box(comm, [np.zeros(3), np.array([LENGTH, WIDTH, HEIGHT])], list(DIVISIONS),
                             cell_type=mesh.CellType.tetrahedron)
    tdim = domain.topology.dim
    domain.topology.create_connectivity(tdim - 1, tdim)
    clamp = mesh.locate_entities_boundary(domain, tdim - 1, lambda x: np.isclose(x[0], 0.0))
    tip = mesh.locate_entities_boundary(domain, tdim - 1, lambda x: np.isclose(x[0], LENGTH))
    facets = np.concatenate([clamp, tip])
    order = np.argsort(facets)
    facet_tags = mesh.meshtags(domain, tdim - 1, facets[order],
                               np.concatenate([np.full(len(clamp), 1), np.full(len(tip), 2)]).astype(np.int32)[order])
    facet_tags.name = "facet_tags"
    ncells = domain.topology.index_map(tdim).size_local
    root = mesh.locate_entities(domain, tdim, lambda x: x[0] <= LENGTH / 2 + 1e-12)
    marks = np.full(ncells, 2, dtype=np.int32)
    marks[root] = 1
    cell_tags = mesh.meshtags(domain, tdim, np.arange(ncells, dtype=np.int32), marks)
    cell_tags.name = "cell_tags"

    mu = YOUNG / (2 * (1 + POISSON))
    lam = YOUNG * POISSON / ((1 + POISSON) * (1 - 2 * POISSON))

    def sigma(w):
        e = ufl.sym(ufl.grad(w))
        return 2 * mu * e + lam * ufl.tr(e) * ufl.Identity(3)

    V2 = fem.VectorFunctionSpace(domain, ("CG", 2))
    u, v = ufl.TrialFunction(V2), ufl.TestFunction(V2)
    bc = fem.dirichletbc(np.zeros(3, dtype=np.float64), fem.locate_dofs_topological(V2, tdim - 1, clamp), V2)
    traction = fem.Constant(domain, np.zeros(3))
    ds = ufl.Measure("ds", domain=domain, subdomain_data=facet_tags)
    a = ufl.inner(sigma(u), ufl.sym(ufl.grad(v))) * ufl.dx
    rhs = ufl.dot(traction, v) * ds(2)
    problem = LinearProblem(a, rhs, bcs=[bc], petsc_options={"ksp_type": "preonly", "pc_type": "lu"})

    V1 = fem.VectorFunctionSpace(domain, ("CG", 1))
    T0 = fem.TensorFunctionSpace(domain, ("DG", 0))
    u1 = fem.Function(V1, name="u")
    s0 = fem.Function(T0, name="sigma")
    os.makedirs(outdir, exist_ok=True)
    saved = {"u": [], "sigma": [], "times": []}
    geometry = domain.geometry.dofmap.array.reshape(-1, 4)
    dofs = V1.dofmap.list.array.reshape(-1, 4)

    def at_nodes(values):
        """Values of the P1 degrees of freedom at the mesh's geometry nodes (the order the files use)."""
        out = np.empty((len(domain.geometry.x), 3))
        out[geometry.reshape(-1)] = values[dofs.reshape(-1)]
        return out

    with io.XDMFFile(comm, os.path.join(outdir, "cantilever.xdmf"), "w") as xdmf, \
            io.VTKFile(comm, os.path.join(outdir, "cantilever.pvd"), "w") as vtk:
        xdmf.write_mesh(domain)
        xdmf.write_meshtags(cell_tags)
        xdmf.write_meshtags(facet_tags)
        for level in range(1, levels + 1):
            traction.value[:] = (0.0, 0.0, -level * FORCE / (WIDTH * HEIGHT))
            uh = problem.solve()
            u1.interpolate(uh)
            s0.interpolate(fem.Expression(sigma(uh), T0.element.interpolation_points()))
            xdmf.write_function(u1, float(level))
            xdmf.write_function(s0, float(level))
            vtk.write_function(u1, float(level))
            saved["u"].append(at_nodes(u1.x.array.reshape(-1, 3)))
            saved["sigma"].append(s0.x.array.reshape(-1, 9)[T0.dofmap.list.array])
            saved["times"].append(float(level))
    np.savez(os.path.join(outdir, "arrays.npz"), points=domain.geometry.x, cells=geometry, cell_marks=marks,
             u=np.array(saved["u"]), sigma=np.array(saved["sigma"]), times=np.array(saved["times"]),
             beam=np.array([LENGTH, WIDTH, HEIGHT, YOUNG, POISSON, FORCE]))


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        sys.exit(2)
    solve(sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 2)
