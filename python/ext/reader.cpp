// The reading side of harvestodb._odb: open() and the object tree of a
// database (model, steps, frames, field outputs, blocks, history). Every
// object holds the database (DbRef) it came from; arrays hold only what
// owns their memory, so they outlive the database. No globals.
#include <pybind11/stl.h>

#include "common.h"
#include <harvestodb/vocabulary.h>

namespace harvest_py {
namespace {

struct Database {
  DbRef db;
};
struct Set {
  DbRef db;
  odb_Set set;
};
struct Part {
  DbRef db;
  odb_Part part;
};
struct Assembly {
  DbRef db;
  odb_Assembly assembly;
};
struct Instance {
  DbRef db;
  odb_Instance instance;
  // The mesh, read on first use: nodes together, elements together.
  py::object nodeLabels, coordinates, elementLabels, offsets, connectivity;
};
struct Step {
  DbRef db;
  odb_Step step;
};
struct Frame {
  DbRef db;
  odb_Frame frame;
};
struct Field {
  DbRef db;
  odb_FieldOutput field;
};
struct HistoryOutput {
  DbRef db;
  odb_HistoryOutput output;
};
struct HistoryRegion {
  DbRef db;
  odb_HistoryRegion region;
};

}  // namespace

static py::str text(const odb_String& s) { return py::str(s.str()); }

static py::tuple strings(const odb_SequenceString& s) {
  py::tuple out(static_cast<std::size_t>(s.size()));
  for (int i = 0; i < s.size(); ++i) out[static_cast<std::size_t>(i)] = text(s[i]);
  return out;
}

static py::object positionName(odb_Enum::odb_ResultPositionEnum p) {
  return py::str(std::string(odb_vocab::positionName(p)));
}

static py::object typeName(int type) { return py::str(std::string(odb_vocab::typeName(type))); }

// A label of the library's "none" (-1) becomes None.
static py::object label(int value) { return value == -1 ? py::object(py::none()) : py::object(py::int_(value)); }

// Three or six numbers of a step as a numpy array, None when absent.
static py::object numbersOrNone(const odb_SequenceDouble& s) {
  if (s.size() == 0) return py::none();
  return copyOf(std::vector<double>(s.begin(), s.end()));
}

static py::object setsOf(const DbRef& db, const odb_SetRepository& sets) {
  return mappingOf(sets, [&](const odb_Set& s) { return py::cast(Set{db, s}); });
}

// Reads the instance's nodes or elements when not read yet: numpy views of the library's
// arrays, no copy (coordinates are zeros when the file has none).
static void needNodes(Instance& i) {
  if (i.nodeLabels) return;
  const odb_NodeArrays a = i.instance.nodeArrays();
  const auto n = static_cast<std::size_t>(a.labels.size());
  if (a.coordinates.size() == 0 && n > 0) i.coordinates = copyOf(std::vector<double>(3 * n, 0.0), 3);
  else i.coordinates = viewOf(a.coordinates.data(), n, 3, a.coordinates);
  i.nodeLabels = viewOf(a.labels.data(), n, 0, a.labels);
}

static void needElements(Instance& i) {
  if (i.elementLabels) return;
  const odb_ElementArrays a = i.instance.elementArrays();
  const auto n = static_cast<std::size_t>(a.labels.size());
  if (a.offsets.size() == 0) {  // no connectivity: every element without nodes
    i.offsets = copyOf(std::vector<std::int64_t>(n + 1, 0));
  } else {
    i.offsets = viewOf(a.offsets.data(), static_cast<std::size_t>(a.offsets.size()), 0, a.offsets);
  }
  i.connectivity = viewOf(a.connectivity.data(), static_cast<std::size_t>(a.connectivity.size()), 0, a.connectivity);
  i.elementLabels = viewOf(a.labels.data(), n, 0, a.labels);
}

// A block array of length() rows, None when the block has none.
static py::object blockLabels(const odb_FieldBulkData& b, const int* p) {
  if (p == nullptr) return py::none();
  return viewOf(p, static_cast<std::size_t>(b.length()), 0, b);
}

static py::object blockData(const odb_FieldBulkData& b) {
  const auto rows = static_cast<std::size_t>(b.length()), width = static_cast<std::size_t>(b.width());
  if (b.precision() == 1) return viewOf(b.dataDouble(), rows, width, b);
  return viewOf(b.data(), rows, width, b);
}

// The rows of a history output as one (n, width) array: a view when the
// library keeps them in one array (it does today), else a copy.
static py::object historyData(const odb_HistoryOutput& h) {
  const odb_SequenceSequenceFloat rows = h.data();
  const std::size_t n = static_cast<std::size_t>(rows.size());
  const std::size_t width = n > 0 ? static_cast<std::size_t>(rows[0].size()) : 0;
  bool contiguous = n > 0 && width > 0;
  for (std::size_t r = 0; contiguous && r < n; ++r) {
    const odb_SequenceFloat& row = rows[static_cast<int>(r)];
    contiguous = static_cast<std::size_t>(row.size()) == width && row.data() == rows[0].data() + r * width;
  }
  if (contiguous) return viewOf(rows[0].data(), n, width, rows);
  std::vector<float> values;
  for (const odb_SequenceFloat& row : rows) values.insert(values.end(), row.begin(), row.end());
  if (n > 0 && values.size() != n * width) throw py::value_error(h.name().str() + ": history rows differ in width");
  py::array out(py::dtype::of<float>(), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(width)},
                {}, values.data());
  out.attr("setflags")(py::arg("write") = false);
  return out;
}

