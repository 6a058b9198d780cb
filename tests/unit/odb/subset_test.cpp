// Subsets (docs/format.md §6): which values each kind of set selects from
// each kind of block, in their original order.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

// "<instance>:<element>/<node>" of every value, with the block count.
std::vector<std::string> describe(const odb_FieldOutput& f) {
  std::vector<std::string> out;
  const odb_SequenceFieldValue& v = f.values();
  for (int i = 0; i < v.size(); ++i)
    out.push_back(v[i].instanceName().str() + ":" + std::to_string(v[i].elementLabel()) + "/" +
                  std::to_string(v[i].nodeLabel()));
  out.push_back("blocks " + std::to_string(f.bulkDataBlocks().size()));
  return out;
}

TEST(Subset, EachSetKindOnEachBlockKind) {
  struct Case {
    const char *name, *owner, *set;  // owner: "" for the assembly, else an instance or part
    bool elementSet;
    const char* field;
    std::vector<std::string> expect;
  };
  const Case cases[] = {
      {"element set on element blocks", "", "AE", true, "S", {"I1:1/-1", "I1:1/-1", "I2:7/-1", "blocks 2"}},
      {"element set on node blocks, through connectivity", "", "AE", true, "U",
       {"I1:-1/1", "I1:-1/2", "I1:-1/3", "I2:-1/1", "I2:-1/2", "blocks 2"}},
      {"instance element set on element-nodal", "I1", "IE", true, "SN", {"I1:2/2", "I1:2/3", "I1:2/4", "blocks 1"}},
      {"node set on nodal, two instances", "", "AN", false, "U", {"I1:-1/1", "I1:-1/2", "I2:-1/2", "blocks 2"}},
      {"node set on element-nodal", "", "AN", false, "SN", {"I1:1/1", "I1:1/2", "I1:2/2", "blocks 1"}},
      {"node set on integration points", "", "AN", false, "S", {"blocks 0"}},
      {"instance node set", "I1", "IN", false, "U", {"I1:-1/4", "blocks 1"}},
      {"part set", "P1", "PE", true, "S", {"blocks 0"}},
  };
  sample::Finalize finalize;
  testsupport::TempDir dir;
  sample::writeSample(dir.file("s.odb"), 0);
  const odb_Odb& odb = openOdb(dir.file("s.odb"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string owner = c.owner;
    const odb_DiscreteEntity& entity =
        owner.empty() ? static_cast<const odb_DiscreteEntity&>(odb.rootAssembly())
        : owner == "P1" ? static_cast<const odb_DiscreteEntity&>(odb.parts()["P1"])
                        : odb.rootAssembly().instances()[owner];
    const odb_Set& set = c.elementSet ? entity.elementSets(false)[c.set] : entity.nodeSets(false)[c.set];
    const odb_FieldOutput whole = sample::field(odb, c.field);
    // Twice: the second subset comes from the cached membership.
    for (int round = 0; round < 2; ++round) EXPECT_EQ(describe(whole.getSubset(set)), c.expect);
  }
  // The subset keeps the field output's attributes and the selected rows.
  const odb_FieldOutput s = sample::field(odb, "S");
  const odb_FieldOutput sub = s.getSubset(odb.rootAssembly().instances()["I1"].elementSets(false)["IE"]);
  const odb_FieldBulkData& b = sub.bulkDataBlocks()[0];  // element 2 starts at row 2 of the original
  EXPECT_EQ(std::tuple(sub.description().str(), sub.validInvariants().size(), b.numberOfElements(), b.dataDouble()[0]),
            std::tuple("Stress components", 3, 1, 12.0));
  EXPECT_EQ(sub.values()[1].mises(), s.values()[3].mises());
  EXPECT_EQ(s.getSubset(odb_Set()).values().size(), 0);  // a set that is no set selects nothing
}

}  // namespace
