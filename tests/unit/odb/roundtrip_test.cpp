// What odbinfo's listing of the sample does not show, read back in both precisions: labels, coordinates, connectivity,
// values, history data, tensor columns placed by their labels; and the runtime's starts, stops and closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>
#include <tuple>
#include <span>
#include <vector>

#include "odb/buffer_pool.h"
#include "odb/fletcher.h"
#include "odb_edit.h"
#include "sample_db.h"
#include "test_support.h"

namespace {

using std::tuple;
std::vector<int> ints(const odb_SequenceInt& s) { return std::vector<int>(s.begin(), s.end()); }

TEST(RoundTrip, LabelsValuesAndHistoryInBothPrecisions) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  for (int precision : {0, 1}) {
    SCOPED_TRACE(precision);
    const std::string path = dir.file(std::to_string(precision) + ".odb");
    sample::writeSample(path, precision);
    const odb_Odb& odb = openOdb(path, true, true);
    const odb_Assembly& a = odb.rootAssembly();
    EXPECT_EQ(tuple(ints(a.elementSets(false)["AE"].labels("I2")), ints(odb.parts()["P1"].elementSets(true)["PE"].labels(""))),
              tuple(std::vector<int>{7}, std::vector<int>{1, 2}));
    const odb_SequenceNode nodes = a.instances()["I1"].nodes();
    EXPECT_EQ(tuple(nodes.size(), nodes[2].label(), nodes[2].coordinates()[1]), tuple(4, 3, 1.0));
    const odb_SequenceElement elements = a.instances()["I1"].elements();
    EXPECT_EQ(tuple(elements[1].label(), ints(elements[1].connectivity())), tuple(2, std::vector<int>{2, 3, 4}));

    const odb_FieldOutput s = sample::field(odb, "S");
    const odb_FieldBulkData& ip = s.bulkDataBlocks()[0];
    EXPECT_EQ(tuple(ip.integrationPoints()[3], ip.elementLabels()[2], ip.componentLabels()[5].str(), ip.nodeLabels()),
              tuple(2, 2, "23", nullptr));
    EXPECT_EQ(tuple(ip.data()[23], ip.dataDouble()[7]), tuple(23.0f, 7.0));
    const odb_FieldOutput uField = sample::field(odb, "U");  // keeps its values alive
    const odb_SequenceFieldValue& u = uField.values();
    EXPECT_EQ(tuple(u.size(), u[3].nodeLabel(), u[3].elementLabel(), u[3].data()[2], u[4].dataDouble()[1]),
              tuple(6, 4, -1, 33.0f, 4.0));
    EXPECT_EQ(tuple(u[0].nodeLabel(), u[4].magnitude(), u[1].mises()), tuple(1, 5.0f, 0.0f));  // backwards; (3, 4, 0)
    EXPECT_THROW(u.constGet(6), odb_Exception);
    const odb_FieldOutput ev = sample::field(odb, "EV");  // mises: zeros, never null, for a non-tensor
    EXPECT_EQ(tuple(s.values()[1].integrationPoint(), ev.values()[1].sectionPoint(), ev.bulkDataBlocks()[0].mises()[1]),
              tuple(2, 3, 0.0f));

    const odb_HistoryRegion& node = odb.steps()["Step-1"].historyRegions()["Node I1.1"];
    EXPECT_EQ(tuple(node.historyPoint().region().type(), node.historyOutputs()["U1"].data()[2][1]),
              tuple(odb_Enum::NODE_SET, 4.0f));  // the assembly's set AN
  }
  odb_finalizeAPI();
  // The labels place the columns: S's element 7 made [[2,0,1],[0,8,0],[1,0,2]] in shuffled columns.
  const std::string S = "/steps/Step-1/frames/0/fieldOutputs/S";
  odbw::edit::setStringArrayAttribute(dir.file("1.odb"), S, "componentLabels", {"S13", "S22", "S11", "S33", "S12", "S23"});
  odbw::edit::writeDoubleDataset(dir.file("1.odb"), S + "/blocks/2/data", std::vector<double>{1, 8, 2, 2, 0, 0}, {1, 6});
  const odb_FieldOutput st = sample::field(openOdb(dir.file("1.odb")), "S");
  const odb_FieldValue v = st.values()[4];
  EXPECT_NEAR(v.mises(), std::sqrt(39.0), 1e-4);
  EXPECT_NEAR(v.minPrincipal(), 1.0, 1e-4);
  EXPECT_EQ(st.bulkDataBlocks()[1].mises()[0], v.mises());
}

