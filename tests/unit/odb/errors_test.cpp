// Every broken file gives an odb_Exception naming the file and the object path, with the exact text. (Cut and
// damaged files: tests/corruption; a text file and format_version 1: odbinfo_test.cpp, tests/unit/odb_upgrade.)
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

#include "sample_db.h"
#include "test_support.h"
#include "odb_edit.h"

namespace {

namespace edit = odbw::edit;
using Mutate = std::function<void(const std::string&)>;

// Load*: every label array and the values of each block; Bulk*: only what a
// whole-model run asks for (element count and values).
enum class Action { Open, FieldOutputs, LoadS, LoadU, LoadSN, BulkS, BulkU, Elements, SetIE };

const std::string F0 = "/steps/Step-1/frames/0/fieldOutputs/", S = F0 + "S", U = F0 + "U", SN = F0 + "SN",
                  I1 = "/assembly/instances/I1", HU1 = "/steps/Step-1/historyRegions/Node I1.1/historyOutputs/U1";

// The field output an action loads, or null; a Bulk* action reads no node labels or integration points.
const char* fieldOf(Action a) {
  return a == Action::LoadS || a == Action::BulkS ? "S" : a == Action::LoadU || a == Action::BulkU ? "U"
         : a == Action::LoadSN ? "SN" : nullptr;
}
bool bulk(Action a) { return a == Action::BulkS || a == Action::BulkU; }

// Opens the file, takes the action and returns the message of the odb_Exception it must throw.
std::string failure(const std::string& path, Action a) {
  return sample::messageOf([&] {
    const odb_Odb& odb = openOdb(path);
    if (a == Action::FieldOutputs) odb.steps()["Step-1"].frames()[0].fieldOutputs();
    // A block's header is read with the blocks, its labels and values on first use.
    const odb_FieldOutput field = fieldOf(a) ? sample::field(odb, fieldOf(a)) : odb_FieldOutput();
    if (fieldOf(a))
      for (const odb_FieldBulkData& b : field.bulkDataBlocks()) {
        b.numberOfElements();
        if (!bulk(a)) b.integrationPoints();
        b.data();
      }
    if (a == Action::Elements) odb.rootAssembly().instances()["I1"].elements();
    if (a == Action::SetIE) odb.rootAssembly().instances()["I1"].elementSets(false)["IE"].labels("I1");
  });
}

// The same, reading each block in pieces of one row through odb_BlockReader: the same checks, the same messages.
std::string streamedFailure(const std::string& path, Action a) {
  return sample::messageOf([&] {
    const auto odb = odb_open(path);
    const odb_FieldOutput field = sample::field(*odb, fieldOf(a));
    for (const odb_FieldBulkData& b : field.bulkDataBlocks()) {
      odb_BlockReader r(b);
      std::vector<std::byte> scratch(r.countingBytes());  // counted through the caller's array
      r.numberOfElements(scratch);
      std::vector<double> row(static_cast<std::size_t>(r.width()));
      int label = 0;
      for (int i = 0; i < r.length(); ++i) {
        if (!bulk(a)) r.readNodeLabels(i, 1, &label), r.readIntegrationPoints(i, 1, &label);
        r.read(i, 1, row.data());
      }
    }
  });
}

// The nodes of element set IE for a subset of the nodal field U: the mesh read in pieces, the same checks.
std::string nodesFailure(const std::string& path) {
  return sample::messageOf([&] {
    const odb_Odb& odb = openOdb(path);
    sample::field(odb, "U").getSubset(odb.rootAssembly().instances()["I1"].elementSets(false)["IE"]);
  });
}

// The message after "file: ": the object path it names, then what is wrong; "" for none.
struct Case { Mutate mutate; Action action; std::string message; };

Mutate setInt(std::string o, const char* a, long long v) { return [=](auto& f) { edit::setIntAttribute(f, o, a, v); }; }
Mutate setStr(std::string o, const char* a, const char* v) {
  return [=](auto& f) { edit::setStringAttribute(f, o, a, v); };
}
Mutate remove(std::string obj, const char* attr) { return [=](auto& f) { edit::removeAttribute(f, obj, attr); }; }
Mutate unlink(std::string obj) { return [=](auto& f) { edit::removeLink(f, obj); }; }
Mutate move(std::string from, std::string to) { return [=](auto& f) { edit::moveLink(f, from, to); }; }
using Shape = std::vector<unsigned long long>;
using I64 = std::vector<std::int64_t>;
using V = std::vector<int>;
// Integer datasets, one-dimensional unless a shape is given.
Mutate ints(std::string at, V v, Shape s = {}) {
  return [=](auto& f) { edit::writeIntDataset(f, at, v, s.empty() ? Shape{v.size()} : s); };
}
Mutate ints(std::string at, I64 v) { return [=](auto& f) { edit::writeInt64Dataset(f, at, v, {v.size()}); }; }
Mutate doubles(std::string at, std::size_t n, Shape s) {
  return [=](auto& f) { edit::writeDoubleDataset(f, at, std::vector<double>(n), s); };
}

TEST(Errors, EachBrokenFileGivesItsExactMessage) {
  using enum Action;
  namespace fs = std::filesystem;
  const std::string b0 = S + "/blocks/0", u0 = U + "/blocks/0", sn0 = SN + "/blocks/0", St = "/steps/Step-1",
                    F = St + "/frames", IE = I1 + "/elementSets/IE", off = I1 + "/elements/offsets";
  const Case cases[] = {
      {[](auto& f) { fs::remove(f); }, Open, "/: file does not exist"},
      {[](auto& f) { fs::remove(f), fs::create_directory(f); }, Open, "/: is a directory, expected a file"},
      {setStr("/", "format", "xyz"), Open, "/: file is not an output database"},
      {remove("/", "format_version"), Open, "/: format_version is missing"},
      {setInt("/", "format_version", 3), Open, "/: was written by a newer version (format_version 3)"},
      {setInt("/", "format_version", 0), Open, "/: unknown format_version 0"},
      {setStr("/", "format_version", "2"), Open, "/: format_version is a string, expected an integer"},
      {setStr(St, "mass", "heavy"), Open, St + ": mass is a string, expected a number"},
      {[=](auto& f) { edit::setDoubleAttribute(f, St, "massCenter", 1.5); }, Open,
       St + ": massCenter has 1 values, expected 3"},
      {setInt(F + "/0", "incrementNumber", 5000000000LL), Open,
       F + "/0: incrementNumber is 5000000000, expected a 32-bit integer"},
      {move(F + "/1", F + "/01"), Open, F + ": found frame '01', expected frames named 0..1"},
      {[=](auto& f) { unlink(F + "/1")(f), ints(F + "/1", V{1, 2, 3, 4})(f); }, Open,
       F + "/1: is a dataset, expected a group"},
      {doubles(HU1 + "/data", 2, {2}), Open, HU1 + ": data has rank 1, expected 2"},
      {ints(off, I64{0, 3}), Open, I1 + ": elements/offsets has 2 entries, expected 3 (one more than elements/labels)"},
      {doubles(I1 + "/nodes/coordinates", 8, {4, 2}), Open,
       I1 + ": nodes/coordinates does not have the shape [4, 3] of nodes/labels"},
      {unlink(off), Open, I1 + ": elements/connectivity is present without elements/offsets"},
      {remove(S, "type"), FieldOutputs, S + ": type is missing"},
      {setInt(S, "componentLabels", 3), FieldOutputs, S + ": componentLabels is an integer, expected a string"},
      {remove(b0, "position"), LoadS, b0 + ": position is missing"},
      {setStr(b0, "position", "EDGE"), LoadS,
       b0 + ": position is 'EDGE', expected NODAL, INTEGRATION_POINT, CENTROID, WHOLE_ELEMENT or ELEMENT_NODAL"},
      {move(S + "/blocks/2", S + "/blocks/5"), LoadS, S + "/blocks: found block '5', expected blocks named 0..2"},
      {ints(b0 + "/elementLabels", V{1, 2, 1, 2}), LoadS, b0 + ": the values of element 1 do not stand together"},
      {ints(b0 + "/integrationPoints", V{0, 1, 1, 2}), LoadS,
       b0 + ": integrationPoints holds 0 at entry 0, expected 1 or more"},
      {ints(sn0 + "/elementLabels", V{1, 1, 2, 2, 2, 2}), LoadSN, sn0 + ": element 2 has 4 values, element 1 has 2"},
      {ints(sn0 + "/elementLabels", V{1, 1, 1, 1, 2, 2}), LoadSN, sn0 + ": element 2 has 2 values, element 1 has 4"},
      {ints(sn0 + "/elementLabels", V{1, 1, 2, 2, 3, 4}), LoadSN, sn0 + ": element 3 has 1 values, element 1 has 2"},
      {ints(u0 + "/nodeLabels", V{1, 2, 3}), LoadU, u0 + ": nodeLabels has 3 entries, data has 4 rows"},
      {ints(b0 + "/elementLabels", V{1, 1, 2, 2, 2}), BulkS, b0 + ": elementLabels has 5 entries, data has 4 rows"},
      {ints(sn0 + "/elementLabels", V{1, 1, 1, 2, 2, 1}), BulkS, ""},  // SN is not read
      {ints(sn0 + "/elementLabels", V{2, 2, 1, 1, 2, 2}), LoadSN,
       sn0 + ": the values of element 2 do not stand together"},
      // A whole-model run never reads node labels or integration points.
      {ints(b0 + "/integrationPoints", V{0, 1, 1, 2}), BulkS, ""},
      {ints(u0 + "/nodeLabels", V{1, 2, 3}), BulkU, ""},
      {ints(u0 + "/nodeLabels", V{1, 2, 3, 4}, {2, 2}), LoadU, u0 + ": nodeLabels has rank 2, expected 1"},
      {ints(u0 + "/nodeLabels", I64{1, 2, 3, 1LL << 33}), LoadU,
       u0 + ": nodeLabels holds 8589934592 at entry 3, which does not fit 32 bits"},
      {unlink(u0 + "/data"), LoadU, u0 + ": data is missing"},
      {doubles(u0 + "/data", 12, {2, 2, 3}), LoadU, u0 + ": data has rank 3, expected 1 or 2"},
      {doubles(u0 + "/data", 8, {4, 2}), LoadU, u0 + ": data has 2 columns, the field has 3 component labels"},
      {ints(u0 + "/data", V(12), {4, 3}), LoadU, u0 + ": data is an integer, expected float32 or float64"},
      // A set's member list is read when the set is first used; its shape and type are checked at open.
      {ints(IE, I64{2, 1LL << 33}), Open, ""},
      {ints(IE, I64{2, 1LL << 33}), SetIE,
       I1 + "/elementSets: IE holds 8589934592 at entry 1, which does not fit 32 bits"},
      {ints(IE, V{2, 3}, {1, 2}), Open, I1 + "/elementSets: IE has rank 2, expected 1"},
      {ints(off, I64{0, 7, 6}), Elements, I1 + ": elements/offsets decreases at entry 2"},
      {ints(off, I64{-1, 3, 6}), Elements, I1 + ": elements/offsets starts at -1, expected 0"},
      {ints(off, I64{0, 3, 7}), Elements, I1 + ": elements/offsets ends at 7, elements/connectivity has 6 entries"},
  };
  sample::Finalize finalize;
  testsupport::TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string path = dir.file(std::to_string(n++) + ".odb");
    sample::writeSample(path, 1);
    c.mutate(path);
    const std::string expected = c.message.empty() ? "(no exception)" : path + ": " + c.message;
    EXPECT_EQ(failure(path, c.action), expected);
    if (fieldOf(c.action)) { EXPECT_EQ(streamedFailure(path, c.action), expected) << "in pieces"; }
    if (c.action == Elements) { EXPECT_EQ(nodesFailure(path), expected) << "through a set's nodes"; }
  }
}