template <class T>
static std::string reprOf(const char* kind, const T& name) {
  return std::string("<") + kind + " " + py::repr(py::str(name)).cast<std::string>() + ">";
}

static void bindMapping(py::module_& m) {
  py::class_<Mapping>(m, "Mapping", "An ordered, read-only mapping of names to objects, in file order.")
      .def("__len__", &Mapping::size)
      .def("__getitem__",
           [](const Mapping& self, const py::object& key) {
             if (py::isinstance<py::str>(key))
               if (const py::object* v = self.find(key.cast<std::string>())) return *v;
             PyErr_SetObject(PyExc_KeyError, key.ptr());  // KeyError(key), as a dict raises it
             throw py::error_already_set();
           })
      .def("__contains__",
           [](const Mapping& self, const py::object& key) {
             return py::isinstance<py::str>(key) && self.find(key.cast<std::string>()) != nullptr;
           })
      .def(
          "__iter__",
          [](const Mapping& self) { return py::make_key_iterator(self.items().begin(), self.items().end()); },
          py::keep_alive<0, 1>())
      .def(
          "get",
          [](const Mapping& self, const py::object& key, py::object fallback) {
            const py::object* v = py::isinstance<py::str>(key) ? self.find(key.cast<std::string>()) : nullptr;
            return v ? *v : fallback;
          },
          py::arg("key"), py::arg("default") = py::none())
      .def("keys", [](py::object self) { return py::module_::import("collections.abc").attr("KeysView")(self); })
      .def("values", [](py::object self) { return py::module_::import("collections.abc").attr("ValuesView")(self); })
      .def("items", [](py::object self) { return py::module_::import("collections.abc").attr("ItemsView")(self); })
      .def("__repr__", [](const Mapping& self) {
        py::list keys;
        for (const auto& kv : self.items()) keys.append(kv.first);
        return "Mapping(" + py::repr(keys).cast<std::string>() + ")";
      });
  py::module_::import("collections.abc").attr("Mapping").attr("register")(m.attr("Mapping"));
}

