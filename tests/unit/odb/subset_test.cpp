// Subsets (docs/format.md §6): which values each kind of set selects from
// each kind of block, in their original order.
#include <bit>
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

// Everything a value gives, as text.
std::string valueText(const odb_FieldValue& v) {
  std::string out = v.instanceName().str() + ":" + std::to_string(v.elementLabel()) + "/" +
                    std::to_string(v.nodeLabel()) + "/" + std::to_string(v.integrationPoint());
  for (float x : v.data()) out += " " + std::to_string(x);
  for (double x : v.dataDouble()) out += " " + std::to_string(x);
  for (float x : {v.magnitude(), v.mises(), v.maxPrincipal(), v.minPrincipal(), v.tresca()})
    out += " " + std::to_string(x);
  return out;
}

// A windowed sequence gives what the sequence of whole blocks gives, value by
// value, whatever the window, walked in order, again, and backwards; a value
// or a data() sequence taken before the window moved on still gives its own
// numbers.
TEST(Subset, WindowedValuesAreTheWholeBlocksValues) {
  struct Case {
    const char* name;
    bool large;        // writeLarge's two blocks of 500 rows, else the sample
    int precision;
    const char* field;
    const char* set;   // an element set of the assembly, or null for the whole field output
    std::size_t bytes;
  };
  const Case cases[] = {
      {"one row a window, three blocks", false, 0, "S", nullptr, 1},
      {"two rows a window, float64", false, 1, "S", nullptr, 96},
      {"vectors, rows picked through connectivity", false, 0, "U", "AE", 1},
      {"element-nodal, whole window", false, 1, "SN", nullptr, 1 << 20},
      {"windows across chunks, float32", true, 0, "S", nullptr, 7 * 24},
      {"windows across chunks, float64", true, 1, "S", nullptr, 1000},
  };
  sample::Finalize finalize;
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string(c.large ? "l" : "s") + std::to_string(c.precision) + ".odb");
    if (c.large) sample::writeLarge(path, 1000, c.precision);
    else sample::writeSample(path, c.precision);
    // Two opens: the whole sequence's reads must not serve the windowed one.
    const auto wholeDb = odb_open(path), windowDb = odb_open(path);
    auto values = [&](const odb_Odb& odb) {
      const odb_FieldOutput f = sample::field(odb, c.field);
      return c.set ? f.getSubset(odb.rootAssembly().elementSets(false)[c.set]).values() : f.values();
    };
    const odb_SequenceFieldValue whole = values(*wholeDb);
    const odb_SequenceFieldValue all = values(*windowDb);
    const odb_SequenceFieldValue windowed = all.windowed(c.bytes);
    ASSERT_EQ(windowed.size(), whole.size());
    ASSERT_GT(whole.size(), 2);
    EXPECT_EQ(windowed.storedBytes(), all.storedBytes());
    std::vector<std::string> expect;
    for (int i = 0; i < whole.size(); ++i) expect.push_back(valueText(whole[i]));
    const odb_FieldValue first = windowed[0];
    const odb_SequenceFloat firstData = first.data();
    for (int round = 0; round < 2; ++round)
      for (int i = 0; i < windowed.size(); ++i) ASSERT_EQ(valueText(windowed[i]), expect[i]) << "value " << i;
    for (int i = windowed.size() - 1; i >= 0; --i) ASSERT_EQ(valueText(windowed[i]), expect[i]) << "value " << i;
    EXPECT_EQ(valueText(first), expect[0]);
    // The whole sequence's blocks as bulk data hold its values' rows and give their invariants as the values do
    // (rows from 1 on: not from the start); a windowed sequence has none.
    const std::vector<odb_Enum::odb_InvariantEnum> codes{
        odb_Enum::MAX_PRINCIPAL, odb_Enum::MID_PRINCIPAL, odb_Enum::MIN_PRINCIPAL, odb_Enum::MISES,
        odb_Enum::TRESCA, odb_Enum::PRESS, odb_Enum::INV3, odb_Enum::MAGNITUDE, odb_Enum::MAX_INPLANE_PRINCIPAL,
        odb_Enum::MIN_INPLANE_PRINCIPAL, odb_Enum::OUTOFPLANE_PRINCIPAL};
    for (std::size_t b = 0; b < whole.blockStarts().size(); ++b) {
      const odb_FieldBulkData block = whole.block(static_cast<int>(b));
      const int rows = block.length() - 1;
      std::vector<std::vector<float>> invariants(codes.size(), std::vector<float>(static_cast<std::size_t>(rows)));
      std::vector<float*> into;
      for (auto& v : invariants) into.push_back(v.data());
      block.invariants(1, rows, codes, into);
      for (int j = 0; j < block.length(); ++j) {
        const odb_FieldValue v = whole[whole.blockStarts()[b] + j];
        const odb_SequenceDouble row = v.dataDouble();
        const double* bulk = block.dataDouble() + static_cast<std::ptrdiff_t>(j) * block.width();
        ASSERT_EQ(std::vector<double>(bulk, bulk + block.width()), std::vector<double>(row.begin(), row.end()));
        if (j == 0) continue;
        const std::vector<float> expect{v.maxPrincipal(), v.midPrincipal(), v.minPrincipal(), v.mises(), v.tresca(),
                                        v.press(), v.inv3(), v.magnitude(), v.maxInPlanePrincipal(),
                                        v.minInPlanePrincipal(), v.outOfPlanePrincipal()};
        for (std::size_t k = 0; k < codes.size(); ++k)
          ASSERT_EQ(std::bit_cast<std::uint32_t>(invariants[k][static_cast<std::size_t>(j - 1)]),
                    std::bit_cast<std::uint32_t>(expect[k])) << "row " << j << ", invariant " << codes[k];
      }
      float* one[] = {invariants[0].data()};
      try {
        block.invariants(1, rows + 1, std::span(codes).first(1), one);
        ADD_FAILURE() << "rows past the block's end";
      } catch (const odb_Exception& e) {
        // The file and the block, or a subset's own rows, which name no file.
        const std::string what = e.what();
        EXPECT_TRUE(what.starts_with(path + ": /steps/") || (c.set && what.find("(subset)") != std::string::npos))
            << what;
      }
      EXPECT_THROW(block.invariants(0, 1, std::span(codes).first(2), one), odb_Exception);
    }
    EXPECT_THROW(windowed.block(0), odb_Exception);
    EXPECT_THROW(whole.block(static_cast<int>(whole.blockStarts().size())), odb_Exception);
    EXPECT_EQ(std::vector<float>(firstData.begin(), firstData.end()),
              std::vector<float>(whole[0].data().begin(), whole[0].data().end()));
  }
}

}  // namespace
