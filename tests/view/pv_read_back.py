"""Run by pvbatch: reads an XDMF export with ParaView's own reader and prints, as one JSON
object, the points and cells of each time step, the cell types and times, each array's range per
time step, and the cells whose node order VTK reads otherwise than meant: a face whose normal
points inwards (3-D cells), an edge whose middle node is not in its middle (quadratic cells; the
test meshes are straight).
  pvbatch pv_read_back.py OUT.xdmf"""
import json
import sys

from paraview import servermanager as sm
from paraview import simple
from vtkmodules.numpy_interface import dataset_adapter as dsa
import numpy as np

reader = simple.Xdmf3ReaderS(FileName=[sys.argv[1]])
reader.UpdatePipelineInformation()
steps = reader.TimestepValues  # a float when there is one time step
times = [steps] if isinstance(steps, float) else list(steps) or [0.0]


def misread(cell, points):
    """True when the cell's faces or edges do not come out as they should."""
    p = lambda i: np.array(points.GetPoint(i))  # noqa: E731
    centre = np.mean([p(cell.GetPointId(i)) for i in range(cell.GetNumberOfPoints())], axis=0)
    # a quadratic line is its own edge, middle node last
    edges = [cell] if cell.GetCellDimension() == 1 else [cell.GetEdge(e) for e in range(cell.GetNumberOfEdges())]
    for edge in (e for e in edges if e.GetNumberOfPoints() == 3):
        a, b, m = (p(edge.GetPointId(i)) for i in range(3))
        if np.linalg.norm((a + b) / 2 - m) > 1e-9 * (1 + np.linalg.norm(a - b)):
            return True
    if cell.GetCellDimension() == 3:
        for f in range(cell.GetNumberOfFaces()):
            face = cell.GetFace(f)
            corners = [p(face.GetPointId(i)) for i in range(3)]
            normal = np.cross(corners[1] - corners[0], corners[2] - corners[0])
            if np.dot(normal, np.mean(corners, axis=0) - centre) <= 0:
                return True
    return False


report = {"times": [float(t) for t in times], "frames": [], "points": [], "cells": []}
for t in times:
    reader.UpdatePipeline(t)
    data = dsa.WrapDataObject(sm.Fetch(reader))
    if data.GetNumberOfCells() == 0 and hasattr(data, "GetNumberOfBlocks"):
        raise SystemExit("not a single grid")
    report["points"].append(int(data.GetNumberOfPoints()))   # per time step
    report["cells"].append(int(data.GetNumberOfCells()))
    report["cell_types"] = sorted({int(data.GetCellType(i)) for i in range(data.GetNumberOfCells())})
    vtk_data = data.VTKObject
    labels = np.asarray(data.CellData["element_label"]) if "element_label" in data.CellData.keys() else None
    report["misread"] = [int(labels[i]) if labels is not None else i for i in range(data.GetNumberOfCells())
                         if misread(vtk_data.GetCell(i), vtk_data.GetPoints())]
    arrays = {}
    for centre, group in (("Node", data.PointData), ("Cell", data.CellData)):
        for name in group.keys():
            a = np.asarray(group[name], dtype=np.float64)
            finite = a[np.isfinite(a).all(axis=1)] if a.ndim == 2 else a[np.isfinite(a)]
            cols = finite.reshape(len(finite), -1)
            arrays[f"{centre}:{name}"] = {"min": cols.min(axis=0).tolist() if len(cols) else [],
                                          "max": cols.max(axis=0).tolist() if len(cols) else []}
    report["frames"].append(arrays)
print("READBACK " + json.dumps(report))
