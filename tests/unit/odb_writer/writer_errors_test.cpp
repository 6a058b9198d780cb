// The writer's own checks: each bad call fails with a message naming the
// file and the object path, and leaves the writer usable. Also the close
// contract and the edit functions used by corruption tests.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "inspect.h"
#include "odb/odb_writer.h"

namespace {

using odbw::SetKind;
using odbw::Writer;

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const odb_Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// A writer holding one part, one instance, a step with one frame, a field
// output U and a history region.
void prepare(Writer& w) {
  w.addPart("P");
  w.addInstance("P-1", "P");
  w.addStep("Step-1");
  w.addFrame("Step-1");
  odbw::FieldInfo u;
  u.type = odb_Enum::VECTOR;
  u.componentLabels = {"U1", "U2"};
  w.addFieldOutput("Step-1", 0, "U", u);
  w.addHistoryRegion("Step-1", "R");
}

TEST(WriterErrors, MessagesNameFileAndObject) {
  struct Case {
    const char* name;
    std::function<void(Writer&)> call;
    const char* message;
  };
  const std::vector<float> six(6, 1.0f);
  const Case cases[] = {
      {"unknown step", [](Writer& w) { w.addFrame("Step-9"); }, "e.odb: /steps/Step-9: no such step"},
      {"frame out of range", [](Writer& w) { w.addFieldOutput("Step-1", 1, "S", {}); },
       "e.odb: /steps/Step-1/frames/1: no such frame, the step has 1 frames"},
      {"unknown field output", [&](Writer& w) { w.addBlock("Step-1", 0, "S", {}, six, 6); },
       "e.odb: /steps/Step-1/frames/0/fieldOutputs/S: no such field output"},
      {"data not a multiple of width", [&](Writer& w) { w.addBlock("Step-1", 0, "U", {}, six, 4); },
       "e.odb: /steps/Step-1/frames/0/fieldOutputs/U/blocks/0: data has 6 values, not a multiple of width 4"},
      {"node labels against rows",
       [&](Writer& w) {
         odbw::BlockInfo b;
         b.nodeLabels = {1, 2, 3, 4};
         w.addBlock("Step-1", 0, "U", b, six, 2);
       },
       "e.odb: /steps/Step-1/frames/0/fieldOutputs/U/blocks/0: nodeLabels has 4 entries, data has 3 rows"},
      {"one-dimensional data of width 2",
       [&](Writer& w) {
         odbw::BlockInfo b;
         b.oneDimensional = true;
         w.addBlock("Step-1", 0, "U", b, six, 2);
       },
       "e.odb: /steps/Step-1/frames/0/fieldOutputs/U/blocks/0: one-dimensional data needs width 1, got 2"},
      {"duplicate part", [](Writer& w) { w.addPart("P"); }, "e.odb: /parts/P: already exists"},
      {"duplicate field output", [](Writer& w) { w.addFieldOutput("Step-1", 0, "U", {}); },
       "e.odb: /steps/Step-1/frames/0/fieldOutputs/U: already exists"},
      {"unknown part", [](Writer& w) { w.addPartSet("Q", SetKind::Node, "N", std::vector<int>{1}); },
       "e.odb: /parts/Q: no such part"},
      {"coordinates against nodes",
       [](Writer& w) {
         w.setInstanceNodes("P-1", std::vector<int>{1, 2}, std::vector<double>(5, 0.0));
       },
       "e.odb: /assembly/instances/P-1/nodes/coordinates: coordinates has 5 values, expected 6 (3 for each of 2 "
       "nodes)"},
      {"offsets against elements",
       [](Writer& w) {
         w.setInstanceElements("P-1", std::vector<int>{1, 2}, std::vector<std::int64_t>{0, 2}, std::vector<int>{1, 2});
       },
       "e.odb: /assembly/instances/P-1/elements/offsets: offsets has 2 entries, expected 3"},
      {"name with a slash", [](Writer& w) { w.addStep("a/b"); }, "e.odb: /steps: invalid name \"a/b\""},
      {"unknown history region", [&](Writer& w) { w.addHistoryOutput("Step-1", "X", "U1", {}, six, 2); },
       "e.odb: /steps/Step-1/historyRegions/X: no such history region"},
      {"history data not a multiple of width", [&](Writer& w) { w.addHistoryOutput("Step-1", "R", "U1", {}, six, 4); },
       "e.odb: /steps/Step-1/historyRegions/R/historyOutputs/U1: data has 6 values, not a multiple of width 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string path = dir.file("e.odb");
    Writer w(path);
    prepare(w);
    const std::string message = messageOf([&] { c.call(w); });
    EXPECT_EQ(message.substr(message.find("e.odb")), c.message);
    EXPECT_EQ(message.substr(0, path.size()), path);
    // The failed call must leave the writer able to go on.
    EXPECT_NO_THROW(w.addFrame("Step-1"));
    EXPECT_NO_THROW(w.close());
  }
}

TEST(WriterErrors, FormatOneHistoryNeedsWidthTwo) {
  testsupport::TempDir dir;
  odbw::Options options;
  options.formatVersion = 1;
  Writer w(dir.file("v1.odb"), options);
  w.addStep("Step-1");
  w.addHistoryRegion("Step-1", "R");
  EXPECT_EQ(messageOf([&] { w.addHistoryOutput("Step-1", "R", "U", {}, std::vector<double>(6, 0.0), 3); }),
            dir.file("v1.odb") +
                ": /steps/Step-1/historyRegions/R/historyOutputs/U: format 1 stores history as time and value, "
                "width must be 2, got 3");
}

TEST(WriterErrors, CloseReportsAndLaterCallsFail) {
  testsupport::TempDir dir;
  const std::string path = dir.file("c.odb");
  Writer w(path);
  w.close();
  EXPECT_EQ(messageOf([&] { w.addStep("s"); }), path + ": /: the file is closed");
  EXPECT_EQ(messageOf([&] { w.close(); }), path + ": /: the file is closed");
  const std::string missing = dir.file("no/such/folder/x.odb");
  EXPECT_EQ(messageOf([&] { Writer bad(missing); }), missing + ": /: cannot create the file");
}

TEST(WriterErrors, DestructorClosesAnUnclosedFile) {
  testsupport::TempDir dir;
  {
    Writer w(dir.file("d.odb"));
    w.addStep("s");
  }
  EXPECT_NE(inspectH5("d.odb", dir.path()).find("/steps/s order=tracked"), std::string::npos);
}

TEST(WriterEdit, EditsChangeTheFile) {
  testsupport::TempDir dir;
  const std::string path = dir.file("e.odb");
  {
    Writer w(path);
    prepare(w);
    w.addFrame("Step-1");
    w.addBlock("Step-1", 0, "U", {}, std::vector<float>{1, 2}, 2);
    w.close();
  }
  namespace edit = odbw::edit;
  edit::setIntAttribute(path, "/", "format_version", 7);
  edit::setDoubleAttribute(path, "/steps/Step-1", "mass", -2.5);
  edit::setStringAttribute(path, "/steps/Step-1/frames/0", "description", "d");
  edit::setStringArrayAttribute(path, "/steps/Step-1/frames/0/fieldOutputs/U", "componentLabels", {"A"});
  edit::removeAttribute(path, "/steps/Step-1/frames/0/fieldOutputs/U", "type");
  edit::moveLink(path, "/steps/Step-1/frames/1", "/steps/Step-1/frames/5");
  edit::removeLink(path, "/parts/P");
  edit::writeIntDataset(path, "/x/labels", std::vector<int>{1, 2, 3, 4}, {2, 2});
  edit::writeInt64Dataset(path, "/x/offsets", std::vector<std::int64_t>{0, 9}, {2});
  edit::writeFloatDataset(path, "/x/labels", std::vector<float>{1.5f}, {1});
  edit::writeDoubleDataset(path, "/x/d", std::vector<double>{2.5}, {});
  edit::createGroup(path, "/y/z");
  const std::string listing = inspectH5("e.odb", dir.path());
  EXPECT_EQ(lineWith(listing, "@format_version"), "@format_version i8 = 7");
  EXPECT_EQ(lineWith(listing, "@mass"), "@mass f8 = -2.5");
  EXPECT_EQ(lineWith(listing, "@description"), "@description str-vlen-utf-8 = 'd'");
  EXPECT_EQ(lineWith(listing, "@componentLabels"), "@componentLabels str-vlen-utf-8[1] = ['A']");
  EXPECT_EQ(lineWith(listing, "@type"), "");
  EXPECT_EQ(lineWith(listing, "/frames/1"), "");
  EXPECT_EQ(lineWith(listing, "/frames/5"), "/steps/Step-1/frames/5 order=tracked");
  EXPECT_EQ(lineWith(listing, "/parts/P"), "");
  EXPECT_EQ(lineWith(listing, "labels"), "labels f4 [1] chunks=none fletcher32=False = [1.5]");
  EXPECT_EQ(lineWith(listing, "offsets"), "offsets i8 [2] chunks=none fletcher32=False = [0 9]");
  EXPECT_EQ(lineWith(listing, "d f8"), "d f8 [] chunks=none fletcher32=False = [2.5]");
  EXPECT_EQ(lineWith(listing, "/y/z"), "/y/z order=tracked");
  EXPECT_GT(edit::rawDataOffset(path, "/x/labels"), 0);
  EXPECT_EQ(edit::rawDataOffset(path, "/steps/Step-1/frames/0/fieldOutputs/U/blocks/0/data"), -1);
  EXPECT_EQ(messageOf([&] { edit::removeLink(path, "/nothing/here"); }), path + ": /nothing/here: does not exist");
  EXPECT_EQ(messageOf([&] {
              edit::writeIntDataset(path, "/x/bad", std::vector<int>{1, 2, 3}, {2, 2});
            }),
            path + ": /x/bad: 3 values do not fill the shape (4)");
}

}  // namespace
