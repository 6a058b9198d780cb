// docs/format.md §8: every broken file gives an odb_Exception naming the file
// and the object path, with the exact text; damaged bytes never crash.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

namespace edit = odbw::edit;
using Mutate = std::function<void(const std::string&)>;

enum class Action { Open, FieldOutputs, LoadS, LoadU, LoadSN, Elements, HistoryData };

const std::string S = "/steps/Step-1/frames/0/fieldOutputs/S";
const std::string U = "/steps/Step-1/frames/0/fieldOutputs/U";
const std::string SN = "/steps/Step-1/frames/0/fieldOutputs/SN";
const std::string I1 = "/assembly/instances/I1";
const std::string HU1 = "/steps/Step-1/historyRegions/Node I1.1/historyOutputs/U1";

void act(const std::string& path, Action a) {
  const odb_Odb& odb = openOdb(path);
  switch (a) {
    case Action::Open: return;
    case Action::FieldOutputs: odb.steps()["Step-1"].frames()[0].fieldOutputs(); return;
    case Action::LoadS: sample::field(odb, "S").values(); return;
    case Action::LoadU: sample::field(odb, "U").bulkDataBlocks(); return;
    case Action::LoadSN: sample::field(odb, "SN").values(); return;
    case Action::Elements: odb.rootAssembly().instances()["I1"].elements(); return;
    case Action::HistoryData:
      odb.steps()["Step-1"].historyRegions()["Node I1.1"].historyOutputs()["U1"].data();
      return;
  }
}

