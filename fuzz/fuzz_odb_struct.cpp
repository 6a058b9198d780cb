// Fuzz target: databases that are valid HDF5 but have a wrong structure (see README.md). Opening the result and
// reading every object must either succeed or throw odb_Exception; anything else is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

#include "odb/odb.h"
#include "odb_edit.h"
#include "read_all.h"
#include "sample_db.h"

namespace {

// The input bytes, read front to back; zeros once they run out.
struct Bytes {
  const std::uint8_t* p;
  std::size_t n;
  unsigned next() { return n ? (--n, *p++) : 0u; }
  template <class T, std::size_t N>
  const T& pick(const T (&table)[N]) { return table[next() % N]; }
};

#define I1 "/assembly/instances/I1"
#define F0 "/steps/Step-1/frames/0/fieldOutputs/"
#define B0 F0 "S/blocks/0"
#define HR "/steps/Step-1/historyRegions/Node I1.1"
const char* const kObjects[] = {
    "/", "/parts/P1", "/parts/P1/elementSets/PE", "/assembly", I1, I1 "/nodes/labels", I1 "/nodes/coordinates",
    I1 "/elements/labels", I1 "/elements/offsets", I1 "/elements/connectivity", I1 "/elementSets/IE",
    I1 "/nodeSets/IN", "/assembly/elementSets/AE", "/assembly/elementSets/AE/I1", "/assembly/nodeSets/AN/I2",
    "/steps/Step-1", "/steps/Step-1/frames", "/steps/Step-1/frames/0", "/steps/Step-1/frames/1", F0 "S",
    F0 "S/blocks", B0, B0 "/data", B0 "/elementLabels", B0 "/integrationPoints", F0 "SN/blocks/0/nodeLabels",
    F0 "U", F0 "U/blocks/0", F0 "U/blocks/0/data", F0 "U/blocks/0/nodeLabels", F0 "EV", F0 "EV/blocks/0/data", HR,
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
                                "ELEMENT_NODAL", "I1", "nope", "S11", "11", "IE", "IN", "AE", "0", "-1"};
const char* const kNewNames[] = {"2", "01", "-1", "x", " ", "0", "1"};

// The shared sample database (tests/support/sample_db.h: every position, internal sets, a one-dimensional
// block, two frames, history). Byte 0 sets how it is stored: 1 float32 fields (else float64), 16 format
// version 1, 32 no creation order, 64 contiguous; chunks of 64 bytes otherwise.
void writeBase(const std::string& path, Bytes& in) {
  const unsigned shape = in.next();
  sample::writeSample(path, (shape & 1) ? 0 : 1, {.formatVersion = (shape & 16) ? 1 : 2, .trackOrder = !(shape & 32),
                                                  .chunked = !(shape & 64), .chunkBytes = 64});
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
