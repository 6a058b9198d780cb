// The output-database library: read access to result databases stored as
// HDF5 files in the layout of docs/format.md.
//
// Object model. Every object handed out by the library is a small value
// (a handle on shared, lazily loaded state). Repositories keep the order of
// the file (docs/format.md §3). Large arrays are read on first use and freed
// when the last handle that needs them goes away, so a caller that walks
// frame by frame holds at most one frame's field data at a time:
// odb_Frame::fieldOutputs() builds a fresh repository on every call and the
// field outputs in it own their arrays.
//
// Errors. Every failure is an odb_Exception whose message names the file and
// the object path. Nothing here prints to the console: HDF5's own error
// printing is off while the library calls HDF5 and is put back as the
// caller set it when the call returns.
//
// Ownership. odb_open hands the caller a database it owns; destroying it
// closes the file. Handles taken from a database share its state and keep
// what they need of it (arrays, the array pool) valid after it is closed or
// destroyed; what they would have to read from the file then fails with
// "database is closed".
//
// Threads. Different databases may be used on different threads at once:
// they share nothing but HDF5, and the library runs all its HDF5 work under
// one lock of its own, since HDF5 as built here is not thread-safe (so
// reads on two threads take turns inside HDF5, and a caller that calls HDF5
// itself on another thread at the same time must not). One database, and
// every handle taken from it, is used by one thread at a time: handles read
// lazily and keep what they read (block arrays, the derived values of the
// last row asked for), so const calls write too. One allowance: a block
// (odb_FieldBulkData) whose data() or dataDouble() has returned, or whose
// values a walk of a sequence (constGet) has reached, may be handed to
// another thread, which may use it and its values while the first
// thread goes on with other blocks, each block still on one thread at a
// time; the array pool they share locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// ---------------------------------------------------------------- exceptions

// Base of every exception the library throws.
class nex_Exception : public std::exception {
 public:
  explicit nex_Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  // Returns the message text, e.g. "job.odb: /steps/Step-1: mass is a string, expected a number".
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Thrown for every database failure.
class odb_Exception : public nex_Exception {
 public:
  using nex_Exception::nex_Exception;
};

// ------------------------------------------------------------------- strings

// A byte string with the library's find semantics.
class odb_String {
 public:
  odb_String() = default;
  odb_String(const char* s) : s_(s ? s : "") {}
  odb_String(std::string s) : s_(std::move(s)) {}
  // Makes the decimal text of an int.
  explicit odb_String(int value) : s_(std::to_string(value)) {}

  odb_String& append(const odb_String& s) { s_ += s.s_; return *this; }
  odb_String& operator+=(const odb_String& s) { return append(s); }

  int length() const { return static_cast<int>(s_.size()); }
  bool empty() const { return s_.empty(); }
  // Returns the position of the first occurrence of text, or length() when
  // text does not occur (never a negative value).
  int find(const odb_String& text) const {
    const auto p = s_.find(text.s_);
    return p == std::string::npos ? length() : static_cast<int>(p);
  }
  const char* cStr() const { return s_.c_str(); }
  const std::string& str() const { return s_; }

  friend bool operator==(const odb_String& a, const odb_String& b) { return a.s_ == b.s_; }
  friend bool operator<(const odb_String& a, const odb_String& b) { return a.s_ < b.s_; }

