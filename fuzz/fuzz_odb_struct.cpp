// Fuzz target: databases that are valid HDF5 but have a wrong structure.
// The bytes choose a small model (precision, positions, frames, format
// version, layout) that odbw::Writer writes, then a list of edits (attributes
// set to odd values or removed, links removed or renamed, datasets replaced
// with other types and shapes, groups added). Opening the result and reading
// every object must either succeed or throw odb_Exception: any other
// exception, a crash or a sanitizer report is a finding.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

#include "odb/odb.h"
#include "odb/odb_writer.h"
#include "odb_walk.h"

namespace {

// The input bytes, read front to back; zeros once they run out.
class Bytes {
 public:
  Bytes(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  bool empty() const { return n_ == 0; }
  unsigned next() { return n_ ? (--n_, *p_++) : 0u; }
  template <class T, std::size_t N>
  const T& pick(const T (&table)[N]) { return table[next() % N]; }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

}  // namespace

const char* const kSteps = "/steps/Step-1";
const char* const kInst = "/assembly/instances/I-1";

const char* const kObjects[] = {
    "/", "/parts/P", "/parts/P/elementSets/PES", "/assembly", kInst, "/assembly/instances/I-1/nodes/labels",
    "/assembly/instances/I-1/nodes/coordinates", "/assembly/instances/I-1/elements/labels",
    "/assembly/instances/I-1/elements/offsets", "/assembly/instances/I-1/elements/connectivity",
    "/assembly/instances/I-1/elementSets/ES", "/assembly/instances/I-1/nodeSets/NS",
    "/assembly/elementSets/AES", "/assembly/elementSets/AES/I-1", "/assembly/nodeSets/ANS/I-1", kSteps,
    "/steps/Step-1/frames", "/steps/Step-1/frames/0", "/steps/Step-1/frames/1",
    "/steps/Step-1/frames/0/fieldOutputs/S", "/steps/Step-1/frames/0/fieldOutputs/S/blocks",
    "/steps/Step-1/frames/0/fieldOutputs/S/blocks/0", "/steps/Step-1/frames/0/fieldOutputs/S/blocks/0/data",
    "/steps/Step-1/frames/0/fieldOutputs/S/blocks/0/elementLabels",
    "/steps/Step-1/frames/0/fieldOutputs/S/blocks/0/integrationPoints",
    "/steps/Step-1/frames/0/fieldOutputs/S/blocks/0/nodeLabels", "/steps/Step-1/frames/0/fieldOutputs/U",
    "/steps/Step-1/frames/0/fieldOutputs/U/blocks/0", "/steps/Step-1/frames/0/fieldOutputs/U/blocks/0/data",
    "/steps/Step-1/frames/0/fieldOutputs/U/blocks/0/nodeLabels", "/steps/Step-1/frames/0/fieldOutputs/E",
    "/steps/Step-1/frames/0/fieldOutputs/E/blocks/0/data", "/steps/Step-1/historyRegions/Node I-1.1",
    "/steps/Step-1/historyRegions/Node I-1.1/historyOutputs/U1",
    "/steps/Step-1/historyRegions/Node I-1.1/historyOutputs/U1/data",
    "/steps/Step-1/historyRegions/Node I-1.1/historyOutputs/U1/time",
};
const char* const kAttributes[] = {
    "format", "format_version", "description", "mass", "massCenter", "inertiaAboutCenter", "inertiaAboutOrigin",
    "incrementNumber", "frameValue", "type", "componentLabels", "validInvariants", "isComplex", "instance",
    "position", "sectionPoint", "node", "element", "ipNumber", "region", "part", "internal", "name",
};
const long long kInts[] = {-1, 0, 1, 2, 3, 4, 5, 7, 9, 10, 100, 1 << 20, std::numeric_limits<int>::max(),
                           std::numeric_limits<int>::min(), std::numeric_limits<long long>::max()};
const double kDoubles[] = {0.0, -1.0, 1.5, 1e308, -1e308, 1e-310, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
const char* const kStrings[] = {"", "odb", "NODAL", "INTEGRATION_POINT", "CENTROID", "WHOLE_ELEMENT",
                                "ELEMENT_NODAL", "I-1", "nope", "S11", "11", "ES", "NS", "AES", "0", "-1"};
const char* const kNewNames[] = {"2", "01", "-1", "x", " ", "0", "1"};

static odbw::FieldInfo fieldInfo(const char* description, int type, std::vector<std::string> labels,
                          std::vector<int> invariants) {
  odbw::FieldInfo info;
  info.description = description;
  info.type = type;
  info.componentLabels = std::move(labels);
  info.validInvariants = std::move(invariants);
  return info;
}

static odbw::BlockInfo blockInfo(const char* position) {
  odbw::BlockInfo info;
  info.position = position;
  info.instance = "I-1";
  return info;
}

// S at two points per element (or at its 8 nodes), U at the nodes, a scalar E per element.
static void writeFrameFields(odbw::Writer& w, int f, unsigned shape, const std::vector<int>& nodes,
                      const std::vector<int>& elements, const std::vector<int>& conn, Bytes& in) {
  w.addFieldOutput("Step-1", f, "S",
                   fieldInfo("Stress", odb_Enum::TENSOR_3D_FULL, {"S11", "S22", "S33", "S12", "S13", "S23"}, {1, 4, 7}));
  odbw::BlockInfo s = blockInfo((shape & 2) ? "ELEMENT_NODAL" : "INTEGRATION_POINT");
  const int per = (shape & 2) ? 8 : 2;
  std::vector<double> sData;
  for (int e = 0; e < 2; ++e)
    for (int p = 0; p < per; ++p) {
      s.elementLabels.push_back(e + 1);
      if (shape & 2) s.nodeLabels.push_back(conn[static_cast<std::size_t>(8 * e + p)]);
      else s.integrationPoints.push_back(p + 1);
      for (int c = 0; c < 6; ++c) sData.push_back(static_cast<double>(in.next()) - 128.0);
    }
  if (shape & 1) {
    const std::vector<float> narrow(sData.begin(), sData.end());
    w.addBlock("Step-1", f, "S", s, std::span<const float>(narrow), 6);
  } else {
    w.addBlock("Step-1", f, "S", s, std::span<const double>(sData), 6);
  }
  w.addFieldOutput("Step-1", f, "U", fieldInfo("Spatial displacement", odb_Enum::VECTOR, {"U1", "U2", "U3"}, {8}));
  odbw::BlockInfo u = blockInfo("NODAL");
  u.nodeLabels = nodes;
  std::vector<double> uData(36);
  for (double& v : uData) v = static_cast<double>(in.next()) / 16.0;
  w.addBlock("Step-1", f, "U", u, std::span<const double>(uData), 3);
  w.addFieldOutput("Step-1", f, "E", fieldInfo("Element energy", odb_Enum::SCALAR, {}, {}));
  odbw::BlockInfo e = blockInfo("WHOLE_ELEMENT");
  e.elementLabels = elements;
  e.oneDimensional = (shape & 8) != 0;
  const std::vector<double> energy{1.0, static_cast<double>(in.next())};
  w.addBlock("Step-1", f, "E", e, std::span<const double>(energy), 1);
}

// A small valid database: two hexahedra, sets of every kind, one or two
// frames of fields, nodal history.
static void writeBase(const std::string& path, Bytes& in) {
  const unsigned shape = in.next();
  odbw::Options options;
  options.formatVersion = (shape & 16) ? 1 : 2;
  options.trackOrder = !(shape & 32);
  options.chunked = !(shape & 64);
  options.chunkBytes = 64;
  odbw::Writer w(path, options);
  std::vector<int> nodes;
  std::vector<double> xyz;
  for (int i = 0; i < 12; ++i) {
    nodes.push_back(i + 1);
    xyz.insert(xyz.end(), {static_cast<double>(i % 3), static_cast<double>((i / 3) % 2), static_cast<double>(i / 6)});
  }
  const std::vector<int> elements{1, 2}, conn{1, 2, 5, 4, 7, 8, 11, 10, 2, 3, 6, 5, 8, 9, 12, 11};
  const std::vector<std::int64_t> offsets{0, 8, 16};
  w.addPart("P");
  w.addPartSet("P", odbw::SetKind::Element, "PES", elements);
  w.addInstance("I-1", "P");
  w.setInstanceNodes("I-1", nodes, xyz);
  w.setInstanceElements("I-1", elements, offsets, conn);
  w.addInstanceSet("I-1", odbw::SetKind::Element, "ES", std::vector<int>{2});
  w.addInstanceSet("I-1", odbw::SetKind::Node, "NS", std::vector<int>{1, 2, 3}, (shape & 128) != 0);
  w.addAssemblySet(odbw::SetKind::Element, "AES", {{"I-1", {1}}});
  w.addAssemblySet(odbw::SetKind::Node, "ANS", {{"I-1", {4, 12}}});
  odbw::StepInfo step;
  step.description = "s";
  step.mass = 2.0;
  step.massCenter = std::vector<double>{1, 2, 3};
  w.addStep("Step-1", step);
  const int frames = (shape & 4) ? 2 : 1;
  for (int f = 0; f < frames; ++f) {
    odbw::FrameInfo frame;
    frame.incrementNumber = f + 1;
    frame.frameValue = 0.5 * (f + 1);
    w.addFrame("Step-1", frame);
    writeFrameFields(w, f, shape, nodes, elements, conn, in);
  }
  odbw::HistoryRegionInfo region;
  region.node = 1;
  region.instance = "I-1";
  w.addHistoryRegion("Step-1", "Node I-1.1", region);
  odbw::HistoryOutputInfo output;
  output.description = "U1 at node 1";
  const std::vector<double> rows{0.0, 0.0, 0.5, 1.0, 1.0, static_cast<double>(in.next())};
  w.addHistoryOutput("Step-1", "Node I-1.1", "U1", output, rows, 2);
  w.close();
}

static std::vector<unsigned long long> shapeFrom(Bytes& in, std::size_t& count) {
  const unsigned rank = in.next() % 3;
  std::vector<unsigned long long> dims;
  count = 1;
  for (unsigned r = 0; r < rank; ++r) {
    dims.push_back(in.next() % 20);
    count *= dims.back();
  }
  return dims;
}

// One edit chosen by the bytes. Edits of objects that an earlier edit
// removed fail inside the writer; that is no finding.
static void applyEdit(const std::string& file, Bytes& in) {
  namespace ed = odbw::edit;
  const unsigned op = in.next() % 12;
  const std::string object = in.pick(kObjects);
  const std::string attribute = in.pick(kAttributes);
  std::size_t count = 0;
  switch (op) {
    case 0: return ed::setIntAttribute(file, object, attribute, in.pick(kInts));
    case 1: return ed::setDoubleAttribute(file, object, attribute, in.pick(kDoubles));
    case 2: return ed::setStringAttribute(file, object, attribute, in.pick(kStrings));
    case 3: return ed::setStringArrayAttribute(file, object, attribute, {in.pick(kStrings), in.pick(kStrings)});
    case 4: return ed::removeAttribute(file, object, attribute);
    case 5: return ed::removeLink(file, object);
    case 6: return ed::moveLink(file, object, object.substr(0, object.rfind('/') + 1) + in.pick(kNewNames));
    case 7: {
      const auto dims = shapeFrom(in, count);
      std::vector<int> v(count);
      for (int& x : v) x = static_cast<int>(in.pick(kInts));
      return ed::writeIntDataset(file, object, v, dims);
    }
    case 8: {
      const auto dims = shapeFrom(in, count);
      std::vector<std::int64_t> v(count);
      for (std::int64_t& x : v) x = in.pick(kInts);
      return ed::writeInt64Dataset(file, object, v, dims);
    }
    case 9: {
      const auto dims = shapeFrom(in, count);
      std::vector<float> v(count);
      for (float& x : v) x = static_cast<float>(in.pick(kDoubles));
      return ed::writeFloatDataset(file, object, v, dims);
    }
    case 10: {
      const auto dims = shapeFrom(in, count);
      std::vector<double> v(count);
      for (double& x : v) x = in.pick(kDoubles);
      return ed::writeDoubleDataset(file, object, v, dims);
    }
    default: return ed::createGroup(file, object + "/" + in.pick(kNewNames));
  }
}

static std::string scratch(const char* suffix) {
  return (std::filesystem::temp_directory_path() / ("harvest-fuzz-odb-" + std::to_string(getpid()) + suffix))
      .string();
}

static void openAndWalk(const std::string& path, const std::string& upgradeBase) {
  try {
    std::string open = path;
    if (isUpgradeRequiredForOdb(path.c_str())) {
      upgradeOdb(path.c_str(), upgradeBase.c_str());
      open = upgradeBase + ".odb";
    }
    fuzzwalk::walkOdb(openOdb(open.c_str(), true, true));
  } catch (const odb_Exception& e) {
    // A rejected database is the expected outcome of most inputs. Set
    // HARVEST_FUZZ_VERBOSE to see which check rejected a replayed input.
    if (std::getenv("HARVEST_FUZZ_VERBOSE")) std::fprintf(stderr, "rejected: %s\n", e.what());
  }
  odb_finalizeAPI();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratch(".odb"), upgradeBase = scratch("-upgraded");
  odb_initializeAPI();
  Bytes in(data, size);
  writeBase(path, in);
  for (int edits = 0; edits < 8 && !in.empty(); ++edits) {
    try {
      applyEdit(path, in);
    } catch (const std::exception&) {
      // The edit did not apply (its object is gone); the file is unchanged.
    }
  }
  openAndWalk(path, upgradeBase);
  std::filesystem::remove(path);
  std::filesystem::remove(upgradeBase + ".odb");
  return 0;
}
