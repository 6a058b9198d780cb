// The writing side of harvestodb._odb: Writer over odbw::Writer, taking
// numpy arrays without a copy, and mass_properties over the element mass
// integration. No globals.
#include <pybind11/stl.h>

#include <cstdio>
#include <map>
#include <optional>
#include <span>
#include <tuple>
#include <unordered_map>

#include "common.h"
#include <harvestodb/odb_mass.h>
#include <harvestodb/odb_writer.h>
#include <harvestodb/vocabulary.h>

namespace harvest_py {
namespace {

// The place an argument is checked, for ValueError messages in the
// library's form: "<file>: <object path>: <what was found>, <what was expected>".
struct At {
  const std::string& file;
  std::string path;
};

[[noreturn]] void fail(const At& at, const std::string& what) {
  throw py::value_error(at.file + ": " + at.path + ": " + what);
}

std::string shapeText(const py::array& a) {
  py::tuple t(static_cast<std::size_t>(a.ndim()));
  for (py::ssize_t i = 0; i < a.ndim(); ++i) t[static_cast<std::size_t>(i)] = a.shape(i);
  return py::repr(t).cast<std::string>();
}

// An argument as an array of T: a numpy array is taken as it is, when its
// dtype is T and it is C-contiguous (else ValueError); anything else (a list)
// is converted. The span views the array, which the caller keeps.
template <class T>
struct Values {
  py::array array;
  std::span<const T> span() const { return {static_cast<const T*>(array.data()), static_cast<std::size_t>(array.size())}; }
};

template <class T>
Values<T> valuesOf(py::handle obj, const At& at, const std::string& name) {
  if (!py::isinstance<py::array>(obj)) {
    auto converted = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(obj);
    if (!converted)
      fail(at, name + " is " + py::repr(py::type::of(obj)).cast<std::string>() + ", expected an array of " +
                   py::str(py::dtype::of<T>()).cast<std::string>());
    return {converted};
  }
  const auto a = py::reinterpret_borrow<py::array>(obj);
  if (!py::isinstance<py::array_t<T>>(a))
    fail(at, name + " has dtype " + py::str(a.dtype()).cast<std::string>() + ", expected " +
                 py::str(py::dtype::of<T>()).cast<std::string>());
  if (!(a.flags() & py::array::c_style)) fail(at, name + " is not C-contiguous");
  return {a};
}

// A one-dimensional array of labels (None: no labels).
Values<int> labelsOf(py::handle obj, const At& at, const std::string& name) {
  if (obj.is_none()) return {py::array_t<int>(0)};
  Values<int> v = valuesOf<int>(obj, at, name);
  if (v.array.ndim() != 1) fail(at, name + " has shape " + shapeText(v.array) + ", expected (n,)");
  return v;
}

std::vector<int> labelVector(py::handle obj, const At& at, const std::string& name) {
  const auto s = labelsOf(obj, at, name).span();
  return {s.begin(), s.end()};
}

// Exactly n float64 numbers (mass centre, inertia), or nothing for None.
std::optional<std::vector<double>> numbersOf(py::handle obj, const At& at, const std::string& name, std::size_t n) {
  if (obj.is_none()) return std::nullopt;
  const auto s = valuesOf<double>(obj, at, name).span();
  if (s.size() != n)
    fail(at, name + " has " + std::to_string(s.size()) + " values, expected " + std::to_string(n));
  return std::vector<double>(s.begin(), s.end());
}

odbw::SetKind setKind(const std::string& type, const At& at) {
  if (type == "NODE_SET") return odbw::SetKind::Node;
  if (type == "ELEMENT_SET") return odbw::SetKind::Element;
  fail(at, "set type '" + type + "', expected NODE_SET or ELEMENT_SET");
}

odb_Enum::odb_DataTypeEnum dataType(py::handle type, const At& at) {
  if (py::isinstance<py::int_>(type)) return static_cast<odb_Enum::odb_DataTypeEnum>(type.cast<int>());
  const auto name = type.cast<std::string>();
  for (const int code : {2, 3, 5, 6, 7, 8, 9})
    if (odb_vocab::typeName(code) == name) return static_cast<odb_Enum::odb_DataTypeEnum>(code);
  fail(at, "type '" + name + "' is not a data type");
}

std::vector<odb_Enum::odb_InvariantEnum> invariants(const std::vector<std::string>& names, const At& at) {
  std::vector<odb_Enum::odb_InvariantEnum> out;
  for (const std::string& name : names) {
    std::size_t code = 1;
    while (code < kInvariantNames.size() && kInvariantNames[code] != name) ++code;
    if (code == kInvariantNames.size()) fail(at, "invariant '" + name + "' is not an invariant");
    out.push_back(static_cast<odb_Enum::odb_InvariantEnum>(code));
  }
  return out;
}

template <class T>
std::optional<T> optionalOf(py::handle obj) {
  if (obj.is_none()) return std::nullopt;
  return obj.cast<T>();
}

std::string stepPath(const std::string& step) { return "/steps/" + step; }
std::string framePath(const std::string& step, int frame) { return stepPath(step) + "/frames/" + std::to_string(frame); }

class Writer {
 public:
  Writer(const std::string& path, const odbw::Options& options)
      : path_(path), w_(std::make_unique<odbw::Writer>(path, options)) {}

