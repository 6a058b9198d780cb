// Writes databases in the layout of docs/format.md. Used by the importer,
// the benchmark generator and the tests. Objects are written as they are
// added, so memory stays bounded by what one call hands over.
//
// Every failure is an odb_Exception naming the file and the object path.
// Names are taken as given (blanks, dashes and dots included).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "odb.h"

namespace odbw {

struct Options {
  int formatVersion = 2;           // 1 writes history as time/value (for upgrade tests)
  bool trackOrder = true;          // track link creation order on every group
  bool chunked = true;             // chunked arrays (about chunkBytes a chunk) ...
  bool checksum = true;            // ... with the Fletcher-32 filter
  std::size_t chunkBytes = 1 << 20;
};

enum class SetKind { Node, Element };

// Absent optionals are not written, so the reader's defaults apply.
struct StepInfo {
  std::optional<std::string> description{};
  std::optional<double> mass{};
  std::optional<std::vector<double>> massCenter{};          // 3 values
  std::optional<std::vector<double>> inertiaAboutCenter{};  // 6 values I11 I22 I33 I12 I13 I23
  std::optional<std::vector<double>> inertiaAboutOrigin{};  // 6 values
};

struct FrameInfo {
  std::optional<int> incrementNumber{};
  std::optional<std::string> description{};
  std::optional<double> frameValue{};
};

struct FieldInfo {
  std::optional<std::string> description{};
  odb_Enum::odb_DataTypeEnum type = odb_Enum::SCALAR;         // always written
  std::vector<std::string> componentLabels{};                 // written when not empty
  std::vector<odb_Enum::odb_InvariantEnum> validInvariants{};  // written when not empty
  std::optional<int> isComplex{};
};

struct BlockInfo {
  odb_Enum::odb_ResultPositionEnum position = odb_Enum::NODAL;  // a value outside the list is refused
  std::optional<std::string> instance{};
  std::optional<int> sectionPoint{};
  std::vector<int> nodeLabels{};                 // each written when not empty
  std::vector<int> elementLabels{};
  std::vector<int> integrationPoints{};
  bool oneDimensional = false;                 // width 1 data stored as [length] instead of [length, 1]
};

struct HistoryRegionInfo {
  std::optional<std::string> description{};
  std::optional<int> node{};
  std::optional<int> element{};
  std::optional<int> ipNumber{};
  std::optional<int> sectionPoint{};
  std::optional<std::string> region{};
  std::optional<std::string> instance{};
};

struct HistoryOutputInfo {
  std::optional<std::string> description{};
  std::optional<int> type{};
};

class Writer {
 public:
  // Creates path, replacing any file of that name, and writes the root attributes.
  explicit Writer(const std::string& path, const Options& options = {});
  ~Writer();  // closes quietly when close() was not called
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Flushes and closes the file; throws odb_Exception when that fails.
  void close();
  const std::string& path() const;

  void setDescription(const std::string& text);

  // Model.
  void setAssemblyName(const std::string& name);
  void addPart(const std::string& part);
  void addPartSet(const std::string& part, SetKind kind, const std::string& name,
                  std::span<const int> labels, bool internal = false);
  // part may be empty: no attribute is written.
  void addInstance(const std::string& name, const std::string& part);
  // coordinates holds 3 values per node, or nothing.
  void setInstanceNodes(const std::string& instance, std::span<const int> labels,
                        std::span<const double> coordinates = {});
  // offsets has labels.size() + 1 entries; element i has the nodes
  // connectivity[offsets[i] .. offsets[i+1]).
  void setInstanceElements(const std::string& instance, std::span<const int> labels,
                           std::span<const std::int64_t> offsets, std::span<const int> connectivity);
  void addInstanceSet(const std::string& instance, SetKind kind, const std::string& name,
                      std::span<const int> labels, bool internal = false);
  // An assembly set: one label list per instance.
  void addAssemblySet(SetKind kind, const std::string& name,
                      const std::vector<std::pair<std::string, std::vector<int>>>& perInstance,
                      bool internal = false);

  // Results. Steps and frames are written in the order they are added;
  // addFrame returns the frame's index (0, 1, ...).
  void addStep(const std::string& step, const StepInfo& info = {});
  int addFrame(const std::string& step, const FrameInfo& info = {});
  void addFieldOutput(const std::string& step, int frame, const std::string& field, const FieldInfo& info);
  // data holds rows x width values row by row (rows = data.size() / width).
  // Returns the block's index.
  int addBlock(const std::string& step, int frame, const std::string& field, const BlockInfo& info,
               std::span<const float> data, int width);
  int addBlock(const std::string& step, int frame, const std::string& field, const BlockInfo& info,
               std::span<const double> data, int width);

  void addHistoryRegion(const std::string& step, const std::string& region, const HistoryRegionInfo& info = {});
  // rows x width values (normally width 2: time, value). Format 1 files store
  // the columns as time and value and need width 2.
  void addHistoryOutput(const std::string& step, const std::string& region, const std::string& output,
                        const HistoryOutputInfo& info, std::span<const float> data, int width);
  void addHistoryOutput(const std::string& step, const std::string& region, const std::string& output,
                        const HistoryOutputInfo& info, std::span<const double> data, int width);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace odbw