 private:
  std::string s_;
};

inline odb_String operator+(odb_String a, const odb_String& b) { return a.append(b); }
inline std::ostream& operator<<(std::ostream& os, const odb_String& s) { return os << s.str(); }

// ------------------------------------------------------------- enumerations

struct odb_Enum {
  // Data-type codes. Codes outside the list are kept as stored.
  enum odb_DataTypeEnum : int {
    SCALAR = 2,
    VECTOR = 3,
    TENSOR_3D_FULL = 5,
    TENSOR_3D_PLANAR = 6,
    TENSOR_3D_SURFACE = 7,
    TENSOR_2D_PLANAR = 8,
    TENSOR_2D_SURFACE = 9,
  };
  enum odb_InvariantEnum : int {
    MAX_PRINCIPAL = 1,
    MID_PRINCIPAL = 2,
    MIN_PRINCIPAL = 3,
    MISES = 4,
    TRESCA = 5,
    PRESS = 6,
    INV3 = 7,
    MAGNITUDE = 8,
    MAX_INPLANE_PRINCIPAL = 9,
    MIN_INPLANE_PRINCIPAL = 10,
    OUTOFPLANE_PRINCIPAL = 11,
  };
  enum odb_ResultPositionEnum : int {
    NODAL,
    INTEGRATION_POINT,
    CENTROID,
    WHOLE_ELEMENT,
    ELEMENT_NODAL,
  };
  enum odb_SetTypeEnum : int { NODE_SET, ELEMENT_SET };
};

// ---------------------------------------------------------------- sequences

// An ordered sequence of objects or strings.
template <class T>
class odb_Sequence {
 public:
  odb_Sequence() = default;
  explicit odb_Sequence(std::vector<T> items) : items_(std::move(items)) {}

  int size() const { return static_cast<int>(items_.size()); }
  // Returns item i; throws odb_Exception when i is out of range.
  const T& constGet(int i) const {
    if (i < 0 || i >= size())
      throw odb_Exception("sequence index " + std::to_string(i) + " out of range, size " +
                          std::to_string(size()));
    return items_[static_cast<std::size_t>(i)];
  }
  const T& operator[](int i) const { return constGet(i); }
  T& operator[](int i) { return const_cast<T&>(constGet(i)); }
  bool isMember(const T& x) const {
    for (const T& y : items_)
      if (y == x) return true;
    return false;
  }
  void append(T x) { items_.push_back(std::move(x)); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<T> items_;
};

// A sequence of numbers: either a view into an array that some other object
// owns, or an array kept alive by the sequence itself. Copies are cheap.
template <class T>
class odb_NumberSequence {
 public:
  odb_NumberSequence() = default;
  explicit odb_NumberSequence(std::vector<T> owned) {
    auto store = std::make_shared<const std::vector<T>>(std::move(owned));
    p_ = store->data();
    n_ = static_cast<int>(store->size());
    keep_ = std::move(store);
  }
  // A view of n numbers at p; keep (may be empty) keeps them alive.
  odb_NumberSequence(const T* p, int n, std::shared_ptr<const void> keep = {})
      : p_(p), n_(n), keep_(std::move(keep)) {}

  int size() const { return n_; }
  T constGet(int i) const {
    if (i < 0 || i >= n_)
      throw odb_Exception("sequence index " + std::to_string(i) + " out of range, size " +
                          std::to_string(n_));
    return p_[i];
  }
  T operator[](int i) const { return constGet(i); }
  bool isMember(T x) const {
    for (int i = 0; i < n_; ++i)
      if (p_[i] == x) return true;
    return false;
  }
  const T* data() const { return p_; }
  const T* begin() const { return p_; }
  const T* end() const { return p_ + n_; }

 private:
  const T* p_ = nullptr;
  int n_ = 0;
  std::shared_ptr<const void> keep_;
};

using odb_SequenceFloat = odb_NumberSequence<float>;
using odb_SequenceDouble = odb_NumberSequence<double>;
using odb_SequenceInt = odb_NumberSequence<int>;
using odb_SequenceString = odb_Sequence<odb_String>;
using odb_SequenceInvariant = odb_Sequence<odb_Enum::odb_InvariantEnum>;
using odb_SequenceSequenceFloat = odb_Sequence<odb_SequenceFloat>;

// -------------------------------------------------------------- repositories

// Objects keyed by name, iterated in the order of the file.
template <class T>
class odb_Repository {
 public:
  int size() const { return static_cast<int>(items_.size()); }
  bool isMember(const odb_String& key) const { return index_.count(key.str()) != 0; }
  // Returns the object named key; throws odb_Exception when there is none.
  const T& operator[](const odb_String& key) const {
    const auto it = index_.find(key.str());
    if (it == index_.end()) throw odb_Exception("no object named '" + key.str() + "'");
    return items_[it->second].second;
  }
  T& operator[](const odb_String& key) {
    return const_cast<T&>(static_cast<const odb_Repository&>(*this)[key]);
  }
  // Adds an object at the end; a second object of the same name replaces the first in place.
  void insert(const odb_String& key, T value) {
    const auto it = index_.find(key.str());
    if (it != index_.end()) {
      items_[it->second].second = std::move(value);
      return;
    }
    index_.emplace(key.str(), items_.size());
    items_.emplace_back(key, std::move(value));
  }
  const odb_String& keyAt(int i) const { return items_.at(static_cast<std::size_t>(i)).first; }
  const T& valueAt(int i) const { return items_.at(static_cast<std::size_t>(i)).second; }

