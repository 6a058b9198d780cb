// docs/format.md §8: every broken file gives an odb_Exception naming the file
// and the object path, with the exact text; damaged bytes never crash.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

namespace edit = odbw::edit;
using Mutate = std::function<void(const std::string&)>;

enum class Action { Open, FieldOutputs, LoadS, LoadU, LoadSN, Elements };

const std::string S = "/steps/Step-1/frames/0/fieldOutputs/S";
const std::string U = "/steps/Step-1/frames/0/fieldOutputs/U";
const std::string SN = "/steps/Step-1/frames/0/fieldOutputs/SN";
const std::string I1 = "/assembly/instances/I1";
const std::string HU1 = "/steps/Step-1/historyRegions/Node I1.1/historyOutputs/U1";

// Opens the file, takes the action and returns the message of the odb_Exception it must throw.
std::string failure(const std::string& path, Action a) {
  try {
    const odb_Odb& odb = openOdb(path);
    if (a == Action::FieldOutputs) odb.steps()["Step-1"].frames()[0].fieldOutputs();
    if (a == Action::LoadS) sample::field(odb, "S").values();
    if (a == Action::LoadU) sample::field(odb, "U").bulkDataBlocks();
    if (a == Action::LoadSN) sample::field(odb, "SN").values();
    if (a == Action::Elements) odb.rootAssembly().instances()["I1"].elements();
  } catch (const odb_Exception& e) {
    return e.message();
  }
  return "(no exception)";
}

struct Case {
  const char* name;
  Mutate mutate;
  Action action;
  std::string object;  // the path the message names
  std::string what;
};

Mutate setInt(std::string obj, const char* attr, long long v) {
  return [=](auto& f) { edit::setIntAttribute(f, obj, attr, v); };
}
Mutate setStr(std::string obj, const char* attr, const char* v) {
  return [=](auto& f) { edit::setStringAttribute(f, obj, attr, v); };
}
Mutate remove(std::string obj, const char* attr) { return [=](auto& f) { edit::removeAttribute(f, obj, attr); }; }
Mutate move(std::string from, std::string to) { return [=](auto& f) { edit::moveLink(f, from, to); }; }
template <class T>
Mutate ints(std::string at, std::vector<T> v, std::vector<unsigned long long> shape) {
  return [=](auto& f) {
    if constexpr (sizeof(T) == 8) edit::writeInt64Dataset(f, at, v, shape);
    else edit::writeIntDataset(f, at, v, shape);
  };
}
Mutate doubles(std::string at, std::size_t n, std::vector<unsigned long long> shape) {
  return [=](auto& f) { edit::writeDoubleDataset(f, at, std::vector<double>(n), shape); };
}
using I64 = std::vector<std::int64_t>;
using V = std::vector<int>;

