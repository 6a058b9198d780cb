// Fuzz target: databases that are valid HDF5 but have a wrong structure (see README.md). Opening the result and
// reading every object must either succeed or throw odb_Exception; anything else is a finding.
#include <algorithm>
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
#include "odb_edit.h"
#include "read_all.h"

namespace {

// The input bytes, read front to back; zeros once they run out.
struct Bytes {
  const std::uint8_t* p;
  std::size_t n;
  unsigned next() { return n ? (--n, *p++) : 0u; }
  template <class T, std::size_t N>
  const T& pick(const T (&table)[N]) { return table[next() % N]; }
};

#define INST "/assembly/instances/I-1"
#define F0 "/steps/Step-1/frames/0/fieldOutputs/"
#define B0 F0 "S/blocks/0"
#define HR "/steps/Step-1/historyRegions/Node I-1.1"
const char* const kObjects[] = {
    "/", "/parts/P", "/parts/P/elementSets/PES", "/assembly", INST, INST "/nodes/labels", INST "/nodes/coordinates",
    INST "/elements/labels", INST "/elements/offsets", INST "/elements/connectivity", INST "/elementSets/ES",
    INST "/nodeSets/NS", "/assembly/elementSets/AES", "/assembly/elementSets/AES/I-1", "/assembly/nodeSets/ANS/I-1",
    "/steps/Step-1", "/steps/Step-1/frames", "/steps/Step-1/frames/0", "/steps/Step-1/frames/1", F0 "S",
    F0 "S/blocks", B0, B0 "/data", B0 "/elementLabels", B0 "/integrationPoints", B0 "/nodeLabels", F0 "U",
    F0 "U/blocks/0", F0 "U/blocks/0/data", F0 "U/blocks/0/nodeLabels", F0 "E", F0 "E/blocks/0/data", HR,
    HR "/historyOutputs/U1", HR "/historyOutputs/U1/data", HR "/historyOutputs/U1/time",
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

// S at two points per element (or at its 8 nodes), U at the nodes, a scalar E per element.
void writeFrameFields(odbw::Writer& w, int f, unsigned shape, const std::vector<int>& nodes,
                      const std::vector<int>& conn, Bytes& in) {
  w.addFieldOutput("Step-1", f, "S", {.description = "Stress", .type = odb_Enum::TENSOR_3D_FULL,
                                      .componentLabels = {"S11", "S22", "S33", "S12", "S13", "S23"},
                                      .validInvariants = {odb_Enum::MAX_PRINCIPAL, odb_Enum::MISES, odb_Enum::INV3}});
  odbw::BlockInfo s{.position = (shape & 2) ? odb_Enum::ELEMENT_NODAL : odb_Enum::INTEGRATION_POINT, .instance = "I-1"};
  std::vector<double> sData;
  for (int e = 0; e < 2; ++e)
    for (int p = 0; p < ((shape & 2) ? 8 : 2); ++p) {
      s.elementLabels.push_back(e + 1);
      if (shape & 2) s.nodeLabels.push_back(conn[static_cast<std::size_t>(8 * e + p)]);
      else s.integrationPoints.push_back(p + 1);
      for (int c = 0; c < 6; ++c) sData.push_back(static_cast<double>(in.next()) - 128.0);
    }
  const std::vector<float> narrow(sData.begin(), sData.end());
  if (shape & 1) w.addBlock("Step-1", f, "S", s, std::span<const float>(narrow), 6);
  else w.addBlock("Step-1", f, "S", s, std::span<const double>(sData), 6);
  w.addFieldOutput("Step-1", f, "U", {.description = "Spatial displacement", .type = odb_Enum::VECTOR,
                                      .componentLabels = {"U1", "U2", "U3"}, .validInvariants = {odb_Enum::MAGNITUDE}});
  std::vector<double> uData(36);
  for (double& v : uData) v = static_cast<double>(in.next()) / 16.0;
  w.addBlock("Step-1", f, "U", {.instance = "I-1", .nodeLabels = nodes}, std::span<const double>(uData), 3);
  w.addFieldOutput("Step-1", f, "E", {.description = "Element energy", .type = odb_Enum::SCALAR});
  const std::vector<double> energy{1.0, static_cast<double>(in.next())};
  w.addBlock("Step-1", f, "E", {.position = odb_Enum::WHOLE_ELEMENT, .instance = "I-1", .elementLabels = {1, 2},
                                .oneDimensional = (shape & 8) != 0}, std::span<const double>(energy), 1);
}

// A small valid database: two hexahedra, sets of every kind, one or two frames of fields, nodal history.
// Byte 0 sets the shape: 1 float32 S, 2 element-nodal S, 4 two frames, 8 one-dimensional E, 16 format
// version 1, 32 no creation order, 64 contiguous, 128 NS internal. Then the field values, then the history.
void writeBase(const std::string& path, Bytes& in) {
  const unsigned shape = in.next();
  odbw::Writer w(path, {.formatVersion = (shape & 16) ? 1 : 2, .trackOrder = !(shape & 32),
                        .chunked = !(shape & 64), .chunkBytes = 64});
  std::vector<int> nodes;
  std::vector<double> xyz;
  for (int i = 0; i < 12; ++i) {
    nodes.push_back(i + 1);
    xyz.insert(xyz.end(), {static_cast<double>(i % 3), static_cast<double>((i / 3) % 2), static_cast<double>(i / 6)});
  }
  const std::vector<int> elements{1, 2}, conn{1, 2, 5, 4, 7, 8, 11, 10, 2, 3, 6, 5, 8, 9, 12, 11};
  w.addPart("P");
  w.addPartSet("P", odbw::SetKind::Element, "PES", elements);
  w.addInstance("I-1", "P");
  w.setInstanceNodes("I-1", nodes, xyz);
  w.setInstanceElements("I-1", elements, std::vector<std::int64_t>{0, 8, 16}, conn);
  w.addInstanceSet("I-1", odbw::SetKind::Element, "ES", std::vector<int>{2});
  w.addInstanceSet("I-1", odbw::SetKind::Node, "NS", std::vector<int>{1, 2, 3}, (shape & 128) != 0);
  w.addAssemblySet(odbw::SetKind::Element, "AES", {{"I-1", {1}}});
  w.addAssemblySet(odbw::SetKind::Node, "ANS", {{"I-1", {4, 12}}});
  w.addStep("Step-1", {.description = "s", .mass = 2.0, .massCenter = std::vector<double>{1, 2, 3}});
  for (int f = 0; f < ((shape & 4) ? 2 : 1); ++f) {
    w.addFrame("Step-1", {.incrementNumber = f + 1, .frameValue = 0.5 * (f + 1)});
    writeFrameFields(w, f, shape, nodes, conn, in);
  }
  w.addHistoryRegion("Step-1", "Node I-1.1", {.node = 1, .instance = "I-1"});
  const std::vector<double> rows{0.0, 0.0, 0.5, 1.0, 1.0, static_cast<double>(in.next())};
  w.addHistoryOutput("Step-1", "Node I-1.1", "U1", {.description = "U1 at node 1"}, rows, 2);
  w.close();
}

// A dataset of rank 0..2 (one byte, then one per dimension below 20), its values picked from `table`.
template <class T, class V, std::size_t N>
void writeDataset(void (*write)(const std::string&, const std::string&, std::span<const T>,
                                std::vector<unsigned long long>),
                  const std::string& file, const std::string& object, Bytes& in, const V (&table)[N]) {
  const unsigned rank = in.next() % 3;
  std::vector<unsigned long long> dims;
  std::size_t count = 1;
  for (unsigned r = 0; r < rank; ++r) count *= dims.emplace_back(in.next() % 20);
  std::vector<T> v(count);
  for (T& x : v) x = static_cast<T>(in.pick(table));
  write(file, object, v, dims);
}

// One edit: an op byte (mod 12), an object byte, an attribute byte, then the op's own bytes. Edits of objects
// that an earlier edit removed fail inside the writer; that is no finding.
void applyEdit(const std::string& file, Bytes& in) {
  namespace ed = odbw::edit;
  const unsigned op = in.next() % 12;
  const std::string object = in.pick(kObjects), attribute = in.pick(kAttributes);
  switch (op) {
    case 0: return ed::setIntAttribute(file, object, attribute, in.pick(kInts));
    case 1: return ed::setDoubleAttribute(file, object, attribute, in.pick(kDoubles));
    case 2: return ed::setStringAttribute(file, object, attribute, in.pick(kStrings));
    case 3: return ed::setStringArrayAttribute(file, object, attribute, {in.pick(kStrings), in.pick(kStrings)});
    case 4: return ed::removeAttribute(file, object, attribute);
    case 5: return ed::removeLink(file, object);
    case 6: return ed::moveLink(file, object, object.substr(0, object.rfind('/') + 1) + in.pick(kNewNames));
    case 7: return writeDataset<int>(ed::writeIntDataset, file, object, in, kInts);
    case 8: return writeDataset<std::int64_t>(ed::writeInt64Dataset, file, object, in, kInts);
    case 9: return writeDataset<float>(ed::writeFloatDataset, file, object, in, kDoubles);
    case 10: return writeDataset<double>(ed::writeDoubleDataset, file, object, in, kDoubles);
    default: return ed::createGroup(file, object + "/" + in.pick(kNewNames));
  }
}

std::string scratch(const char* suffix) {
  return (std::filesystem::temp_directory_path() / ("harvest-fuzz-odb-" + std::to_string(getpid()) + suffix)).string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratch(".odb"), upgraded = scratch("-upgraded");
  odb_initializeAPI();
  Bytes in{data, size};
  writeBase(path, in);
  for (int edits = 0; edits < 8 && in.n; ++edits) {
    try {
      applyEdit(path, in);
    } catch (const std::exception&) {}  // the edit did not apply; the file is unchanged
  }
  try {
    const bool upgrade = isUpgradeRequiredForOdb(path.c_str());
    if (upgrade) upgradeOdb(path.c_str(), upgraded.c_str());
    const odb_Odb& odb = openOdb((upgrade ? upgraded + ".odb" : path).c_str(), true, true);
    const double sum = readEverything(odb, 4096);
    if (std::getenv("HARVEST_FUZZ_VERBOSE")) std::fprintf(stderr, "read: %g\n", sum);
  } catch (const odb_Exception& e) {  // the expected end of most inputs; HARVEST_FUZZ_VERBOSE shows which check
    if (std::getenv("HARVEST_FUZZ_VERBOSE")) std::fprintf(stderr, "rejected: %s\n", e.what());
  }
  odb_finalizeAPI();
  std::filesystem::remove(path);
  std::filesystem::remove(upgraded + ".odb");
  return 0;
}
