"""The cantilever's arrays written as MED and Exodus II, with the formats' own libraries (libmed's Python
binding, netCDF4) and Exodus II with meshio too, and the report lines each file must give. No solver in
Debian writes these formats, so the arrays of the dolfinx run stand in for Code_Aster's and MOOSE's."""
import os
import numpy as np
import report_model

TENSOR6 = ("xx", "yy", "zz", "xy", "yz", "xz")


def sym6(sigma):
    s = sigma.reshape(-1, 3, 3)
    return ((s + s.transpose(0, 2, 1)) / 2).reshape(-1, 9)[:, [0, 4, 8, 1, 5, 2]]   # xx yy zz xy yz xz


def regions(a):
    """Clamped and tip nodes, the cells of marks 1 and 2, the cells with a face on the tip, and the
    position of each cell when the cells are numbered block by block (as Exodus II numbers them)."""
    clamp, tip = (np.nonzero(np.isclose(a["points"][:, 0], x))[0] for x in (0.0, a["beam"][0]))   # x = 0 and x = length
    blocks = [np.nonzero(a["cell_marks"] == t)[0] for t in (1, 2)]
    tip_cells = np.nonzero(np.isin(a["cells"], tip).sum(axis=1) == 3)[0]
    position = np.empty(len(a["cells"]), dtype=np.int64)
    position[np.concatenate(blocks)] = np.arange(len(a["cells"]))
    return clamp, tip, blocks, tip_cells, position


def frames(a, order=slice(None)):
    """Every load level's U and S (our component order 11 22 33 12 13 23, cells in the given order)."""
    return [(i, [("U", "vector", "NODAL", a["u"][i]),
                 ("S", "tensor", "CENTROID", sym6(a["sigma"][i])[order][:, [0, 1, 2, 3, 5, 4]])])
            for i in range(len(a["times"]))]


# ---- Exodus II with netCDF4: two element blocks, node sets, a side set, every load level ---------

def exodus_netcdf(folder, a):
    import netCDF4
    path = os.path.join(folder, "cantilever.e")
    clamp, tip, blocks, tip_cells, position = regions(a)
    order = np.concatenate(blocks)
    with netCDF4.Dataset(path, "w", format="NETCDF3_64BIT_OFFSET") as nc:
        nc.api_version, nc.version, nc.floating_point_word_size, nc.file_size = 5.1, 5.1, 8, 1
        for name, size in (("len_string", 33), ("len_name", 33), ("four", 4), ("time_step", None), ("num_dim", 3),
                           ("num_nodes", len(a["points"])), ("num_elem", len(order)), ("num_el_blk", 2),
                           ("num_node_sets", 2), ("num_side_sets", 1), ("num_nod_var", 3), ("num_elem_var", 6),
                           ("num_nod_ns1", len(clamp)), ("num_nod_ns2", len(tip)), ("num_side_ss1", len(tip_cells))):
            nc.createDimension(name, size)

        def text(var, dims, values):
            v = nc.createVariable(var, "S1", dims)
            v[:] = netCDF4.stringtochar(np.array([s.ljust(33, "\0") for s in values], dtype="S33"))

        for axis, name in enumerate(("coordx", "coordy", "coordz")):
            nc.createVariable(name, "f8", ("num_nodes",))[:] = a["points"][:, axis]
        for b, cells in enumerate(blocks):
            nc.createDimension("num_el_in_blk%d" % (b + 1), len(cells))
            nc.createDimension("num_nod_per_el%d" % (b + 1), 4)
            v = nc.createVariable("connect%d" % (b + 1), "i4", ("num_el_in_blk%d" % (b + 1), "num_nod_per_el%d" % (b + 1)))
            v.elem_type = "TETRA4"
            v[:] = a["cells"][cells] + 1
        nc.createVariable("eb_prop1", "i4", ("num_el_blk",))[:] = [1, 2]
        text("eb_names", ("num_el_blk", "len_name"), ["root", "tip"])
        nc.createVariable("node_ns1", "i4", ("num_nod_ns1",))[:] = clamp + 1
        nc.createVariable("node_ns2", "i4", ("num_nod_ns2",))[:] = tip + 1
        text("ns_names", ("num_node_sets", "len_name"), ["clamp", "tip_nodes"])
        nc.createVariable("elem_ss1", "i4", ("num_side_ss1",))[:] = position[tip_cells] + 1
        nc.createVariable("side_ss1", "i4", ("num_side_ss1",))[:] = 1
        text("ss_names", ("num_side_sets", "len_name"), ["tip_faces"])
        text("name_nod_var", ("num_nod_var", "len_name"), ["disp_x", "disp_y", "disp_z"])
        text("name_elem_var", ("num_elem_var", "len_name"), ["stress_" + c for c in TENSOR6])
        nc.createVariable("time_whole", "f8", ("time_step",))[:] = a["times"]
        for i in range(3):
            nc.createVariable("vals_nod_var%d" % (i + 1), "f8", ("time_step", "num_nodes"))[:] = a["u"][:, :, i]
        for i in range(6):
            for b, cells in enumerate(blocks):
                v = nc.createVariable("vals_elem_var%deb%d" % (i + 1, b + 1), "f8", ("time_step", "num_el_in_blk%d" % (b + 1)))
                v[:] = np.array([sym6(s)[cells, i] for s in a["sigma"]])
    elements = {"root": position[blocks[0]], "tip": position[blocks[1]], "tip_faces": position[tip_cells]}
    return path, report_model.expected("Step_1", frames(a, order), {"clamp": clamp, "tip_nodes": tip}, elements,
                                       a["cells"][order])