// The sum as HDF5 writes it, a word at a time, against the library's runs of words: lengths around the vector width and
// the fold every 360 words, odd lengths, and words of all ones, where HDF5's second sum wraps at 32 bits.
TEST(Fletcher32, AgreesWithTheWordAtATimeSum) {
  auto reference = [](const unsigned char* d, std::size_t bytes) {
    std::uint32_t a = 0, b = 0;
    for (std::size_t left = bytes / 2; left > 0;) {
      std::size_t run = std::min<std::size_t>(left, 360);
      left -= run;
      for (; run > 0; --run, d += 2) a += std::uint32_t(d[0]) << 8 | d[1], b += a;
      a = (a & 0xffff) + (a >> 16), b = (b & 0xffff) + (b >> 16);
    }
    if (bytes % 2) a += std::uint32_t(*d) << 8, b += a, a = (a & 0xffff) + (a >> 16), b = (b & 0xffff) + (b >> 16);
    a = (a & 0xffff) + (a >> 16), b = (b & 0xffff) + (b >> 16);
    return b << 16 | a;
  };
  std::vector<unsigned char> data(5000);
  std::uint32_t seed = 7;
  for (int fill : {-1, 0xff, 0}) {
    for (auto& c : data) c = fill >= 0 ? static_cast<unsigned char>(fill) : static_cast<unsigned char>((seed = seed * 1664525u + 1013904223u) >> 24);
    for (std::size_t n : {0, 1, 2, 31, 32, 33, 719, 720, 721, 722, 1441, 4999, 5000}) {
      SCOPED_TRACE(testing::Message() << "fill " << fill << ", " << n << " bytes");
      EXPECT_EQ(odb_detail::fletcher32(data.data(), n), reference(data.data(), n));
    }
  }
}

// Starts and stops of the runtime are counted once; a closed database refuses reads; read-write is refused.
TEST(Runtime, CountsStartsAndStopsAndCloses) {
  testsupport::TempDir dir;
  const std::string path = dir.file("a.odb");
  sample::writeSample(path, 0);
  int active = 1;
  const int starts = odb_detail::runtimeStartCount(), stops = odb_detail::runtimeStopCount();
  QVXStsStdB_initialize(active);
  odb_initializeAPI();
  odb_Odb& odb = openOdb(path);
  const odb_FieldOutput s = sample::field(odb, "S");  // not loaded yet
  odb.close();
  EXPECT_FALSE(odb.isOpen());
  EXPECT_THROW(odb.steps(), odb_Exception);
  EXPECT_THROW(s.values(), odb_Exception);
  odb_finalizeAPI();
  QVXStsStdB_finalize(active);
  EXPECT_EQ(tuple(active, odb_detail::runtimeStartCount(), odb_detail::runtimeStopCount()),
            tuple(1, starts + 1, stops + 1));  // the caller's counter is its own
  EXPECT_EQ(sample::messageOf([&] { openOdb(path, false); }),
            path + ": /: databases open read-only, readOnly must be true");
}

// The fixed entry points keep nothing of a closed database: 10,000 opens and closes leave the heap as it was.
TEST(Runtime, OpenAndCloseTenThousandTimesKeepsMemoryFlat) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  const std::string path = dir.file("empty.odb");
  odbw::Writer(path).close();
  const auto rounds = [&](int n) {
    for (int i = 0; i < n; ++i) { odb_Odb& odb = openOdb(path); odb.steps(); odb.close(); }
  };
  rounds(500);  // HDF5's free lists and the heap settle
  const long before = testsupport::heapBytesInUse();
  rounds(9500);
  EXPECT_LT(testsupport::heapBytesInUse() - before, 64 * 1024);
}

