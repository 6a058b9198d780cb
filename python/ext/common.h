// What the parts of harvestodb._odb share: the holder of an open database,
// the read-only mapping the object tree is made of, numpy views of library
// memory and the checks of arrays handed in from Python.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <harvestodb/odb.h>

namespace harvest_py {

namespace py = pybind11;

// One open database. Every Python object taken from it holds a reference,
// so a step or a frame keeps the file open after the database object itself
// is dropped; close() releases the file for all of them at once.
struct Db {
  std::unique_ptr<odb_Odb> odb;
  bool internalSets = false;
};
using DbRef = std::shared_ptr<Db>;

// A block of a field output, as the module hands it out (reader.cpp); the
// export's helpers (export.cpp) read it too.
struct Block {
  DbRef db;
  odb_FieldBulkData block;
};

// An ordered, read-only mapping from names to Python objects, in the order
// of the file. Registered as a collections.abc.Mapping.
class Mapping {
 public:
  void add(const std::string& key, py::object value) {
    if (index_.emplace(key, items_.size()).second) items_.emplace_back(key, std::move(value));
  }
  std::size_t size() const { return items_.size(); }
  const py::object* find(const std::string& key) const {
    const auto it = index_.find(key);
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }
  const std::vector<std::pair<std::string, py::object>>& items() const { return items_; }

 private:
  std::vector<std::pair<std::string, py::object>> items_;
  std::unordered_map<std::string, std::size_t> index_;
};

// Makes a Mapping of every object of a library repository, each wrapped by make(value).
template <class T, class Make>
py::object mappingOf(const odb_Repository<T>& repository, Make make) {
  Mapping m;
  for (int i = 0; i < repository.size(); ++i) m.add(repository.keyAt(i).str(), make(repository.valueAt(i)));
  return py::cast(std::move(m));
}

// A read-only numpy array over count x width values at p, without a copy:
// the array's base object owns `owner`, which keeps the memory alive.
// width 0 makes a one-dimensional array.
template <class T, class Owner>
py::array viewOf(const T* p, std::size_t count, std::size_t width, Owner owner) {
  std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(count)};
  if (width > 0) shape.push_back(static_cast<py::ssize_t>(width));
  py::array out;
  if (p == nullptr || count == 0) {
    out = py::array(py::dtype::of<T>(), shape);  // nothing to view: a fresh empty array
  } else {
    auto* keep = new Owner(std::move(owner));
    const py::capsule base(keep, [](void* o) { delete static_cast<Owner*>(o); });
    out = py::array(py::dtype::of<T>(), shape, {}, p, base);
  }
  out.attr("setflags")(py::arg("write") = false);
  return out;
}

// A numpy array holding a copy of values (read-only like the views).
template <class T>
py::array copyOf(const std::vector<T>& values, std::size_t width = 0) {
  std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(width > 0 ? values.size() / width : values.size())};
  if (width > 0) shape.push_back(static_cast<py::ssize_t>(width));
  py::array out(py::dtype::of<T>(), shape, {}, values.data());
  out.attr("setflags")(py::arg("write") = false);
  return out;
}

// Invariant names, indexed by odb_Enum::odb_InvariantEnum (0 is no invariant).
inline constexpr std::array<std::string_view, 12> kInvariantNames = {
    "OTHER",  "MAX_PRINCIPAL", "MID_PRINCIPAL", "MIN_PRINCIPAL",         "MISES",
    "TRESCA", "PRESS",         "INV3",          "MAGNITUDE",             "MAX_INPLANE_PRINCIPAL",
    "MIN_INPLANE_PRINCIPAL",   "OUTOFPLANE_PRINCIPAL"};

// Binds the reading side (open and the object tree), the writing side
// (Writer, mass_properties) and the export's helpers into the module.
void bindReader(py::module_& m);
void bindWriter(py::module_& m);
void bindExport(py::module_& m);

}  // namespace harvest_py
