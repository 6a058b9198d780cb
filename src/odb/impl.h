// The reader's internal state behind the handles of odb.h. Private to src/odb.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "odb/h5_io.h"
#include "odb/odb.h"

namespace odb_detail {

// Membership test over a set of labels: a bitmap of a bit per label of
// their range when the labels are dense, a sorted list otherwise. A run
// keeps one per set and instance, so a set of a whole large model costs a
// bit per element, not the list of its labels.
class LabelIndex {
 public:
  explicit LabelIndex(const std::vector<int>& labels);
  // Marks labels one at a time in [lo, hi] (lo <= hi), each any number of times.
  LabelIndex(long long lo, long long hi);
  void mark(int label) {
    const auto at = static_cast<std::size_t>(label - lo_);
    bits_[at / 64] |= std::uint64_t{1} << (at % 64);
    empty_ = false;
  }
  bool contains(int label) const;
  bool empty() const { return empty_; }
  // Whether a bitmap of [lo, hi] costs no more than a list of count labels.
  static bool dense(long long lo, long long hi, std::size_t count) {
    return hi - lo < 32 * static_cast<long long>(count) + 512;
  }

 private:
  bool empty_ = true;
  long long lo_ = 0, span_ = 0;
  std::vector<std::uint64_t> bits_;
  std::vector<int> sorted_;
};

// docs/format.md §6: the values of one element stand together and every
// element has as many values as the first. Takes the element labels in
// order, in pieces of any size, and fails at the first label that breaks a
// rule, with the same message whatever the pieces. While the elements come
// in ascending order none can repeat: the labels seen are kept as ranges of
// consecutive labels (one range for the usual numbering), and a set of the
// labels after the first step down.
class ElementCounter {
 public:
  explicit ElementCounter(const Where& w) : w_(w) {}
  void add(const int* labels, std::size_t n);
  // Checks the last element and returns the number of elements.
  int finish();

 private:
  std::size_t wholeElements(const int* labels, std::size_t n);
  void startElement(int label);
  void endElement();
  void startUnordered(int label);
  [[noreturn]] void failCount() const;
  bool seenBefore(int label) const;

  Where w_;
  bool open_ = false;      // an element's values are being counted
  int label_ = 0;          // the element being counted
  std::size_t values_ = 0; // its values so far
  bool ascending_ = true;
  std::vector<std::pair<int, int>> ranges_;  // labels seen while ascending, as [lo, hi]
  std::unordered_set<int> seen_;             // labels after the first step down
  std::size_t perElement_ = 0;
  int first_ = 0, count_ = 0;
};

struct FileCtx;

// A set's member lists are read on first use, not when the database opens:
// a run that never asks for a set never reads one (a set of every element
// is as large as a field output's labels). Their shapes and types are
// checked at open.
struct SetImpl : std::enable_shared_from_this<SetImpl> {
  using Members = std::vector<std::pair<std::string, std::vector<int>>>;  // per instance, file order
  odb_String name;
  odb_Enum::odb_SetTypeEnum type = odb_Enum::ELEMENT_SET;
  bool internal = false;
  bool partSet = false;  // members of a part, under the instance name ""
  // Where each instance's list is stored: the dataset `name` in the group
  // at `group`, which is also the place messages name.
  struct Source {
    std::string instance, group, name;
  };
  std::vector<Source> sources;
  std::weak_ptr<const FileCtx> ctx;  // weak: the context keeps sets in its membership cache
  std::string fileName;              // names the file once the context is gone

  // The member lists, read when first asked for and kept.
  const Members& members() const;
  // One instance's list read for the caller alone, or the kept one once
  // members() has read them: a membership index is built from it and the
  // list dropped, so a set of a large model is not held twice.
  std::vector<int> membersOf(const std::string& instance) const;
  bool hasInstance(const std::string& instance) const;

 private:
  std::vector<int> read(const Source& s) const;