  const std::string& path() const { return path_; }
  bool closed() const { return !w_ || closed_; }
  odbw::Writer& w() {
    if (!w_) throw odb_Exception(path_ + ": /: the file is closed");
    return *w_;
  }

  void close() {
    try {
      w().close();
      closed_ = true;
    } catch (...) {
      discard();
      throw;
    }
  }
  // Closes without a word and removes the file: what an exception inside a
  // with block leaves.
  void discard() {
    w_.reset();
    std::remove(path_.c_str());
  }

  void setInstanceNodes(const std::string& instance, py::handle labels, py::handle coordinates) {
    const At at{path_, "/assembly/instances/" + instance + "/nodes"};
    const auto l = labelsOf(labels, at, "labels");
    if (coordinates.is_none()) return w().setInstanceNodes(instance, l.span());
    const auto c = valuesOf<double>(coordinates, at, "coordinates");
    if (c.array.ndim() != 2 || c.array.shape(1) != 3 || c.array.shape(0) != l.array.shape(0))
      fail(at, "coordinates has shape " + shapeText(c.array) + ", expected (" + std::to_string(l.array.shape(0)) +
                   ", 3)");
    w().setInstanceNodes(instance, l.span(), c.span());
  }

  // connectivity: flat with offsets, or (elements, nodes) without.
  void setInstanceElements(const std::string& instance, py::handle labels, py::handle connectivity, py::handle offsets) {
    const At at{path_, "/assembly/instances/" + instance + "/elements"};
    const auto l = labelsOf(labels, at, "labels");
    const auto c = valuesOf<int>(connectivity, at, "connectivity");
    const auto n = static_cast<std::size_t>(l.array.shape(0));
    std::vector<std::int64_t> made;
    Values<std::int64_t> o;
    if (offsets.is_none()) {
      if (c.array.ndim() != 2 || static_cast<std::size_t>(c.array.shape(0)) != n)
        fail(at, "connectivity has shape " + shapeText(c.array) + ", expected (" + std::to_string(n) +
                     ", k) when no offsets are given");
      for (std::size_t i = 0; i <= n; ++i) made.push_back(static_cast<std::int64_t>(i) * c.array.shape(1));
    } else {
      o = valuesOf<std::int64_t>(offsets, at, "offsets");
      if (o.array.ndim() != 1 || static_cast<std::size_t>(o.array.shape(0)) != n + 1)
        fail(at, "offsets has shape " + shapeText(o.array) + ", expected (" + std::to_string(n + 1) + ",)");
      if (c.array.ndim() != 1) fail(at, "connectivity has shape " + shapeText(c.array) + ", expected (n,)");
    }
    w().setInstanceElements(instance, l.span(), made.empty() ? o.span() : std::span<const std::int64_t>(made),
                            c.span());
  }