 private:
  std::vector<std::pair<odb_String, T>> items_;
  std::unordered_map<std::string, std::size_t> index_;
};

// Walks a repository: first(), then while !isDone(): currentKey()/currentValue(), next().
template <class T>
class odb_RepositoryIterator {
 public:
  explicit odb_RepositoryIterator(const odb_Repository<T>& r) : r_(&r) {}
  void first() { i_ = 0; }
  void next() { ++i_; }
  bool isDone() const { return i_ >= r_->size(); }
  const odb_String& currentKey() const { return r_->keyAt(i_); }
  const T& currentValue() const { return r_->valueAt(i_); }

 private:
  const odb_Repository<T>* r_;
  int i_ = 0;
};

// ---------------------------------------------------------- internal state

namespace odb_detail {
struct OdbImpl;
struct SetImpl;
struct InstanceImpl;
struct StepImpl;
struct FrameImpl;
struct FieldOutputImpl;
struct BlockData;
struct BlockReaderImpl;
struct HistoryRegionImpl;
struct HistoryOutputImpl;
}  // namespace odb_detail

// --------------------------------------------------------------------- model

class odb_Node {
 public:
  odb_Node() = default;
  explicit odb_Node(int label, double x = 0, double y = 0, double z = 0)
      : label_(label), xyz_{x, y, z} {}
  // Returns the node label, -1 for "no node".
  int label() const { return label_; }
  const double* coordinates() const { return xyz_; }

 private:
  int label_ = -1;
  double xyz_[3] = {0, 0, 0};
};

class odb_Element {
 public:
  odb_Element() = default;
  explicit odb_Element(int label, odb_SequenceInt connectivity = {})
      : label_(label), connectivity_(std::move(connectivity)) {}
  // Returns the element label, -1 for "no element".
  int label() const { return label_; }
  // Returns the node labels of the element.
  const odb_SequenceInt& connectivity() const { return connectivity_; }

 private:
  int label_ = -1;
  odb_SequenceInt connectivity_;
};

using odb_SequenceNode = odb_Sequence<odb_Node>;
using odb_SequenceElement = odb_Sequence<odb_Element>;

// A node or element set of the assembly, an instance or a part.
class odb_Set {
 public:
  odb_Set() = default;
  explicit odb_Set(std::shared_ptr<const odb_detail::SetImpl> impl) : impl_(std::move(impl)) {}
  // Returns the set name ("" for the empty set of a history point without a region).
  const odb_String& name() const;
  odb_Enum::odb_SetTypeEnum type() const;
  bool isInternal() const;
  // Returns the instances the set has members in (none for a part set).
  odb_SequenceString instanceNames() const;
  // Returns the member labels in the instance ("" for the members of a part set).
  odb_SequenceInt labels(const odb_String& instanceName) const;

  const odb_detail::SetImpl* impl() const { return impl_.get(); }

 private:
  std::shared_ptr<const odb_detail::SetImpl> impl_;
};

using odb_SetRepository = odb_Repository<odb_Set>;
using odb_SetRepositoryIterator = odb_RepositoryIterator<odb_Set>;

// Something that owns sets: the root assembly, an instance or a part.
class odb_DiscreteEntity {
 public:
  const odb_String& name() const { return name_; }
  // Returns the sets; with includeInternal false, sets marked internal are left out.
  const odb_SetRepository& elementSets(bool includeInternal) const {
    return includeInternal ? elementSets_ : publicElementSets_;
  }
  const odb_SetRepository& nodeSets(bool includeInternal) const {
    return includeInternal ? nodeSets_ : publicNodeSets_;
  }