static void bindModel(py::module_& m) {
  py::class_<Set>(m, "Set", "A node or element set of the assembly, an instance or a part.")
      .def_property_readonly("name", [](const Set& s) { return text(s.set.name()); })
      .def_property_readonly("type",
                             [](const Set& s) { return s.set.type() == odb_Enum::NODE_SET ? "NODE_SET" : "ELEMENT_SET"; })
      .def_property_readonly("is_internal", [](const Set& s) { return s.set.isInternal(); })
      .def_property_readonly("instance_names", [](const Set& s) { return strings(s.set.instanceNames()); })
      .def(
          "labels",
          [](const Set& s, const std::string& instance) {
            const odb_SequenceInt labels = s.set.labels(instance);
            return viewOf(labels.data(), static_cast<std::size_t>(labels.size()), 0, labels);
          },
          py::arg("instance") = "", "Returns the member labels in the instance (\"\" for a part set).")
      .def("__repr__", [](const Set& s) { return reprOf("Set", s.set.name().str()); });

  py::class_<Part>(m, "Part", "A part: its name and sets.")
      .def_property_readonly("name", [](const Part& p) { return text(p.part.name()); })
      .def_property_readonly("node_sets", [](const Part& p) { return setsOf(p.db, p.part.nodeSets(true)); })
      .def_property_readonly("element_sets", [](const Part& p) { return setsOf(p.db, p.part.elementSets(true)); })
      .def("__repr__", [](const Part& p) { return reprOf("Part", p.part.name().str()); });

  py::class_<Instance>(m, "Instance", "An instance of a part: its mesh and sets.")
      .def_property_readonly("name", [](const Instance& i) { return text(i.instance.name()); })
      .def_property_readonly("part_name", [](const Instance& i) { return text(i.instance.partName()); })
      .def_property_readonly("node_count", [](const Instance& i) { return i.instance.nodeCount(); })
      .def_property_readonly("element_count", [](const Instance& i) { return i.instance.elementCount(); })
      .def_property_readonly("node_labels", [](Instance& i) { return needNodes(i), i.nodeLabels; })
      .def_property_readonly("coordinates", [](Instance& i) { return needNodes(i), i.coordinates; })
      .def_property_readonly("element_labels", [](Instance& i) { return needElements(i), i.elementLabels; })
      .def_property_readonly("offsets", [](Instance& i) { return needElements(i), i.offsets; })
      .def_property_readonly("connectivity", [](Instance& i) { return needElements(i), i.connectivity; })
      .def_property_readonly("node_sets", [](const Instance& i) { return setsOf(i.db, i.instance.nodeSets(true)); })
      .def_property_readonly("element_sets",
                             [](const Instance& i) { return setsOf(i.db, i.instance.elementSets(true)); })
      .def("__repr__", [](const Instance& i) { return reprOf("Instance", i.instance.name().str()); });

  py::class_<Assembly>(m, "Assembly", "The root assembly: instances and assembly sets.")
      .def_property_readonly("name", [](const Assembly& a) { return text(a.assembly.name()); })
      .def_property_readonly("instances",
                             [](const Assembly& a) {
                               return mappingOf(a.assembly.instances(), [&](const odb_Instance& i) {
                                 return py::cast(Instance{a.db, i, {}, {}, {}, {}, {}});
                               });
                             })
      .def_property_readonly("node_sets", [](const Assembly& a) { return setsOf(a.db, a.assembly.nodeSets(true)); })
      .def_property_readonly("element_sets",
                             [](const Assembly& a) { return setsOf(a.db, a.assembly.elementSets(true)); })
      .def("__repr__", [](const Assembly& a) { return reprOf("Assembly", a.assembly.name().str()); });
}