TEST(Errors, EachBrokenFileGivesItsExactMessage) {
  const std::string b0 = S + "/blocks/0", u0 = U + "/blocks/0", sn0 = SN + "/blocks/0";
  const Case cases[] = {
      {"format wrong", setStr("/", "format", "xyz"), Action::Open, "/", "file is not an output database"},
      {"version missing", remove("/", "format_version"), Action::Open, "/", "format_version is missing"},
      {"version newer", setInt("/", "format_version", 3), Action::Open, "/",
       "was written by a newer version (format_version 3)"},
      {"version unknown", setInt("/", "format_version", 0), Action::Open, "/", "unknown format_version 0"},
      {"version 1", setInt("/", "format_version", 1), Action::Open, "/", "database needs upgrading (format_version 1)"},
      {"version a string", setStr("/", "format_version", "2"), Action::Open, "/",
       "format_version is a string, expected an integer"},
      {"mass a string", setStr("/steps/Step-1", "mass", "heavy"), Action::Open, "/steps/Step-1",
       "mass is a string, expected a number"},
      {"increment beyond 32 bits", setInt("/steps/Step-1/frames/0", "incrementNumber", 5000000000LL), Action::Open,
       "/steps/Step-1/frames/0", "incrementNumber is 5000000000, expected a 32-bit integer"},
      {"frame padded", move("/steps/Step-1/frames/1", "/steps/Step-1/frames/01"), Action::Open, "/steps/Step-1/frames",
       "found frame '01', expected frames named 0..1"},
      {"frame a dataset",
       [](auto& f) {
         edit::removeLink(f, "/steps/Step-1/frames/1");
         edit::writeIntDataset(f, "/steps/Step-1/frames/1", V{1, 2, 3, 4}, {4});
       },
       Action::Open, "/steps/Step-1/frames/1", "is a dataset, expected a group"},
      {"history data rank 1", doubles(HU1 + "/data", 2, {2}), Action::Open, HU1, "data has rank 1, expected 2"},
      {"offsets one short", ints(I1 + "/elements/offsets", I64{0, 3}, {2}), Action::Open, I1,
       "elements/offsets has 2 entries, expected 3 (one more than elements/labels)"},
      {"coordinates [4, 2]", doubles(I1 + "/nodes/coordinates", 8, {4, 2}), Action::Open, I1,
       "nodes/coordinates does not have the shape [4, 3] of nodes/labels"},
      {"connectivity alone", [](auto& f) { edit::removeLink(f, I1 + "/elements/offsets"); }, Action::Open, I1,
       "elements/connectivity is present without elements/offsets"},
      {"field type missing", remove(S, "type"), Action::FieldOutputs, S, "type is missing"},
      {"labels an integer", setInt(S, "componentLabels", 3), Action::FieldOutputs, S,
       "componentLabels is an integer, expected a string"},
      {"position missing", remove(b0, "position"), Action::LoadS, b0, "position is missing"},
      {"position unknown", setStr(b0, "position", "EDGE"), Action::LoadS, b0,
       "position is 'EDGE', expected NODAL, INTEGRATION_POINT, CENTROID, WHOLE_ELEMENT or ELEMENT_NODAL"},
      {"blocks 0, 1, 5", move(S + "/blocks/2", S + "/blocks/5"), Action::LoadS, S + "/blocks",
       "found block '5', expected blocks named 0..2"},
      {"element labels apart", ints(b0 + "/elementLabels", V{1, 2, 1, 2}, {4}), Action::LoadS, b0,
       "the values of element 1 do not stand together"},
      {"integration point 0", ints(b0 + "/integrationPoints", V{0, 1, 1, 2}, {4}), Action::LoadS, b0,
       "integrationPoints holds 0 at entry 0, expected 1 or more"},
      {"unequal values per element", ints(sn0 + "/elementLabels", V{1, 1, 2, 2, 2, 2}, {6}), Action::LoadSN, sn0,
       "element 2 has 4 values, element 1 has 2"},
      {"node labels short", ints(u0 + "/nodeLabels", V{1, 2, 3}, {3}), Action::LoadU, u0,
       "nodeLabels has 3 entries, data has 4 rows"},
      {"node labels rank 2", ints(u0 + "/nodeLabels", V{1, 2, 3, 4}, {2, 2}), Action::LoadU, u0,
       "nodeLabels has rank 2, expected 1"},
      {"node label beyond 32 bits", ints(u0 + "/nodeLabels", I64{1, 2, 3, 1LL << 33}, {4}), Action::LoadU, u0,
       "nodeLabels holds 8589934592 at entry 3, which does not fit 32 bits"},
      {"data missing", [=](auto& f) { edit::removeLink(f, u0 + "/data"); }, Action::LoadU, u0, "data is missing"},
      {"data rank 3", doubles(u0 + "/data", 12, {2, 2, 3}), Action::LoadU, u0, "data has rank 3, expected 1 or 2"},
      {"data width 2", doubles(u0 + "/data", 8, {4, 2}), Action::LoadU, u0,
       "data has 2 columns, the field has 3 component labels"},
      {"data integers", ints(u0 + "/data", V(12), {4, 3}), Action::LoadU, u0,
       "data is an integer, expected float32 or float64"},
      {"offsets decrease", ints(I1 + "/elements/offsets", I64{0, 7, 6}, {3}), Action::Elements, I1,
       "elements/offsets decreases at entry 2"},
      {"offsets past connectivity", ints(I1 + "/elements/offsets", I64{0, 3, 7}, {3}), Action::Elements, I1,
       "elements/offsets ends at 7, elements/connectivity has 6 entries"},
  };
  sample::Finalize finalize;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string(c.name) + ".odb");
    sample::writeSample(path, 1);
    c.mutate(path);
    EXPECT_EQ(failure(path, c.action), path + ": " + c.object + ": " + c.what);
  }
}

// Missing, not HDF5, a directory, cut at several lengths, damaged bytes: each fails cleanly.
TEST(Errors, UnreadableTruncatedAndDamagedFiles) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("text.odb"), "not a database\n");
  EXPECT_EQ(failure(dir.file("none.odb"), Action::Open), dir.file("none.odb") + ": /: file does not exist");
  EXPECT_EQ(failure(dir.file("text.odb"), Action::Open), dir.file("text.odb") + ": /: file is not an hdf5 file");
  EXPECT_EQ(failure(dir.path(), Action::Open), dir.path() + ": /: is a directory, expected a file");

  const std::string summed = dir.file("summed.odb");
  sample::writeSample(summed, 1);
  std::string bytes = testsupport::readFile(summed);
  for (std::size_t keep : {bytes.size() / 8, bytes.size() / 2, bytes.size() - 100}) {
    SCOPED_TRACE(keep);
    const std::string cut = dir.file("cut" + std::to_string(keep) + ".odb");
    testsupport::writeFile(cut, bytes.substr(0, keep));
    const std::string m = failure(cut, Action::LoadS);
    EXPECT_EQ(m.rfind(cut + ": /", 0), 0u) << m;
  }
  // Chunked with Fletcher-32: HDF5 refuses the chunk. Not 0xff: Fletcher-32 cannot tell 0xffff from 0x0000.
  const std::string needle(reinterpret_cast<const char*>(std::vector<double>{12, 13, 14}.data()), 24);
  const std::size_t pos = bytes.find(needle);  // row 2 of S's first block
  ASSERT_NE(pos, std::string::npos);
  bytes.replace(pos, 4, "ZZZZ");
  testsupport::writeFile(summed, bytes);
  const std::string m = failure(summed, Action::LoadS);
  EXPECT_EQ(m.rfind(summed + ": " + S + "/blocks/0: cannot read data", 0), 0u) << m;
  // Contiguous, no checksum: the damage reaches the reader's own checks.
  const std::string plain = dir.file("plain.odb");
  sample::writeSample(plain, 1, {.chunked = false, .checksum = false});
  const long long at = edit::rawDataOffset(plain, I1 + "/elements/offsets");
  ASSERT_GT(at, 0);
  bytes = testsupport::readFile(plain);
  bytes.replace(static_cast<std::size_t>(at), 8, std::string(8, '\xff'));
  testsupport::writeFile(plain, bytes);
  EXPECT_EQ(failure(plain, Action::Elements), plain + ": " + I1 + ": elements/offsets starts at -1, expected 0");
}

}  // namespace