  // Used by the library while it loads the model.
  void setName(const odb_String& name) { name_ = name; }
  void addSet(const odb_Set& set);

 private:
  odb_String name_;
  odb_SetRepository elementSets_, publicElementSets_, nodeSets_, publicNodeSets_;
};

// An instance's mesh as flat arrays, as the file stores it: for readers that want
// arrays (numpy, exporters) rather than one object per node or element.
struct odb_NodeArrays {
  odb_SequenceInt labels;
  odb_SequenceDouble coordinates;  // x, y, z of each node; empty when the file has none
};
struct odb_ElementArrays {
  odb_SequenceInt labels;
  // Element i has the node labels connectivity[offsets[i]] .. connectivity[offsets[i + 1] - 1];
  // both are empty when the file holds no connectivity.
  odb_NumberSequence<std::int64_t> offsets;
  odb_SequenceInt connectivity;
};

class odb_Instance : public odb_DiscreteEntity {
 public:
  odb_Instance() = default;
  explicit odb_Instance(std::shared_ptr<const odb_detail::InstanceImpl> impl) : impl_(std::move(impl)) {}
  // Returns the name of the part the instance was made from ("" when not recorded).
  const odb_String& partName() const;
  // The mesh is read on each call.
  odb_SequenceNode nodes() const;
  odb_SequenceElement elements() const;
  // The same mesh as arrays, read on each call, checked as nodes() and elements() check it.
  odb_NodeArrays nodeArrays() const;
  odb_ElementArrays elementArrays() const;
  int nodeCount() const;
  int elementCount() const;

 private:
  std::shared_ptr<const odb_detail::InstanceImpl> impl_;
};

class odb_Part : public odb_DiscreteEntity {};

using odb_InstanceRepository = odb_Repository<odb_Instance>;
using odb_InstanceRepositoryIterator = odb_RepositoryIterator<odb_Instance>;
using odb_PartRepository = odb_Repository<odb_Part>;
using odb_PartRepositoryIterator = odb_RepositoryIterator<odb_Part>;

class odb_Assembly : public odb_DiscreteEntity {
 public:
  const odb_InstanceRepository& instances() const { return instances_; }
  void addInstance(const odb_String& name, const odb_Instance& instance) { instances_.insert(name, instance); }

 private:
  odb_InstanceRepository instances_;
};

// ------------------------------------------------------------- field output

// One block of a field output: the values of one instance at one position,
// held in flat arrays.
class odb_FieldBulkData {
 public:
  odb_FieldBulkData() = default;
  explicit odb_FieldBulkData(std::shared_ptr<const odb_detail::BlockData> block) : block_(std::move(block)) {}

  odb_Enum::odb_DataTypeEnum type() const;
  // 0 when the values are stored as float32, 1 for float64.
  int precision() const;
  int length() const;
  int width() const;
  // Number of distinct elements; 0 for a node block.
  int numberOfElements() const;
  odb_Enum::odb_ResultPositionEnum position() const;
  const odb_String& instanceName() const;
  int sectionPoint() const;
  // Label arrays of length() entries; null when the block has none
  // (elementLabels is null for a node block).
  const int* elementLabels() const;
  const int* nodeLabels() const;
  const int* integrationPoints() const;
  // The field's labels with the field name removed from the front (S11 -> 11).
  const odb_SequenceString& componentLabels() const;
  // length() x width() values, row by row, converted when stored in the other precision.
  const float* data() const;
  const double* dataDouble() const;
  // The von Mises value of every value (zeros for a block that is not a tensor),
  // computed on the first call. The array belongs to this block and is read-only.
  const float* mises() const;
  // Invariants of rows [first, first + n), each the float its value's
  // accessor gives (odb_FieldValue::tresca() and the others, MISES as
  // mises(), MAGNITUDE as magnitude()): for each k, which[k] into
  // out[k][0..n). A row's principal values are computed once for all the
  // invariants that need them. Reads the block's values when they are not
  // yet read. Throws odb_Exception for rows outside the block, a code that
  // is no invariant, and when which and out differ in size.
  void invariants(int first, int n, std::span<const odb_Enum::odb_InvariantEnum> which,
                  std::span<float* const> out) const;