static void bindFields(py::module_& m) {
  py::class_<Block>(m, "Block", "The values of one instance at one position, as numpy arrays.")
      .def_property_readonly("position", [](const Block& b) { return positionName(b.block.position()); })
      .def_property_readonly("instance_name", [](const Block& b) { return text(b.block.instanceName()); })
      .def_property_readonly("section_point", [](const Block& b) { return b.block.sectionPoint(); })
      .def_property_readonly("type", [](const Block& b) { return typeName(b.block.type()); })
      .def_property_readonly("precision",
                             [](const Block& b) { return b.block.precision() == 1 ? "float64" : "float32"; })
      .def_property_readonly("length", [](const Block& b) { return b.block.length(); })
      .def_property_readonly("width", [](const Block& b) { return b.block.width(); })
      .def_property_readonly("number_of_elements", [](const Block& b) { return b.block.numberOfElements(); })
      .def_property_readonly("component_labels", [](const Block& b) { return strings(b.block.componentLabels()); })
      .def_property_readonly("data", [](const Block& b) { return blockData(b.block); })
      .def_property_readonly("node_labels", [](const Block& b) { return blockLabels(b.block, b.block.nodeLabels()); })
      .def_property_readonly("element_labels",
                             [](const Block& b) { return blockLabels(b.block, b.block.elementLabels()); })
      .def_property_readonly("integration_points",
                             [](const Block& b) { return blockLabels(b.block, b.block.integrationPoints()); })
      .def_property_readonly("mises",
                             [](const Block& b) {
                               const float* p = b.block.mises();
                               return viewOf(p, static_cast<std::size_t>(b.block.length()), 0, b.block);
                             })
      .def("__repr__", [](const Block& b) {
        return "<Block " + std::string(odb_vocab::positionName(b.block.position())) + " " +
               py::repr(text(b.block.instanceName())).cast<std::string>() + " " + std::to_string(b.block.length()) +
               "x" + std::to_string(b.block.width()) + ">";
      });

  py::class_<Field>(m, "FieldOutput", "A field output of a frame: its description and blocks.")
      .def_property_readonly("name", [](const Field& f) { return text(f.field.name()); })
      .def_property_readonly("description", [](const Field& f) { return text(f.field.description()); })
      .def_property_readonly("type", [](const Field& f) { return typeName(f.field.type()); })
      .def_property_readonly("type_code", [](const Field& f) { return static_cast<int>(f.field.type()); })
      .def_property_readonly("is_complex", [](const Field& f) { return f.field.isComplex(); })
      .def_property_readonly("component_labels", [](const Field& f) { return strings(f.field.componentLabels()); })
      .def_property_readonly("valid_invariants",
                             [](const Field& f) {
                               py::list out;
                               for (const auto code : f.field.validInvariants()) {
                                 const auto i = static_cast<std::size_t>(code);
                                 out.append(std::string(i < kInvariantNames.size() ? kInvariantNames[i] : "OTHER"));
                               }
                               return py::tuple(out);
                             })
      .def_property_readonly("blocks",
                             [](const Field& f) {
                               py::list out;
                               for (const odb_FieldBulkData& b : f.field.bulkDataBlocks()) out.append(Block{f.db, b});
                               return out;
                             })
      .def(
          "get_subset", [](const Field& f, const Set& s) { return Field{f.db, f.field.getSubset(s.set)}; },
          py::arg("set"), "Returns the values on the set, as a field output of its own.")
      .def("__repr__", [](const Field& f) { return reprOf("FieldOutput", f.field.name().str()); });
}