# ---- meshio: Exodus II with node sets and the last level's nodal data, its own block names --------

def exodus_meshio(folder, a):
    import meshio
    path = os.path.join(folder, "meshio.exo")
    clamp, tip = regions(a)[:2]
    meshio.write(path, meshio.Mesh(a["points"], [("tetra", a["cells"])], point_data={"displacement": a["u"][-1]},
                                   point_sets={"clamp": clamp, "tip_nodes": tip}))
    return path, report_model.expected("Step_1", [(0, [("U", "vector", "NODAL", a["u"][-1])])], {"clamp": clamp, "tip_nodes": tip},
                                 {"BLOCK_1": np.arange(len(a["cells"]))}, a["cells"])


# ---- MED with libmed: families and groups, named stress components, every load level ------------

def med_libmed(folder, a):
    try:
        import med
    except ImportError:
        return None
    path = os.path.join(folder, "cantilever.med")
    mesh, n, m = "cantilever", len(a["points"]), len(a["cells"])
    fid = med.MEDfileOpen(path, med.MED_ACC_CREAT)
    med.MEDmeshCr(fid, mesh, 3, 3, med.MED_UNSTRUCTURED_MESH, "dolfinx cantilever", "s", med.MED_SORT_DTIT,
                  med.MED_CARTESIAN, "X".ljust(16) + "Y".ljust(16) + "Z".ljust(16), "m".ljust(48))
    med.MEDmeshNodeCoordinateWr(fid, mesh, med.MED_NO_DT, med.MED_NO_IT, 0.0, med.MED_FULL_INTERLACE, n,
                                med.MEDFLOAT(a["points"].reshape(-1).tolist()))
    med.MEDmeshElementConnectivityWr(fid, mesh, med.MED_NO_DT, med.MED_NO_IT, 0.0, med.MED_CELL, med.MED_TETRA4,
                                     med.MED_NODAL, med.MED_FULL_INTERLACE, m,
                                     med.MEDINT((a["cells"].reshape(-1) + 1).tolist()))
    for family, number, group in (("FAMILLE_ZERO", 0, ""), ("FAM_ROOT", -1, "ROOT"), ("FAM_TIP", -2, "TIP")):
        med.MEDfamilyCr(fid, mesh, family, number, int(bool(group)), med.MEDCHAR(group.ljust(80) if group else ""))
    med.MEDmeshEntityFamilyNumberWr(fid, mesh, med.MED_NO_DT, med.MED_NO_IT, med.MED_CELL, med.MED_TETRA4, m,
                                    med.MEDINT((-a["cell_marks"]).tolist()))
    med.MEDfieldCr(fid, "DEPL", med.MED_FLOAT64, 3, "DX".ljust(16) + "DY".ljust(16) + "DZ".ljust(16), " " * 48, "s", mesh)
    names = "".join(("SI" + c.upper()).ljust(16) for c in TENSOR6)
    med.MEDfieldCr(fid, "SIEF", med.MED_FLOAT64, 6, names, " " * 96, "s", mesh)
    for i, t in enumerate(a["times"]):
        med.MEDfieldValueWr(fid, "DEPL", i + 1, med.MED_NO_IT, float(t), med.MED_NODE, med.MED_NONE,
                            med.MED_FULL_INTERLACE, med.MED_ALL_CONSTITUENT, n, med.MEDFLOAT(a["u"][i].reshape(-1).tolist()))
        med.MEDfieldValueWr(fid, "SIEF", i + 1, med.MED_NO_IT, float(t), med.MED_CELL, med.MED_TETRA4,
                            med.MED_FULL_INTERLACE, med.MED_ALL_CONSTITUENT, m,
                            med.MEDFLOAT(sym6(a["sigma"][i]).reshape(-1).tolist()))
    med.MEDfileClose(fid)
    blocks = regions(a)[2]
    return path, report_model.expected("Step_1", frames(a), {}, {"ROOT": blocks[0], "TIP": blocks[1]}, a["cells"])


# name, writer(folder, arrays): (the file's path, the report lines it must give), or None when its library is missing
WRITERS = [("exodus-netcdf4", exodus_netcdf), ("exodus-meshio", exodus_meshio), ("med-libmed", med_libmed)]