  const odb_detail::BlockData* impl() const { return block_.get(); }

 private:
  std::shared_ptr<const odb_detail::BlockData> block_;
};

using odb_SequenceFieldBulkData = odb_Sequence<odb_FieldBulkData>;

// Reads a block's arrays in pieces of rows into arrays the caller owns and
// reuses, so that a block of any size is read with the memory of one piece
// (the block's own arrays are neither read nor kept; what the block already
// holds is copied from it). Works for the blocks of a field output and of a
// subset (getSubset), whose values are read from the field's block in
// pieces and picked. Element labels are checked as the whole read checks
// them (numberOfElements()); a label array whose length differs from the
// values' rows fails with the whole read's message before a piece of it is
// read, the element labels' when the reader is made. A read of rows outside
// the block fails; every failure is an odb_Exception naming the file and
// the block's path.
//
// Threads: a reader reads the file, so it follows the rule at the top of
// this file (one thread at a time, with its database); mises() reads
// nothing and may run on any thread while the reader reads the next piece.
class odb_BlockReader {
 public:
  explicit odb_BlockReader(const odb_FieldBulkData& block);
  ~odb_BlockReader();
  odb_BlockReader(odb_BlockReader&&) noexcept;
  odb_BlockReader& operator=(odb_BlockReader&&) noexcept;

  int length() const;
  int width() const;
  int precision() const;
  // Suggests the rows of a piece: near targetBytes of stored values, whole
  // chunks of the stored array when it is chunked; 1 to length() rows. The
  // library keeps no decoded chunk between reads (a field output of many
  // blocks would keep one per block): pieces of whole chunks decode each
  // chunk once, smaller ones decode a chunk for every piece that touches it.
  int pieceRows(std::size_t targetBytes = std::size_t{8} << 20) const;
  // Reads rows [first, first + n) of the values, n x width() numbers row by
  // row, converted to out's type when stored in the other precision.
  void read(int first, int n, float* out);
  void read(int first, int n, double* out);
  // As read() into out's first n x width() numbers, out holding at least
  // that many. The numbers after them are the reader's to use while it
  // reads and are left unspecified: with one number to spare, a piece of
  // whole chunks is read without a copy of its last chunk, and with room
  // for a whole chunk and one number, a piece that ends inside a chunk too.
  void read(int first, int n, std::span<float> out);
  void read(int first, int n, std::span<double> out);
  // Read rows [first, first + n) of a label array, n numbers; nothing when
  // the block has none (see odb_FieldBulkData).
  void readElementLabels(int first, int n, int* out);
  void readNodeLabels(int first, int n, int* out);
  void readIntegrationPoints(int first, int n, int* out);
  bool hasElementLabels() const;
  bool hasNodeLabels() const;
  bool hasIntegrationPoints() const;
  // Returns the number of distinct elements (0 for a node block), checked as
  // the whole read checks it: counted while the element labels are read in
  // order from row 0, the rest read in pieces on this call when needed.
  int numberOfElements();
  // As numberOfElements(), reading the labels still to be counted through
  // scratch (a caller's array that its values are read into next, so that
  // one array stays in the cache rather than two) when it holds
  // countingBytes(), through an array of the reader's otherwise.
  int numberOfElements(std::span<std::byte> scratch);
  // Bytes numberOfElements() reads the labels through: whole chunks of the
  // element labels, about 1 MiB, and a number to spare; 0 when nothing is
  // left to read.
  std::size_t countingBytes() const;
  // Computes the von Mises value of each of n rows of values (as read()
  // gives them: in doubles, or in floats from a float32 block) into out: the
  // same floats as the block's mises(), zeros for a block that is no tensor.
  void mises(const float* values, int n, float* out) const;
  void mises(const double* values, int n, float* out) const;
  // The largest and smallest of the floats mises() computes for the same
  // rows (a NaN never taken; -inf and +inf when there is none), into max
  // and min. Faster than mises() and a pass over its floats: where the
  // processor has AVX-512, a sieve in float arithmetic leaves few rows to
  // compute. Reads nothing, as mises().
  void misesRange(const float* values, int n, float& max, float& min) const;
  void misesRange(const double* values, int n, float& max, float& min) const;