// A block's arrays stay valid after its database is destroyed, pooled or not; the pool lives exactly as long as
// the last array taken from it.
TEST(Ownership, ArraysOutliveTheirDatabase) {
  testsupport::TempDir dir;
  const std::string path = dir.file("large.odb");
  sample::writeLarge(path, 1 << 17, 0);
  for (const bool pooled : {true, false}) {
    SCOPED_TRACE(pooled);
    auto odb = odb_open(path, {.pooledArrays = pooled});
    odb_FieldBulkData block = sample::field(*odb, "S").bulkDataBlocks()[1];
    const float *data = block.data(), *mises = block.mises();
    const int* elements = block.elementLabels();
    const std::weak_ptr<odb_detail::ArrayPool> pool = odb_detail::poolOf(block.impl());
    const bool hadPool = !pool.expired();
    odb.reset();
    const int last = block.length() - 1;
    EXPECT_EQ(tuple(hadPool, pool.expired(), data[last * 6 + 5], elements[last], mises[0] > 0),
              tuple(pooled, !pooled, 71.0f * 6, (1 << 17) / 4, true));  // row 131071: 71 * (k + 1)
    block = odb_FieldBulkData();
    EXPECT_TRUE(pool.expired());
  }
}

// A block's arrays as the whole read gives them, or as odb_BlockReader gives them in pieces of `piece` rows
// (0: the rows it suggests); absent label arrays are empty.
struct Arrays {
  std::vector<float> floats, mises;
  std::vector<double> doubles;
  std::vector<int> elements, nodes, points;
  int count = 0;
  bool operator==(const Arrays&) const = default;
};

Arrays whole(const odb_FieldBulkData& b) {
  const auto n = static_cast<std::size_t>(b.length()), values = n * static_cast<std::size_t>(b.width());
  auto labels = [&](const int* p) { return p ? std::vector<int>(p, p + n) : std::vector<int>(); };
  return {std::vector<float>(b.data(), b.data() + values), std::vector<float>(b.mises(), b.mises() + n),
          std::vector<double>(b.dataDouble(), b.dataDouble() + values), labels(b.elementLabels()),
          labels(b.nodeLabels()), labels(b.integrationPoints()), b.numberOfElements()};
}

Arrays inPieces(const odb_FieldBulkData& b, int piece) {
  odb_BlockReader r(b);
  const int n = r.length(), w = r.width();
  if (piece == 0) piece = r.pieceRows();
  Arrays a;
  a.floats.resize(static_cast<std::size_t>(n * w)), a.doubles.resize(a.floats.size()), a.mises.resize(std::size_t(n));
  a.elements.resize(r.hasElementLabels() ? a.mises.size() : 0), a.nodes.resize(r.hasNodeLabels() ? a.mises.size() : 0);
  a.points.resize(r.hasIntegrationPoints() ? a.mises.size() : 0);
  for (int first = 0; first < n; first += piece) {
    const int k = std::min(piece, n - first);
    r.read(first, k, std::span(a.floats).subspan(static_cast<std::size_t>(first * w)));  // the rest as room
    r.read(first, k, a.doubles.data() + first * w);
    if (r.precision() == 0) r.mises(a.floats.data() + first * w, k, a.mises.data() + first);
    else r.mises(a.doubles.data() + first * w, k, a.mises.data() + first);
    if (!a.elements.empty()) r.readElementLabels(first, k, a.elements.data() + first);
    if (!a.nodes.empty()) r.readNodeLabels(first, k, a.nodes.data() + first);
    if (!a.points.empty()) r.readIntegrationPoints(first, k, a.points.data() + first);
  }
  // A fresh reader that counts the labels through the caller's array counts the same.
  odb_BlockReader fresh(b);
  std::vector<std::byte> scratch(fresh.countingBytes());
  const int counted = fresh.numberOfElements(scratch);
  a.count = r.numberOfElements() == counted ? counted : -2;
  return a;
}

