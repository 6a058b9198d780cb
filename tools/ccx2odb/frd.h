// Streaming reader of CalculiX .frd result files (ASCII short and long
// format, binary). Each call to next() reads one block: the node block, the
// element block or one result block; memory is that of one block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input.h"

namespace ccx {

// Number of nodes of a .frd element type (1 8-node brick ... 12 3-node beam), 0 when unknown.
int frdNodesPerElement(int frdType);

struct FrdNodes {
  std::vector<int> labels;
  std::vector<double> coordinates;  // 3 per node
};

struct FrdElements {
  std::vector<int> labels;
  std::vector<int> types;             // .frd element type numbers
  std::vector<std::int64_t> offsets;  // labels.size() + 1 entries
  std::vector<int> connectivity;      // node labels in the order of the file
};

struct FrdComponent {
  std::string name;  // e.g. "D1", "SXX", "ALL"
  int type = 1;      // 1 scalar, 2 vector, 4 tensor, 12/14 complex forms
  int row = 0;       // row and column index: SXX 1 1, SXY 1 2, ...
  int column = 0;
  bool stored = true;  // false for a component the reader must compute (ALL)
};

struct FrdResult {
  long line = 0;  // line of the 100C header
  int step = 0;   // from the 1PSTEP line before the block (0 when none)
  int increment = 0;
  int mode = 0;          // from a 1PMODE line (frequency and buckling steps), 0 when none
  double value = 0.0;    // total time, or the frequency of a modal step
  int analysisType = 0;  // 0 static, 1 dynamic, 2 frequency, 3 other, 4 buckling
  int set = 0;           // the header's output counter: blocks of one result set share it; 0 when blank
  std::string name;      // e.g. "DISP"
  std::vector<FrdComponent> components;
  std::vector<int> storedColumns;  // indices into components of the data columns
  std::vector<int> nodes;
  std::vector<float> values;  // nodes.size() x storedColumns.size()
};

class FrdReader {
 public:
  enum class Item { Nodes, Elements, Result, End };

  // A block cut off by the end of the file (a solver stopped mid-write).
  class CutOff : public ParseError {
   public:
    CutOff(const std::string& file, long line, const std::string& message);
  };

  explicit FrdReader(InputFile& input, bool partial = false) : in_(input), partial_(partial) {}
  // Reads up to and including the next block; throws ParseError on bad
  // input. End comes at the 9999 record or at the end of the file between
  // blocks (complete() tells which). A block cut off by the end of the file
  // throws CutOff, or, when partial, ends the file and is described by
  // dropped().
  Item next();
  bool complete() const { return complete_; }
  const std::string& dropped() const { return dropped_; }

  const FrdNodes& nodes() const { return nodes_; }
  const FrdElements& elements() const { return elements_; }
  const FrdResult& result() const { return result_; }
  FrdNodes& nodes() { return nodes_; }
  FrdElements& elements() { return elements_; }

 private:
  void readNodes(std::string_view header);
  void readElements(std::string_view header);
  void readResult(std::string_view header);
  void readResultAscii(bool longFormat, std::size_t expected);
  void readResultBinary(std::size_t count);
  void readParameter(std::string_view line);
  void readComponents();
  Item nextItem();
  [[noreturn]] void cutOff(const std::string& message) const;
  [[noreturn]] void bad(std::string_view what, std::string_view text) const;

  InputFile& in_;
  bool partial_ = false;
  bool complete_ = false;
  std::string dropped_;
  FrdNodes nodes_;
  FrdElements elements_;
  FrdResult result_;
  int step_ = 0;
  int increment_ = 0;
  int mode_ = 0;
};

}  // namespace ccx
