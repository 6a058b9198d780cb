// harvestodb._odb: the database library for Python. The reading side is in
// reader.cpp, the writing side in writer.cpp, odb2xdmf's helpers in
// export.cpp; this file makes the module and its exception. No globals.
#include "common.h"

PYBIND11_MODULE(_odb, m) {
  m.doc() = "The harvestodb database library: open() reads a database, Writer writes one.";
  // Library failures keep the library's message: str(error) is its text.
  pybind11::register_exception<odb_Exception>(m, "OdbError", PyExc_Exception);
  m.attr("__version__") = HARVEST_VERSION;
  harvest_py::bindReader(m);
  harvest_py::bindWriter(m);
  harvest_py::bindExport(m);
}