  void addField(const std::string& step, int frame, const std::string& field, const odbw::FieldInfo& info) {
    w().addFieldOutput(step, frame, field, info);
    const auto key = std::make_tuple(step, frame, field);
    widths_[key] = std::max<std::size_t>(1, info.componentLabels.size());
    blocks_[key] = 0;
  }

  int addBlock(const std::string& step, int frame, const std::string& field, py::handle data, odbw::BlockInfo info,
               py::handle nodeLabels, py::handle elementLabels, py::handle integrationPoints) {
    const auto key = std::make_tuple(step, frame, field);
    const auto known = widths_.find(key);
    if (known == widths_.end())  // the library names the missing field output
      return w().addBlock(step, frame, field, info, std::span<const float>(), 1);
    const std::size_t width = known->second;
    const At at{path_, framePath(step, frame) + "/fieldOutputs/" + field + "/blocks/" + std::to_string(blocks_[key])};
    info.nodeLabels = labelVector(nodeLabels, at, "nodeLabels");
    info.elementLabels = labelVector(elementLabels, at, "elementLabels");
    info.integrationPoints = labelVector(integrationPoints, at, "integrationPoints");
    const bool single = py::isinstance<py::array>(data) && py::isinstance<py::array_t<float>>(data);
    const int index = single ? addRows<float>(step, frame, field, data, info, at, width)
                             : addRows<double>(step, frame, field, data, info, at, width);
    ++blocks_[key];
    return index;
  }

  void addHistoryOutput(const std::string& step, const std::string& region, const std::string& output,
                        py::handle data, const odbw::HistoryOutputInfo& info) {
    const At at{path_, stepPath(step) + "/historyRegions/" + region + "/historyOutputs/" + output};
    if (py::isinstance<py::array>(data) && py::isinstance<py::array_t<float>>(data))
      return addHistoryRows<float>(step, region, output, data, info, at);
    addHistoryRows<double>(step, region, output, data, info, at);
  }

 private:
  template <class T>
  int addRows(const std::string& step, int frame, const std::string& field, py::handle data, odbw::BlockInfo& info,
              const At& at, std::size_t width) {
    if (py::isinstance<py::array>(data) && !py::isinstance<py::array_t<double>>(data) &&
        !py::isinstance<py::array_t<float>>(data))
      fail(at, "data has dtype " + py::str(py::reinterpret_borrow<py::array>(data).dtype()).cast<std::string>() +
                   ", expected float32 or float64");
    const auto v = valuesOf<T>(data, at, "data");
    const bool flat = v.array.ndim() == 1 && width == 1;
    if (!flat && (v.array.ndim() != 2 || static_cast<std::size_t>(v.array.shape(1)) != width))
      fail(at, "data has shape " + shapeText(v.array) + ", expected " +
                   (width == 1 ? std::string("(n,) or (n, 1)") : "(n, " + std::to_string(width) + ")"));
    info.oneDimensional = flat;
    return w().addBlock(step, frame, field, info, v.span(), static_cast<int>(width));
  }

  template <class T>
  void addHistoryRows(const std::string& step, const std::string& region, const std::string& output, py::handle data,
                      const odbw::HistoryOutputInfo& info, const At& at) {
    const auto v = valuesOf<T>(data, at, "data");
    if (v.array.ndim() != 2) fail(at, "data has shape " + shapeText(v.array) + ", expected (n, 2)");
    w().addHistoryOutput(step, region, output, info, v.span(), static_cast<int>(v.array.shape(1)));
  }