// Every position, both precisions, whole blocks and subsets, pieces that cut chunks or hold several.
TEST(BlockReader, PiecesGiveWhatTheWholeReadGives) {
  // set: an assembly set, "" for the field output itself; large: writeLarge's two blocks of 65,536 rows (chunks of
  // 43,690 float rows).
  const struct Case { const char *name, *field, *set; bool large; std::vector<int> pieces; } cases[] = {
      {"integration points and centroid", "S", "", false, {1, 3, 0}},
      {"nodal, two instances", "U", "", false, {1, 2, 0}},
      {"element-nodal", "SN", "", false, {1, 4, 0}},
      {"whole element, one column", "EV", "", false, {1, 0}},
      {"element set", "S", "AE", false, {1, 2, 0}},
      {"node set", "U", "AN", false, {1, 0}},
      {"element set through connectivity", "U", "AE", false, {1, 2}},
      {"chunks cut and whole", "S", "", true, {1000, 40000, 0, 65536}},
  };
  sample::Finalize finalize;
  testsupport::TempDir dir;
  for (int precision : {0, 1}) {
    const std::string small = dir.file("s" + std::to_string(precision) + ".odb"),
                      large = dir.file("l" + std::to_string(precision) + ".odb");
    sample::writeSample(small, precision, {.chunkBytes = 40});  // chunks of one to ten rows
    sample::writeLarge(large, 1 << 17, precision);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (precision ? " float64" : " float32"));
      const std::string path = c.large ? large : small;
      const auto read = [&](const odb_Odb& odb) {
        const odb_FieldOutput f = sample::field(odb, c.field);
        const auto& es = odb.rootAssembly().elementSets(false);
        return *c.set ? f.getSubset(es.isMember(c.set) ? es[c.set] : odb.rootAssembly().nodeSets(false)[c.set]) : f;
      };
      const auto whole_odb = odb_open(path);
      const auto expected = read(*whole_odb).bulkDataBlocks();
      ASSERT_GT(expected.size(), 0);
      for (int piece : c.pieces) {
        const auto odb = odb_open(path);  // nothing read yet: the reader reads the file
        const odb_FieldOutput f = read(*odb);
        for (int i = 0; i < expected.size(); ++i) EXPECT_EQ(inPieces(f.bulkDataBlocks()[i], piece), whole(expected[i])) << piece;
      }
    }
  }
  // What the block holds already is copied; suggested pieces are whole chunks; no read past the end.
  const auto odb = odb_open(dir.file("l0.odb"));
  const odb_FieldBulkData b = sample::field(*odb, "S").bulkDataBlocks()[1];
  odb_BlockReader r(b);
  float row[6];
  EXPECT_EQ(std::tuple(r.pieceRows(1 << 20), r.pieceRows(100), r.pieceRows(3 << 20)), std::tuple(43690, 43690, 65536));
  const std::string at = dir.file("l0.odb") + ": /steps/Step-1/frames/0/fieldOutputs/S/blocks/1: rows ";
  EXPECT_EQ(sample::messageOf([&] { r.read(65535, 2, row); }),
            at + "[65535, 65537) asked for, the block has 65536 rows");
  EXPECT_EQ(sample::messageOf([&] { r.read(0, 2, std::span<float>(row)); }),
            at + "[0, 2) need 12 numbers, the array holds 6");
  EXPECT_EQ(whole(b), inPieces(b, 5000));
}

// Everything a reader takes from a database, summed per frame: values, von Mises, labels, principal values.
std::vector<double> digest(const odb_Odb& odb) {
  std::vector<double> out;
  const odb_SequenceFrame& frames = odb.steps()["Step-1"].frames();
  for (int f = 0; f < frames.size(); ++f) {
    const odb_FieldOutput s = frames[f].fieldOutputs()["S"];
    double values = 0, mises = 0, labels = 0, principal = 0;
    for (const odb_FieldBulkData& b : s.bulkDataBlocks()) {
      const float *d = b.data(), *m = b.mises();
      for (int i = 0; i < b.length() * b.width(); ++i) values += d[i];
      for (int i = 0; i < b.length(); ++i) mises += m[i], labels += b.elementLabels()[i] + b.integrationPoints()[i];
    }
    const odb_SequenceFieldValue& v = s.values();
    for (int i = 0; i < v.size(); i += 7) principal += v[i].maxPrincipal() + v[i].dataDouble()[0];
    out.insert(out.end(), {values, mises, labels, principal});
  }
  return out;
}

// Two databases read on two threads at once give what each gives alone (the ThreadSanitizer stage runs this).
TEST(Threads, TwoDatabasesOnTwoThreadsReadAsAlone) {
  testsupport::TempDir dir;
  const std::string paths[2] = {dir.file("f32.odb"), dir.file("f64.odb")};
  std::vector<double> alone[2], together[2][3];
  std::vector<std::thread> threads;
  for (int k = 0; k < 2; ++k) sample::writeLarge(paths[k], (2 + k) << 16, k), alone[k] = digest(*odb_open(paths[k]));
  for (int k = 0; k < 2; ++k)
    threads.emplace_back([&, k] { for (auto& d : together[k]) d = digest(*odb_open(paths[k])); });
  for (std::thread& t : threads) t.join();
  for (int k = 0; k < 2; ++k)
    for (const auto& d : together[k]) EXPECT_EQ(d, alone[k]) << paths[k];
  EXPECT_NE(alone[0], alone[1]);
}

}  // namespace