static void bindResults(py::module_& m) {
  py::class_<Frame>(m, "Frame", "A frame of a step.")
      .def_property_readonly("frame_id", [](const Frame& f) { return f.frame.frameId(); })
      .def_property_readonly("increment_number", [](const Frame& f) { return f.frame.incrementNumber(); })
      .def_property_readonly("description", [](const Frame& f) { return text(f.frame.description()); })
      .def_property_readonly("frame_value", [](const Frame& f) { return f.frame.frameValue(); })
      .def_property_readonly("field_outputs",
                             [](const Frame& f) {
                               return mappingOf(f.frame.fieldOutputs(),
                                                [&](const odb_FieldOutput& o) { return py::cast(Field{f.db, o}); });
                             })
      .def("__repr__", [](const Frame& f) { return "<Frame " + std::to_string(f.frame.frameId()) + ">"; });

  py::class_<odb_HistoryPoint>(m, "HistoryPoint", "Where a history region was recorded.")
      .def_property_readonly("node", [](const odb_HistoryPoint& p) { return label(p.node().label()); })
      .def_property_readonly("element", [](const odb_HistoryPoint& p) { return label(p.element().label()); })
      .def_property_readonly("ip_number", &odb_HistoryPoint::ipNumber)
      .def_property_readonly("section_point", [](const odb_HistoryPoint& p) { return p.sectionPoint().number(); })
      .def_property_readonly("region", [](const odb_HistoryPoint& p) { return text(p.region().name()); })
      .def_property_readonly("instance_name", [](const odb_HistoryPoint& p) { return text(p.instanceName()); });

  py::class_<HistoryOutput>(m, "HistoryOutput", "A history output: rows of (time, value).")
      .def_property_readonly("name", [](const HistoryOutput& h) { return text(h.output.name()); })
      .def_property_readonly("description", [](const HistoryOutput& h) { return text(h.output.description()); })
      .def_property_readonly("type", [](const HistoryOutput& h) { return typeName(h.output.type()); })
      .def_property_readonly("data", [](const HistoryOutput& h) { return historyData(h.output); })
      .def("__repr__", [](const HistoryOutput& h) { return reprOf("HistoryOutput", h.output.name().str()); });

  py::class_<HistoryRegion>(m, "HistoryRegion", "A history region of a step and its outputs.")
      .def_property_readonly("name", [](const HistoryRegion& r) { return text(r.region.name()); })
      .def_property_readonly("description", [](const HistoryRegion& r) { return text(r.region.description()); })
      .def_property_readonly("point", [](const HistoryRegion& r) { return r.region.historyPoint(); })
      .def_property_readonly("outputs",
                             [](const HistoryRegion& r) {
                               return mappingOf(r.region.historyOutputs(), [&](const odb_HistoryOutput& h) {
                                 return py::cast(HistoryOutput{r.db, h});
                               });
                             })
      .def("__repr__", [](const HistoryRegion& r) { return reprOf("HistoryRegion", r.region.name().str()); });

  py::class_<Step>(m, "Step", "A step: mass properties, frames and history regions.")
      .def_property_readonly("name", [](const Step& s) { return text(s.step.name()); })
      .def_property_readonly("description", [](const Step& s) { return text(s.step.description()); })
      .def_property_readonly("mass",
                             [](const Step& s) {
                               const double mass = s.step.mass();
                               return mass == -1.0 ? py::object(py::none()) : py::object(py::float_(mass));
                             })
      .def_property_readonly("mass_center", [](const Step& s) { return numbersOrNone(s.step.massCenter()); })
      .def_property_readonly("inertia_about_center",
                             [](const Step& s) { return numbersOrNone(s.step.inertiaAboutCenter()); })
      .def_property_readonly("inertia_about_origin",
                             [](const Step& s) { return numbersOrNone(s.step.inertiaAboutOrigin()); })
      .def_property_readonly("frames",
                             [](const Step& s) {
                               py::list out;
                               for (const odb_Frame& f : s.step.frames()) out.append(Frame{s.db, f});
                               return out;
                             })
      .def_property_readonly("history_regions",
                             [](const Step& s) {
                               return mappingOf(s.step.historyRegions(), [&](const odb_HistoryRegion& r) {
                                 return py::cast(HistoryRegion{s.db, r});
                               });
                             })
      .def("__repr__", [](const Step& s) { return reprOf("Step", s.step.name().str()); });
}

static void bindDatabase(py::module_& m) {
  py::class_<Database>(m, "Database", "An open database; a context manager whose exit closes it.")
      .def_property_readonly("name", [](const Database& d) { return text(d.db->odb->name()); })
      .def_property_readonly("description", [](const Database& d) { return text(d.db->odb->description()); })
      .def_property_readonly("closed", [](const Database& d) { return !d.db->odb->isOpen(); })
      .def_property_readonly("steps",
                             [](const Database& d) {
                               return mappingOf(d.db->odb->steps(),
                                                [&](const odb_Step& s) { return py::cast(Step{d.db, s}); });
                             })
      .def_property_readonly("parts",
                             [](const Database& d) {
                               return mappingOf(d.db->odb->parts(),
                                                [&](const odb_Part& p) { return py::cast(Part{d.db, p}); });
                             })
      .def_property_readonly("root_assembly",
                             [](const Database& d) { return Assembly{d.db, d.db->odb->rootAssembly()}; })
      .def(
          "close", [](Database& d) { d.db->odb->close(); },
          "Releases the file; arrays already taken stay valid, everything else fails from now on.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Database& d, py::args) {
        d.db->odb->close();
        return false;
      })
      .def("__repr__", [](const Database& d) {
        return std::string(d.db->odb->isOpen() ? "<Database " : "<closed Database ") +
               py::repr(text(d.db->odb->name())).cast<std::string>() + ">";
      });

  m.def(
      "open",
      [](const std::string& path, bool internalSets) {
        auto db = std::make_shared<Db>();
        db->odb = odb_open(path, internalSets);
        db->internalSets = internalSets;
        return Database{std::move(db)};
      },
      py::arg("path"), py::arg("internal_sets") = false,
      "Opens a database for reading; internal_sets also loads the sets the solver made for itself.");
}

void bindReader(py::module_& m) {
  bindMapping(m);
  bindModel(m);
  bindFields(m);
  bindResults(m);
  bindDatabase(m);
}

}  // namespace harvest_py
