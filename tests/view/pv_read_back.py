"""Run by pvbatch (pvbatch pv_read_back.py OUT.xdmf): reads an XDMF export with ParaView's own reader and prints
as one JSON object the times, cell types, and per time step the points and cells, each array's range and the
cells whose node order VTK reads otherwise than meant."""
import json, sys  # noqa: E401

from paraview import servermanager as sm, simple
from vtkmodules.numpy_interface import dataset_adapter as dsa
import numpy as np

reader = simple.Xdmf3ReaderS(FileName=[sys.argv[1]])
reader.UpdatePipelineInformation()
steps = reader.TimestepValues  # a float when there is one time step
times = [steps] if isinstance(steps, float) else list(steps) or [0.0]


def misread(cell, points):
    """An edge whose middle node is not in its middle (quadratic cells, a quadratic line being its own edge, middle
    node last; the test meshes are straight), a face whose normal points inwards (3-D cells)."""
    p = lambda i: np.array(points.GetPoint(i))  # noqa: E731
    centre = np.mean([p(cell.GetPointId(i)) for i in range(cell.GetNumberOfPoints())], axis=0)
    edges = [cell] if cell.GetCellDimension() == 1 else [cell.GetEdge(e) for e in range(cell.GetNumberOfEdges())]
    faces = [cell.GetFace(f) for f in range(cell.GetNumberOfFaces())] if cell.GetCellDimension() == 3 else []
    return any(np.linalg.norm((a + b) / 2 - m) > 1e-9 * (1 + np.linalg.norm(a - b))
               for a, b, m in ([p(e.GetPointId(i)) for i in range(3)] for e in edges if e.GetNumberOfPoints() == 3)) \
        or any(np.dot(np.cross(c[1] - c[0], c[2] - c[0]), np.mean(c, axis=0) - centre) <= 0
               for c in ([p(face.GetPointId(i)) for i in range(3)] for face in faces))


report = {"times": [float(t) for t in times], "frames": [], "points": [], "cells": []}
for t in times:
    reader.UpdatePipeline(t)
    data = dsa.WrapDataObject(sm.Fetch(reader))
    if data.GetNumberOfCells() == 0 and hasattr(data, "GetNumberOfBlocks"):
        raise SystemExit("not a single grid")
    cells, vtk_data = range(data.GetNumberOfCells()), data.VTKObject
    report["points"].append(int(data.GetNumberOfPoints()))
    report["cells"].append(len(cells))
    report["cell_types"] = sorted({int(data.GetCellType(i)) for i in cells})
    labels = np.asarray(data.CellData["element_label"]) if "element_label" in data.CellData.keys() else cells
    report["misread"] = [int(labels[i]) for i in cells if misread(vtk_data.GetCell(i), vtk_data.GetPoints())]
    arrays = {f"{centre}:{name}": np.asarray(group[name], dtype=np.float64).reshape(len(group[name]), -1)
              for centre, group in (("Node", data.PointData), ("Cell", data.CellData)) for name in group.keys()}
    arrays = {name: a[np.isfinite(a).all(axis=1)] for name, a in arrays.items()}   # rows without NaN
    report["frames"].append({name: {"min": a.min(axis=0).tolist(), "max": a.max(axis=0).tolist()} if len(a)
                             else {"min": [], "max": []} for name, a in arrays.items()})
print("READBACK " + json.dumps(report))