 private:
  std::unique_ptr<odb_detail::BlockReaderImpl> impl_;
};

// One value of a field output: a view of one row of a block. It stays valid
// while the field output or the sequence it came from lives.
class odb_FieldValue {
 public:
  odb_FieldValue() = default;
  odb_FieldValue(const odb_detail::BlockData* block, int row) : block_(block), row_(row) {}

  const odb_String& instanceName() const;
  odb_Enum::odb_ResultPositionEnum position() const;
  int elementLabel() const;      // -1 when none
  int nodeLabel() const;         // -1 when none
  int integrationPoint() const;  // 0 when none
  int sectionPoint() const;
  odb_Enum::odb_DataTypeEnum type() const;
  int precision() const;
  odb_SequenceFloat data() const;
  odb_SequenceDouble dataDouble() const;

  // Derived quantities; 0 when the value's type does not define them.
  float magnitude() const;
  float mises() const;
  float tresca() const;
  float press() const;
  float inv3() const;
  float maxPrincipal() const;
  float midPrincipal() const;
  float minPrincipal() const;
  float maxInPlanePrincipal() const;
  float minInPlanePrincipal() const;
  float outOfPlanePrincipal() const;

 private:
  const odb_detail::BlockData* block_ = nullptr;
  int row_ = 0;
};

// The values of all blocks of a field output, block by block.
class odb_SequenceFieldValue {
 public:
  odb_SequenceFieldValue() = default;
  explicit odb_SequenceFieldValue(std::vector<std::shared_ptr<const odb_detail::BlockData>> blocks);
  int size() const { return size_; }
  // Returns value i; throws odb_Exception when i is out of range.
  odb_FieldValue constGet(int i) const;
  odb_FieldValue operator[](int i) const { return constGet(i); }

  // Returns the bytes the values of every block take as stored (rows x
  // width x 4 or 8), known from the blocks' headers without reading them.
  std::size_t storedBytes() const;
  // The index of each block's first value, in order. A caller may read the
  // values of different blocks on different threads, each thread with its
  // own copy of the sequence (the allowance of the thread rule at the top).
  const std::vector<int>& blockStarts() const { return starts_; }
  // Returns a sequence of the same values that holds at most about `bytes`
  // of each block's values: a block whose values are not yet read is read a
  // window of rows at a time, as a walk in order reaches them; a value asked
  // for outside its block's window reads that window again, so a value never
  // gives stale numbers (a data() sequence taken from a window keeps it).
  // Blocks whose values are already held are used as they are. Made for
  // walks in order, which may be repeated: each reads every window once.
  odb_SequenceFieldValue windowed(std::size_t bytes) const;
  // Block b of the values (b indexes blockStarts()) as bulk data: the same
  // block, so its arrays are the ones the values read and hold. Throws
  // odb_Exception when b is out of range or the sequence is windowed.
  odb_FieldBulkData block(int b) const;

  // The first block, or null (the library's own use).
  const odb_detail::BlockData* impl() const { return blocks_.empty() ? nullptr : blocks_.front().get(); }

 private:
  std::vector<std::shared_ptr<const odb_detail::BlockData>> blocks_;
  std::vector<int> starts_;  // first value index of each block
  int size_ = 0;
  // The block of the previous look-up, where the next one starts: written
  // by constGet, so a sequence is used by one thread at a time (the thread
  // rule at the end of this file).
  mutable std::size_t last_ = 0;
};

class odb_FieldOutput {
 public:
  odb_FieldOutput() = default;
  explicit odb_FieldOutput(std::shared_ptr<odb_detail::FieldOutputImpl> impl) : impl_(std::move(impl)) {}