// The library silences HDF5 only inside its own calls: a caller's handler stays set through opens, reads and a
// failing open (whose HDF5 failure it never sees), and still hears the caller's own failing call.
TEST(Errors, CallersHdf5HandlerStaysTheirs) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  const std::string good = dir.file("good.odb"), cut = dir.file("cut.odb");
  sample::writeSample(good, 0);
  std::filesystem::copy_file(good, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(good) / 2);
  edit::countHdf5Errors();
  {
    const auto odb = odb_open(good);
    EXPECT_EQ(sample::field(*odb, "S").bulkDataBlocks()[0].data()[23], 23.0f);
  }
  EXPECT_EQ(sample::messageOf([&] { odb_open(cut); }).rfind(cut + ": /: cannot open the file", 0), 0u);
  EXPECT_EQ(failure(dir.file("none.odb"), Action::Open), dir.file("none.odb") + ": /: file does not exist");
  const bool kept = edit::ownHandlerSet();
  const int heard = edit::hdf5ErrorsCounted();
  edit::failOwnHdf5Call(dir.file("none.odb"));
  const int ownHeard = edit::hdf5ErrorsCounted();
  edit::printHdf5Errors();
  EXPECT_EQ(std::tuple(kept, heard, ownHeard), std::tuple(true, 0, 1));
}

}  // namespace