// Runs the action and returns the message of the odb_Exception it must throw.
std::string failure(const std::string& path, Action a) {
  try {
    act(path, a);
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

TEST(Errors, EachBrokenFileGivesItsExactMessage) {
  const std::vector<int> four = {1, 2, 3, 4};
  const Case cases[] = {
      {"format missing", [](auto& f) { edit::removeAttribute(f, "/", "format"); }, Action::Open, "/",
       "file is not an output database"},
      {"format wrong", [](auto& f) { edit::setStringAttribute(f, "/", "format", "xyz"); }, Action::Open, "/",
       "file is not an output database"},
      {"version missing", [](auto& f) { edit::removeAttribute(f, "/", "format_version"); }, Action::Open, "/",
       "format_version is missing"},
      {"version newer", [](auto& f) { edit::setIntAttribute(f, "/", "format_version", 3); }, Action::Open, "/",
       "was written by a newer version (format_version 3)"},
      {"version unknown", [](auto& f) { edit::setIntAttribute(f, "/", "format_version", 0); }, Action::Open, "/",
       "unknown format_version 0"},
      {"version 1", [](auto& f) { edit::setIntAttribute(f, "/", "format_version", 1); }, Action::Open, "/",
       "database needs upgrading (format_version 1)"},
      {"version a string", [](auto& f) { edit::setStringAttribute(f, "/", "format_version", "2"); }, Action::Open,
       "/", "format_version is a string, expected an integer"},
      {"mass a string", [](auto& f) { edit::setStringAttribute(f, "/steps/Step-1", "mass", "heavy"); },
       Action::Open, "/steps/Step-1", "mass is a string, expected a number"},
      {"increment beyond 32 bits",
       [](auto& f) { edit::setIntAttribute(f, "/steps/Step-1/frames/0", "incrementNumber", 5000000000LL); },
       Action::Open, "/steps/Step-1/frames/0", "incrementNumber is 5000000000, expected a 32-bit integer"},
      {"frames 0, 2", [](auto& f) { edit::moveLink(f, "/steps/Step-1/frames/1", "/steps/Step-1/frames/2"); },
       Action::Open, "/steps/Step-1/frames", "found frame '2', expected frames named 0..1"},
      {"frame padded", [](auto& f) { edit::moveLink(f, "/steps/Step-1/frames/1", "/steps/Step-1/frames/01"); },
       Action::Open, "/steps/Step-1/frames", "found frame '01', expected frames named 0..1"},
      {"frame a dataset",
       [&](auto& f) {
         edit::removeLink(f, "/steps/Step-1/frames/1");
         edit::writeIntDataset(f, "/steps/Step-1/frames/1", four, {4});
       },
       Action::Open, "/steps/Step-1/frames/1", "is a dataset, expected a group"},
      {"history data rank 1", [](auto& f) { edit::writeDoubleDataset(f, HU1 + "/data", std::vector<double>{1, 2}, {2}); },
       Action::Open, HU1, "data has rank 1, expected 2"},
      {"offsets one short", [](auto& f) { edit::writeInt64Dataset(f, I1 + "/elements/offsets", std::vector<std::int64_t>{0, 3}, {2}); },
       Action::Open, I1, "elements/offsets has 2 entries, expected 3 (one more than elements/labels)"},
      {"coordinates [4, 2]",
       [](auto& f) { edit::writeDoubleDataset(f, I1 + "/nodes/coordinates", std::vector<double>(8), {4, 2}); },
       Action::Open, I1, "nodes/coordinates does not have the shape [4, 3] of nodes/labels"},
      {"connectivity alone", [](auto& f) { edit::removeLink(f, I1 + "/elements/offsets"); }, Action::Open, I1,
       "elements/connectivity is present without elements/offsets"},
      {"field type missing", [](auto& f) { edit::removeAttribute(f, S, "type"); }, Action::FieldOutputs, S,
       "type is missing"},
      {"labels an integer", [](auto& f) { edit::setIntAttribute(f, S, "componentLabels", 3); },
       Action::FieldOutputs, S, "componentLabels is an integer, expected a string"},
      {"position missing", [](auto& f) { edit::removeAttribute(f, S + "/blocks/0", "position"); }, Action::LoadS,
       S + "/blocks/0", "position is missing"},
      {"position unknown", [](auto& f) { edit::setStringAttribute(f, S + "/blocks/0", "position", "EDGE"); },
       Action::LoadS, S + "/blocks/0",
       "position is 'EDGE', expected NODAL, INTEGRATION_POINT, CENTROID, WHOLE_ELEMENT or ELEMENT_NODAL"},
      {"blocks 0, 1, 5", [](auto& f) { edit::moveLink(f, S + "/blocks/2", S + "/blocks/5"); }, Action::LoadS,
       S + "/blocks", "found block '5', expected blocks named 0..2"},
      {"element labels apart",
       [](auto& f) { edit::writeIntDataset(f, S + "/blocks/0/elementLabels", std::vector<int>{1, 2, 1, 2}, {4}); },
       Action::LoadS, S + "/blocks/0", "the values of element 1 do not stand together"},
      {"integration point 0",
       [](auto& f) { edit::writeIntDataset(f, S + "/blocks/0/integrationPoints", std::vector<int>{0, 1, 1, 2}, {4}); },
       Action::LoadS, S + "/blocks/0", "integrationPoints holds 0 at entry 0, expected 1 or more"},
      {"unequal values per element",
       [](auto& f) {
         edit::writeIntDataset(f, SN + "/blocks/0/elementLabels", std::vector<int>{1, 1, 2, 2, 2, 2}, {6});
       },
       Action::LoadSN, SN + "/blocks/0", "element 2 has 4 values, element 1 has 2"},
      {"node labels short",
       [](auto& f) { edit::writeIntDataset(f, U + "/blocks/0/nodeLabels", std::vector<int>{1, 2, 3}, {3}); },
       Action::LoadU, U + "/blocks/0", "nodeLabels has 3 entries, data has 4 rows"},
      {"node labels rank 2", [&](auto& f) { edit::writeIntDataset(f, U + "/blocks/0/nodeLabels", four, {2, 2}); },
       Action::LoadU, U + "/blocks/0", "nodeLabels has rank 2, expected 1"},
      {"node label beyond 32 bits",
       [](auto& f) {
         edit::writeInt64Dataset(f, U + "/blocks/0/nodeLabels", std::vector<std::int64_t>{1, 2, 3, 1LL << 33}, {4});
       },
       Action::LoadU, U + "/blocks/0", "nodeLabels holds 8589934592 at entry 3, which does not fit 32 bits"},
      {"data missing", [](auto& f) { edit::removeLink(f, U + "/blocks/0/data"); }, Action::LoadU, U + "/blocks/0",
       "data is missing"},
      {"data rank 3",
       [](auto& f) { edit::writeDoubleDataset(f, U + "/blocks/0/data", std::vector<double>(12), {2, 2, 3}); },
       Action::LoadU, U + "/blocks/0", "data has rank 3, expected 1 or 2"},
      {"data width 2",
       [](auto& f) { edit::writeDoubleDataset(f, U + "/blocks/0/data", std::vector<double>(8), {4, 2}); },
       Action::LoadU, U + "/blocks/0", "data has 2 columns, the field has 3 component labels"},
      {"data integers",
       [](auto& f) { edit::writeIntDataset(f, U + "/blocks/0/data", std::vector<int>(12), {4, 3}); },
       Action::LoadU, U + "/blocks/0", "data is an integer, expected float32 or float64"},
      {"offsets start at 1",
       [](auto& f) { edit::writeInt64Dataset(f, I1 + "/elements/offsets", std::vector<std::int64_t>{1, 3, 6}, {3}); },
       Action::Elements, I1, "elements/offsets starts at 1, expected 0"},
      {"offsets decrease",
       [](auto& f) { edit::writeInt64Dataset(f, I1 + "/elements/offsets", std::vector<std::int64_t>{0, 7, 6}, {3}); },
       Action::Elements, I1, "elements/offsets decreases at entry 2"},
      {"offsets past connectivity",
       [](auto& f) { edit::writeInt64Dataset(f, I1 + "/elements/offsets", std::vector<std::int64_t>{0, 3, 7}, {3}); },
       Action::Elements, I1, "elements/offsets ends at 7, elements/connectivity has 6 entries"},
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

TEST(Errors, FilesThatAreNoDatabase) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("text.odb"), "not a database\n");
  EXPECT_EQ(failure(dir.file("none.odb"), Action::Open), dir.file("none.odb") + ": /: file does not exist");
  EXPECT_EQ(failure(dir.file("text.odb"), Action::Open), dir.file("text.odb") + ": /: file is not an hdf5 file");
  EXPECT_EQ(failure(dir.path(), Action::Open), dir.path() + ": /: is a directory, expected a file");
}

// Cuts the file at each of several lengths: every cut fails cleanly.
TEST(Errors, TruncatedFileThrows) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  const std::string whole = dir.file("whole.odb");
  sample::writeSample(whole, 0);
  const std::string bytes = testsupport::readFile(whole);
  for (std::size_t keep : {bytes.size() / 8, bytes.size() / 2, bytes.size() - 100}) {
    SCOPED_TRACE(keep);
    const std::string cut = dir.file("cut" + std::to_string(keep) + ".odb");
    testsupport::writeFile(cut, bytes.substr(0, keep));
    const std::string m = failure(cut, Action::LoadS);
    EXPECT_EQ(m.rfind(cut + ": /", 0), 0u) << m;
  }
}

void damage(const std::string& path, long long offset, std::size_t n, unsigned char byte) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(offset);
  for (std::size_t i = 0; i < n; ++i) f.put(static_cast<char>(byte));
}