  const odb_String& name() const;
  const odb_String& description() const;
  odb_Enum::odb_DataTypeEnum type() const;
  bool isComplex() const;
  const odb_SequenceString& componentLabels() const;
  const odb_SequenceInvariant& validInvariants() const;
  // Read the blocks' headers on the first call, a block's values and labels when first used.
  const odb_SequenceFieldValue& values() const;
  const odb_SequenceFieldBulkData& bulkDataBlocks() const;
  // The values on the set, in their original order, grouped in blocks as before.
  odb_FieldOutput getSubset(const odb_Set& set) const;

 private:
  std::shared_ptr<odb_detail::FieldOutputImpl> impl_;
};

using odb_FieldOutputRepository = odb_Repository<odb_FieldOutput>;
using odb_FieldOutputRepositoryIterator = odb_RepositoryIterator<odb_FieldOutput>;

// ------------------------------------------------------------ steps, frames

class odb_Frame {
 public:
  odb_Frame() = default;
  explicit odb_Frame(std::shared_ptr<const odb_detail::FrameImpl> impl) : impl_(std::move(impl)) {}
  int frameId() const;
  int incrementNumber() const;
  const odb_String& description() const;
  double frameValue() const;
  // Builds a new repository on every call; keep it while its outputs are used.
  odb_FieldOutputRepository fieldOutputs() const;

 private:
  std::shared_ptr<const odb_detail::FrameImpl> impl_;
};

using odb_SequenceFrame = odb_Sequence<odb_Frame>;

// ------------------------------------------------------------------- history

class odb_SectionPoint {
 public:
  odb_SectionPoint() = default;
  explicit odb_SectionPoint(int number) : number_(number) {}
  int number() const { return number_; }

 private:
  int number_ = 0;
};

// Where a history region was recorded.
class odb_HistoryPoint {
 public:
  odb_HistoryPoint() = default;
  odb_HistoryPoint(odb_Node node, odb_Element element, int ipNumber, odb_SectionPoint sectionPoint,
                   odb_Set region, odb_String instanceName)
      : node_(node), element_(std::move(element)), ipNumber_(ipNumber), sectionPoint_(sectionPoint),
        region_(std::move(region)), instanceName_(std::move(instanceName)) {}
  const odb_Node& node() const { return node_; }
  const odb_Element& element() const { return element_; }
  int ipNumber() const { return ipNumber_; }
  const odb_SectionPoint& sectionPoint() const { return sectionPoint_; }
  const odb_Set& region() const { return region_; }
  const odb_String& instanceName() const { return instanceName_; }

 private:
  odb_Node node_;
  odb_Element element_;
  int ipNumber_ = 0;
  odb_SectionPoint sectionPoint_;
  odb_Set region_;
  odb_String instanceName_;
};

class odb_HistoryOutput {
 public:
  odb_HistoryOutput() = default;
  explicit odb_HistoryOutput(std::shared_ptr<const odb_detail::HistoryOutputImpl> impl) : impl_(std::move(impl)) {}
  virtual ~odb_HistoryOutput() = default;
  odb_HistoryOutput(const odb_HistoryOutput&) = default;
  odb_HistoryOutput& operator=(const odb_HistoryOutput&) = default;

  // Returns the recorded rows (normally time, value), read from the file on each call.
  virtual odb_SequenceSequenceFloat data() const;
  const odb_String& name() const;
  const odb_String& description() const;
  int type() const;

 private:
  std::shared_ptr<const odb_detail::HistoryOutputImpl> impl_;
};

using odb_HistoryOutputRepository = odb_Repository<odb_HistoryOutput>;
using odb_HistoryOutputRepositoryIterator = odb_RepositoryIterator<odb_HistoryOutput>;

class odb_HistoryRegion {
 public:
  odb_HistoryRegion() = default;
  explicit odb_HistoryRegion(std::shared_ptr<const odb_detail::HistoryRegionImpl> impl) : impl_(std::move(impl)) {}
  const odb_String& name() const;
  const odb_String& description() const;
  odb_HistoryPoint historyPoint() const;
  const odb_HistoryOutputRepository& historyOutputs() const;