  mutable std::once_flag loaded_;
  mutable std::atomic<bool> kept_{false};
  mutable Members members_;
};

// The state shared by every object of one open database.
struct FileCtx {
  std::string name;              // the path exactly as passed to openOdb
  H5File file;                   // invalid once the database is closed
  std::uint64_t bytes = 0;       // the file's size, the bound of every array read
  PoolRef pool;                  // where large arrays come from; null: the heap
  // Subset memberships, built once per (set, instance, kind) and reused for
  // every frame and field output. The key holds the set alive, so its
  // address cannot be reused by another set while the entry exists.
  struct MemberKey {
    const SetImpl* set;
    std::string instance;
    bool nodesOfElements;  // an element set's nodes, through the connectivity
    bool operator<(const MemberKey& o) const {
      if (set != o.set) return set < o.set;
      if (instance != o.instance) return instance < o.instance;
      return nodesOfElements < o.nodesOfElements;
    }
  };
  std::map<MemberKey, std::pair<std::shared_ptr<const SetImpl>, std::shared_ptr<const LabelIndex>>> members;

  Where at(std::string path) const { return Where{name, std::move(path)}; }
  // Returns the open file; fails "database is closed" after close().
  hid_t fileId(const std::string& path) const;
};
using Ctx = std::shared_ptr<FileCtx>;

struct InstanceImpl {
  Ctx ctx;
  std::string path;  // /assembly/instances/<name>
  odb_String partName;
  int nodeCount = 0;
  int elementCount = 0;
};

// An instance's elements, connectivity checked (docs/format.md §5).
struct Mesh {
  std::vector<int> labels;
  std::vector<std::int64_t> offsets;  // labels.size() + 1 entries, or none
  Buffer<int> connectivity;
};
Mesh readElements(const FileCtx& ctx, const std::string& instancePath);
// Like readElements, the connectivity checked but left in the file: the
// open array (none without offsets), for reads in pieces.
Mesh readElementsButConnectivity(const FileCtx& ctx, const std::string& instancePath,
                                 std::optional<Dataset>& connectivity);
// Fails unless elements/offsets has one entry more than elements/labels.
void requireOffsetCount(std::uint64_t offsets, std::uint64_t labels, const Where& w);

struct FrameImpl {
  Ctx ctx;
  std::string path;  // /steps/<step>/frames/<i>
  int id = 0;
  int incrementNumber = 0;
  odb_String description;
  double frameValue = 0.0;
};

// What all blocks of one field output share.
struct FieldShape {
  odb_SequenceString blockLabels;  // the field's labels with the field name stripped
  int cols[6] = {-1, -1, -1, -1, -1, -1};
};

// One block of a field output. The mutable members below are caches that
// const calls fill on first use; they take no lock, which the thread rule of
// odb.h allows: a block is used by one thread at a time.
struct BlockData {
  std::shared_ptr<const FieldShape> shape;
  odb_String instance;
  odb_Enum::odb_ResultPositionEnum position = odb_Enum::NODAL;
  int sectionPoint = 0;
  odb_Enum::odb_DataTypeEnum type = odb_Enum::SCALAR;
  int precision = 0;
  int length = 0;
  int width = 1;
  // The label arrays (empty: none) and the element count, read and checked
  // on first use: the element labels with the count (elementLabelsRead()),
  // the node labels and integration points with all of them (labels()).
  mutable int numberOfElements = 0;
  mutable Buffer<int> nodeLabels, elementLabels, integrationPoints;
  mutable bool haveElementLabels = true, haveLabels = true;
  // The values in the stored precision, read on first use (need()); the
  // other precision is converted on first use (floats(), doubles()).
  mutable Buffer<float> floatValues;
  mutable Buffer<double> doubleValues;
  mutable bool haveFloatValues = false, haveDoubleValues = false;
  mutable Buffer<float> mises;
  mutable bool haveMises = false;
  // The principal values of the last row asked for, max, mid, min, and its
  // Tresca value, as the accessors return them: computed once per value.
  mutable int principalRow = -1;
  mutable float principal[4] = {};
  // Until the values are read: the block's open data array (checked, count
  // values) with the place to name in messages, or the block this one holds
  // the rows of.
  mutable std::optional<Dataset> pending;
  mutable H5Group group;  // the block's group, open until the labels are read
  Ctx ctx;
  PoolRef pool;  // the pool of every array above (null: the heap), set by usePool
  std::string path;
  std::size_t count = 0;
  mutable std::shared_ptr<const BlockData> source;
  mutable std::vector<int> rows;
  // On the blocks of a windowed value sequence (values.cpp): the block whose
  // labels and values this one stands for, and the window of its values held.
  std::shared_ptr<const BlockData> windowOf;
  struct Window;
  mutable std::shared_ptr<Window> window;