  std::string path_;
  std::unique_ptr<odbw::Writer> w_;
  bool closed_ = false;
  // Per field output (step, frame, name): the row width and the blocks written.
  std::map<std::tuple<std::string, int, std::string>, std::size_t> widths_, blocks_;
};

// The solid shapes by element type name: the solver's and the library's own.
std::optional<odbw::Solid> solidOf(const std::string& t) {
  static const std::unordered_map<std::string, odbw::Solid> names = {
      {"C3D4", odbw::Solid::Tet4},     {"C3D10", odbw::Solid::Tet10},   {"C3D10T", odbw::Solid::Tet10},
      {"C3D6", odbw::Solid::Wedge6},   {"C3D15", odbw::Solid::Wedge15}, {"C3D8", odbw::Solid::Hex8},
      {"C3D8R", odbw::Solid::Hex8},    {"C3D8I", odbw::Solid::Hex8},    {"C3D20", odbw::Solid::Hex20},
      {"C3D20R", odbw::Solid::Hex20},  {"TET4", odbw::Solid::Tet4},     {"TET10", odbw::Solid::Tet10},
      {"WEDGE6", odbw::Solid::Wedge6}, {"WEDGE15", odbw::Solid::Wedge15}, {"HEX8", odbw::Solid::Hex8},
      {"HEX20", odbw::Solid::Hex20}};
  const auto it = names.find(t);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

// mass_properties: see the docstring below.
py::object massProperties(py::handle shapes, py::handle coordinates, py::handle connectivity, py::handle offsets,
                          py::handle density, py::handle nodeLabels) {
  const std::string file = "mass_properties";
  const At at{file, "/"};
  const auto xyz = valuesOf<double>(coordinates, at, "coordinates");
  if (xyz.array.ndim() != 2 || xyz.array.shape(1) != 3)
    fail(at, "coordinates has shape " + shapeText(xyz.array) + ", expected (n, 3)");
  const auto nodes = static_cast<std::size_t>(xyz.array.shape(0));
  const auto conn = valuesOf<int>(connectivity, at, "connectivity");
  std::vector<std::int64_t> starts;
  if (offsets.is_none()) {
    if (conn.array.ndim() != 2) fail(at, "connectivity has shape " + shapeText(conn.array) + ", expected (m, k)");
    for (py::ssize_t e = 0; e <= conn.array.shape(0); ++e) starts.push_back(e * conn.array.shape(1));
  } else {
    const auto o = valuesOf<std::int64_t>(offsets, at, "offsets").span();
    starts.assign(o.begin(), o.end());
    if (starts.empty() || starts.front() != 0 || starts.back() != static_cast<std::int64_t>(conn.array.size()))
      fail(at, "offsets do not run from 0 to the length of connectivity");
  }
  const std::size_t elements = starts.size() - 1;
  std::vector<std::string> types;
  if (py::isinstance<py::str>(shapes)) types.assign(elements, shapes.cast<std::string>());
  else types = shapes.cast<std::vector<std::string>>();
  if (types.size() != elements)
    fail(at, "shapes has " + std::to_string(types.size()) + " entries, expected " + std::to_string(elements));
  std::vector<double> rho(elements, 0.0);
  if (py::isinstance<py::float_>(density) || py::isinstance<py::int_>(density)) {
    rho.assign(elements, density.cast<double>());
  } else {
    const auto d = valuesOf<double>(density, at, "density").span();
    if (d.size() != elements)
      fail(at, "density has " + std::to_string(d.size()) + " values, expected 1 or " + std::to_string(elements));
    rho.assign(d.begin(), d.end());
  }
  std::unordered_map<int, std::size_t> index;
  if (!nodeLabels.is_none()) {
    const auto l = labelsOf(nodeLabels, at, "node_labels").span();
    if (l.size() != nodes) fail(at, "node_labels has " + std::to_string(l.size()) + " entries, expected " + std::to_string(nodes));
    for (std::size_t i = 0; i < l.size(); ++i) index.emplace(l[i], i);
  }
  const auto c = conn.span();
  const double* p = static_cast<const double*>(xyz.array.data());
  odbw::MassAccumulator acc;
  std::vector<double> corner;
  for (std::size_t e = 0; e < elements; ++e) {
    const std::optional<odbw::Solid> shape = solidOf(types[e]);
    if (!shape) return py::none();  // an element without mass properties: the model has none
    const auto n = static_cast<std::size_t>(odbw::nodesOf(*shape));
    if (starts[e + 1] < starts[e] || static_cast<std::size_t>(starts[e + 1] - starts[e]) < n)
      fail(at, "element " + std::to_string(e) + " (" + types[e] + ") has " + std::to_string(starts[e + 1] - starts[e]) +
                   " nodes, expected " + std::to_string(n));
    corner.clear();
    for (std::size_t k = 0; k < n; ++k) {
      const int node = c[static_cast<std::size_t>(starts[e]) + k];
      std::size_t i = node < 0 ? nodes : static_cast<std::size_t>(node);
      if (!nodeLabels.is_none()) {
        const auto it = index.find(node);
        i = it == index.end() ? nodes : it->second;
      }
      if (i >= nodes) fail(at, "element " + std::to_string(e) + " has node " + std::to_string(node) + ", which is not a node");
      corner.insert(corner.end(), p + 3 * i, p + 3 * i + 3);
    }
    acc.add(*shape, corner.data(), rho[e]);
  }
  const odbw::MassProperties r = acc.result();
  if (!r.valid) return py::none();
  py::dict out;
  out["mass"] = r.mass;
  out["mass_center"] = copyOf(std::vector<double>(r.center.begin(), r.center.end()));
  out["inertia_about_center"] = copyOf(std::vector<double>(r.inertiaCenter.begin(), r.inertiaCenter.end()));
  out["inertia_about_origin"] = copyOf(std::vector<double>(r.inertiaOrigin.begin(), r.inertiaOrigin.end()));
  return out;
}

}  // namespace

static void bindWriterModel(py::class_<Writer>& c) {
  c.def("set_description", [](Writer& w, const std::string& text) { w.w().setDescription(text); }, py::arg("text"))
      .def("set_assembly_name", [](Writer& w, const std::string& name) { w.w().setAssemblyName(name); },
           py::arg("name"))
      .def("add_part", [](Writer& w, const std::string& part) { w.w().addPart(part); }, py::arg("name"))
      .def(
          "add_part_set",
          [](Writer& w, const std::string& part, const std::string& type, const std::string& name, py::handle labels,
             bool internal) {
            const At at{w.path(), "/parts/" + part};
            w.w().addPartSet(part, setKind(type, at), name, labelsOf(labels, at, name).span(), internal);
          },
          py::arg("part"), py::arg("type"), py::arg("name"), py::arg("labels"), py::arg("internal") = false)
      .def("add_instance", [](Writer& w, const std::string& name, const std::string& part) { w.w().addInstance(name, part); },
           py::arg("name"), py::arg("part") = "")
      .def("set_instance_nodes", &Writer::setInstanceNodes, py::arg("instance"), py::arg("labels"),
           py::arg("coordinates") = py::none())
      .def("set_instance_elements", &Writer::setInstanceElements, py::arg("instance"), py::arg("labels"),
           py::arg("connectivity"), py::arg("offsets") = py::none())
      .def(
          "add_instance_set",
          [](Writer& w, const std::string& instance, const std::string& type, const std::string& name,
             py::handle labels, bool internal) {
            const At at{w.path(), "/assembly/instances/" + instance};
            w.w().addInstanceSet(instance, setKind(type, at), name, labelsOf(labels, at, name).span(), internal);
          },
          py::arg("instance"), py::arg("type"), py::arg("name"), py::arg("labels"), py::arg("internal") = false)
      .def(
          "add_assembly_set",
          [](Writer& w, const std::string& type, const std::string& name, const py::dict& members, bool internal) {
            const At at{w.path(), "/assembly"};
            const std::string folder = type == "NODE_SET" ? "/assembly/nodeSets/" : "/assembly/elementSets/";
            std::vector<std::pair<std::string, std::vector<int>>> perInstance;
            for (const auto& [instance, labels] : members) {
              const auto key = instance.cast<std::string>();
              perInstance.emplace_back(key, labelVector(labels, At{w.path(), folder + name}, key));
            }
            w.w().addAssemblySet(setKind(type, at), name, perInstance, internal);
          },
          py::arg("type"), py::arg("name"), py::arg("members"), py::arg("internal") = false);
}

static void bindWriterResults(py::class_<Writer>& c) {
  c.def(
       "add_step",
       [](Writer& w, const std::string& step, py::handle description, py::handle mass, py::handle center,
          py::handle aboutCenter, py::handle aboutOrigin) {
         const At at{w.path(), stepPath(step)};
         odbw::StepInfo info;
         info.description = optionalOf<std::string>(description);
         info.mass = optionalOf<double>(mass);
         info.massCenter = numbersOf(center, at, "massCenter", 3);
         info.inertiaAboutCenter = numbersOf(aboutCenter, at, "inertiaAboutCenter", 6);
         info.inertiaAboutOrigin = numbersOf(aboutOrigin, at, "inertiaAboutOrigin", 6);
         w.w().addStep(step, info);
       },
       py::arg("name"), py::arg("description") = py::none(), py::arg("mass") = py::none(),
       py::arg("mass_center") = py::none(), py::arg("inertia_about_center") = py::none(),
       py::arg("inertia_about_origin") = py::none())
      .def(
          "add_frame",
          [](Writer& w, const std::string& step, py::handle increment, py::handle description, py::handle value) {
            return w.w().addFrame(step, odbw::FrameInfo{optionalOf<int>(increment), optionalOf<std::string>(description),
                                                        optionalOf<double>(value)});
          },
          py::arg("step"), py::arg("increment_number") = py::none(), py::arg("description") = py::none(),
          py::arg("frame_value") = py::none(), "Adds a frame to the step and returns its index (0, 1, ...).")
      .def(
          "add_field_output",
          [](Writer& w, const std::string& step, int frame, const std::string& name, py::handle type,
             py::handle description, const std::vector<std::string>& labels, const std::vector<std::string>& valid,
             py::handle isComplex) {
            const At at{w.path(), framePath(step, frame) + "/fieldOutputs/" + name};
            odbw::FieldInfo info;
            info.description = optionalOf<std::string>(description);
            info.type = dataType(type, at);
            info.componentLabels = labels;
            info.validInvariants = invariants(valid, at);
            info.isComplex = optionalOf<int>(isComplex);
            w.addField(step, frame, name, info);
          },
          py::arg("step"), py::arg("frame"), py::arg("name"), py::arg("type") = "SCALAR",
          py::arg("description") = py::none(), py::arg("component_labels") = std::vector<std::string>(),
          py::arg("valid_invariants") = std::vector<std::string>(), py::arg("is_complex") = py::none())
      .def(
          "add_block",
          [](Writer& w, const std::string& step, int frame, const std::string& field, py::handle data,
             const std::string& position, py::handle instance, py::handle sectionPoint, py::handle nodeLabels,
             py::handle elementLabels, py::handle integrationPoints) {
            odbw::BlockInfo info;
            const auto p = odb_vocab::positionFromName(position);
            if (!p) fail(At{w.path(), framePath(step, frame) + "/fieldOutputs/" + field}, "position '" + position + "' is not a result position");
            info.position = *p;
            info.instance = optionalOf<std::string>(instance);
            info.sectionPoint = optionalOf<int>(sectionPoint);
            return w.addBlock(step, frame, field, data, info, nodeLabels, elementLabels, integrationPoints);
          },
          py::arg("step"), py::arg("frame"), py::arg("field"), py::arg("data"), py::arg("position") = "NODAL",
          py::arg("instance") = py::none(), py::arg("section_point") = py::none(), py::arg("node_labels") = py::none(),
          py::arg("element_labels") = py::none(), py::arg("integration_points") = py::none(),
          "Adds a block of rows (float32 or float64, n x width) and returns its index.")
      .def(
          "add_history_region",
          [](Writer& w, const std::string& step, const std::string& name, py::handle description, py::handle node,
             py::handle element, py::handle ip, py::handle sectionPoint, py::handle region, py::handle instance) {
            w.w().addHistoryRegion(step, name,
                                   odbw::HistoryRegionInfo{optionalOf<std::string>(description), optionalOf<int>(node),
                                                           optionalOf<int>(element), optionalOf<int>(ip),
                                                           optionalOf<int>(sectionPoint), optionalOf<std::string>(region),
                                                           optionalOf<std::string>(instance)});
          },
          py::arg("step"), py::arg("name"), py::arg("description") = py::none(), py::arg("node") = py::none(),
          py::arg("element") = py::none(), py::arg("ip_number") = py::none(), py::arg("section_point") = py::none(),
          py::arg("region") = py::none(), py::arg("instance") = py::none())
      .def(
          "add_history_output",
          [](Writer& w, const std::string& step, const std::string& region, const std::string& name, py::handle data,
             py::handle description, py::handle type) {
            w.addHistoryOutput(step, region, name, data,
                               odbw::HistoryOutputInfo{optionalOf<std::string>(description), optionalOf<int>(type)});
          },
          py::arg("step"), py::arg("region"), py::arg("name"), py::arg("data"), py::arg("description") = py::none(),
          py::arg("type") = py::none());
}

void bindWriter(py::module_& m) {
  py::class_<Writer> c(m, "Writer",
                       "Writes a database; a context manager whose exit closes the file, or removes it when the "
                       "block raised.");
  c.def(py::init([](const std::string& path, int formatVersion, bool chunked, bool checksum, bool trackOrder) {
          odbw::Options options;
          options.formatVersion = formatVersion;
          options.chunked = chunked;
          options.checksum = checksum;
          options.trackOrder = trackOrder;
          return std::make_unique<Writer>(path, options);
        }),
        py::arg("path"), py::kw_only(), py::arg("format_version") = 2, py::arg("chunked") = true,
        py::arg("checksum") = true, py::arg("track_order") = true)
      .def_property_readonly("path", &Writer::path)
      .def_property_readonly("closed", &Writer::closed)
      .def("close", &Writer::close, "Flushes and closes the file; a file that cannot be closed whole is removed.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Writer& w, py::handle type, py::handle, py::handle) {
        if (!type.is_none()) w.discard();
        else if (!w.closed()) w.close();
        return false;
      });
  bindWriterModel(c);
  bindWriterResults(c);

  m.def("mass_properties", &massProperties, py::arg("shapes"), py::arg("coordinates"), py::arg("connectivity"),
        py::arg("offsets") = py::none(), py::arg("density") = 1.0, py::arg("node_labels") = py::none(),
        R"(Integrates the mass properties of a solid mesh.

shapes: one element type per element (C3D4, C3D10, C3D6, C3D15, C3D8, C3D20
and their R/I/T variants, or TET4 TET10 WEDGE6 WEDGE15 HEX8 HEX20), or one
name for all. coordinates: (n, 3) float64. connectivity: int32, flat with
int64 offsets (m + 1), or (m, k) without. The entries are row numbers of
coordinates, or node labels when node_labels (n) is given. density: one
value or one per element. Returns a dict with mass, mass_center,
inertia_about_center and inertia_about_origin (I11 I22 I33 I12 I13 I23; the
keywords of Writer.add_step), or None when an element type has no mass
properties.)");
}

}  // namespace harvest_py