 private:
  std::shared_ptr<const odb_detail::HistoryRegionImpl> impl_;
};

using odb_HistoryRegionRepository = odb_Repository<odb_HistoryRegion>;
using odb_HistoryRegionRepositoryIterator = odb_RepositoryIterator<odb_HistoryRegion>;

class odb_Step {
 public:
  odb_Step() = default;
  explicit odb_Step(std::shared_ptr<const odb_detail::StepImpl> impl) : impl_(std::move(impl)) {}
  const odb_String& name() const;
  const odb_String& description() const;
  // -1.0 when the mass is not known.
  double mass() const;
  // Three values, or none.
  const odb_SequenceDouble& massCenter() const;
  // Six values I11 I22 I33 I12 I13 I23, or none.
  const odb_SequenceDouble& inertiaAboutCenter() const;
  const odb_SequenceDouble& inertiaAboutOrigin() const;
  const odb_SequenceFrame& frames() const;
  const odb_HistoryRegionRepository& historyRegions() const;

 private:
  std::shared_ptr<const odb_detail::StepImpl> impl_;
};

using odb_StepRepository = odb_Repository<odb_Step>;
using odb_StepRepositoryIterator = odb_RepositoryIterator<odb_Step>;

// ------------------------------------------------------------------ database

class odb_Odb {
 public:
  explicit odb_Odb(std::unique_ptr<odb_detail::OdbImpl> impl);
  ~odb_Odb();
  odb_Odb(const odb_Odb&) = delete;
  odb_Odb& operator=(const odb_Odb&) = delete;

  // Returns the path exactly as passed to openOdb.
  const odb_String& name() const;
  const odb_String& description() const;
  odb_Assembly& rootAssembly();
  const odb_Assembly& rootAssembly() const;
  const odb_PartRepository& parts() const;
  const odb_StepRepository& steps() const;
  // Releases the file and everything read from it that no handle still
  // holds; the object stays valid but holds nothing, and handles taken from
  // it fail with "database is closed".
  void close();
  bool isOpen() const;

  odb_detail::OdbImpl& impl() const { return *impl_; }

 private:
  std::unique_ptr<odb_detail::OdbImpl> impl_;
};

// ------------------------------------------------------------- entry points

// Runtime start and stop. The library counts the starts and stops it sees.
// These entry points, openOdb and the close of what it returns keep the
// library's one registry, so they are called from one thread (a program's
// main thread); odb_open needs none of them.
void QVXStsStdB_initialize(int& active);
void QVXStsStdB_finalize(int& active);
void odb_initializeAPI();
void odb_finalizeAPI();

// How odb_open opens a database.
struct odb_OpenOptions {
  // Also list the sets marked internal.
  bool readInternalSets = false;
  // Large arrays (1 MiB and up: block values, labels, connectivity) come
  // from a pool of this database, which keeps freed arrays and hands them
  // out again, mapped in huge pages where the system has them: a run that
  // reads the same shapes frame after frame faults its memory once. The
  // pool keeps at most what the database had in use at its peak, and goes
  // away with the database and the last array taken from it. false: every
  // array is a plain heap allocation, freed when its last handle goes (the
  // mode for memory checkers, which see each array on its own).
  bool pooledArrays = true;
};

// Opens a database for reading and hands it to the caller, who owns it: the
// file is closed when the object is destroyed. Needs no runtime start, and
// leaves HDF5's exit handling to HDF5.
std::unique_ptr<odb_Odb> odb_open(const odb_String& path, bool readInternalSets = false);
std::unique_ptr<odb_Odb> odb_open(const odb_String& path, const odb_OpenOptions& options);
// Opens a database for reading. The library owns the object: close()
// releases the file and what was read, and the closed object itself stays
// valid until the next openOdb or odb_finalizeAPI, which free it. So a
// process that opens and closes in a loop keeps no more than one closed
// object. readOnly must be true.
odb_Odb& openOdb(const odb_String& path, bool readOnly = true, bool readInternalSets = false);
// True exactly when the file is a database of format_version 1.
bool isUpgradeRequiredForOdb(const odb_String& path);
// Writes a current-format copy of path to newBase + ".odb".
void upgradeOdb(const odb_String& path, const odb_String& newBase);

namespace odb_detail {
// How often the runtime was started and stopped in this process (for tests).
int runtimeStartCount();
int runtimeStopCount();
}  // namespace odb_detail