  // Reads or picks the values when that has not happened yet.
  void need() const {
    if (pending || source) load();
  }
  // This block with its element labels and element count read.
  const BlockData& elementLabelsRead() const {
    if (windowOf) return windowOf->elementLabelsRead();
    if (!haveElementLabels) loadElementLabels();
    return *this;
  }
  // This block with all its labels read.
  const BlockData& labels() const {
    if (windowOf) return windowOf->labels();
    if (!haveLabels) loadLabels();
    return *this;
  }
  const float* floats() const;
  const double* doubles() const;
  // Makes the arrays (all empty) take their storage from p.
  void usePool(const PoolRef& p);
  bool isElementBlock() const { return position != odb_Enum::NODAL; }
  // The place messages name: the file and the block's path, or "(subset)"
  // for a subset block that holds its values and keeps no file to name.
  Where where() const;

 private:
  void load() const;
  void loadElementLabels() const;
  void loadLabels() const;
};

struct FieldOutputImpl {
  Ctx ctx;
  std::string path;  // .../fieldOutputs/<name>
  odb_String name, description;
  odb_Enum::odb_DataTypeEnum type = odb_Enum::SCALAR;
  bool isComplex = false;
  odb_SequenceString componentLabels;
  odb_SequenceInvariant validInvariants;
  std::shared_ptr<const FieldShape> shape;
  bool loaded = false;
  std::vector<std::shared_ptr<const BlockData>> blocks;
  odb_SequenceFieldBulkData bulk;
  odb_SequenceFieldValue values;

  // Reads every block on first use (docs/format.md §9: one read per array).
  void load();
  // Fills bulk and values from a list of (non-empty) blocks.
  void adopt(std::vector<std::shared_ptr<const BlockData>> blocks);
};

// A new block with b's header (shape, instance, position, section point,
// type, precision, length, width) and arrays in b's pool; no values or labels.
std::shared_ptr<BlockData> blockLike(const BlockData& b);
// Reads and checks block `index` of a field output; null when it has no rows.
std::shared_ptr<const BlockData> readBlock(const FieldOutputImpl& field, hid_t blocksGroup, int index);
// Checks that the children of a frames or blocks group are named 0..n-1 and returns n.
int countIndexedChildren(hid_t group, const Where& w, const char* what);

struct HistoryOutputImpl {
  Ctx ctx;
  std::string path;
  odb_String name, description;
  int type = 2;
};

struct HistoryRegionImpl {
  odb_String name, description;
  odb_HistoryPoint point;
  odb_HistoryOutputRepository outputs;
};

struct StepImpl {
  odb_String name, description;
  double mass = -1.0;
  odb_SequenceDouble massCenter, inertiaAboutCenter, inertiaAboutOrigin;
  odb_SequenceFrame frames;
  odb_HistoryRegionRepository historyRegions;
};

struct OdbImpl {
  Ctx ctx;
  odb_String name;  // as passed to openOdb
  odb_String description;
  odb_Assembly assembly;
  odb_PartRepository parts;
  odb_StepRepository steps;
};

// Opens and loads a database (structure only); the path is kept as passed.
std::unique_ptr<OdbImpl> loadOdb(const std::string& path, const odb_OpenOptions& options);
// Parts of loadOdb.
void loadModel(OdbImpl& odb, bool readInternalSets);
void loadSteps(OdbImpl& odb);
odb_HistoryRegion loadHistoryRegion(const OdbImpl& odb, hid_t group, const std::string& path,
                                    const std::string& name);

}  // namespace odb_detail