TEST(Errors, DamagedArraysAreCaught) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  // Contiguous, no checksum: the damage reaches the reader's own checks.
  const std::string plain = dir.file("plain.odb");
  sample::writeSample(plain, 1, {.chunked = false, .checksum = false});
  const long long at = edit::rawDataOffset(plain, I1 + "/elements/offsets");
  ASSERT_GT(at, 0);
  damage(plain, at, 8, 0xff);
  EXPECT_EQ(failure(plain, Action::Elements), plain + ": " + I1 + ": elements/offsets starts at -1, expected 0");
  // Chunked with Fletcher-32: HDF5 refuses the chunk.
  const std::string summed = dir.file("summed.odb");
  sample::writeSample(summed, 1);
  const std::string bytes = testsupport::readFile(summed);
  const std::string needle(reinterpret_cast<const char*>(std::vector<double>{12, 13, 14}.data()), 24);
  const std::size_t pos = bytes.find(needle);  // row 2 of S's first block
  ASSERT_NE(pos, std::string::npos);
  // Not 0xff: Fletcher-32 cannot tell 0xffff from 0x0000.
  damage(summed, static_cast<long long>(pos), 4, 0x5a);
  const std::string m = failure(summed, Action::LoadS);
  EXPECT_EQ(m.rfind(summed + ": " + S + "/blocks/0: cannot read data", 0), 0u) << m;
}

}  // namespace
