// Streaming reader of the solver's .dat print file: one block per call, a
// header line "<what> (<columns>) for set <SET> and time <t>" and its rows.
#pragma once

#include <string>
#include <vector>

#include "input.h"

namespace ccx {

struct DatBlock {
  // Face: contact prints per slave element face, a row per point of the face.
  enum class Kind { Node, IntegrationPoint, Element, Total, Face };
  long line = 0;  // line of the header
  Kind kind = Kind::Node;
  std::string what;                  // e.g. "displacements", "total force"
  std::vector<std::string> columns;  // value columns only, e.g. "vx", "sxx", "mass"
  std::string set;                   // upper-cased as printed; empty for contact prints and model totals
  double time = 0.0;                 // total time
  int mode = 0;                      // mode number of a print after an "EIGENVALUE NUMBER" line, else 0
  int modeKind = 0;                  // with a mode: 2 frequency, 4 buckling (the table before it)
  std::vector<int> ids;              // node or element per row (empty for totals)
  std::vector<int> points;           // integration point (IntegrationPoint) or face (Face) per row
  std::vector<double> values;        // rows x width
  int width = 0;
  std::size_t rows() const { return width ? values.size() / static_cast<std::size_t>(width) : 0; }
};

class DatReader {
 public:
  explicit DatReader(InputFile& input) : in_(input) {}
  // Reads the next "... for set S and time t" block, contact print "... for
  // all contact elements and time t" or model total "... for time t"; false
  // at the end. Other prints (eigenvalue tables) are skipped.
  bool next(DatBlock& block);

 private:
  bool header(std::string_view line, DatBlock& block);
  void rows(DatBlock& block);

  void banner(std::string_view line);

  InputFile& in_;
  std::string held_;  // a header read as the end of an empty block, taken next
  int modeKind_ = 0;  // 2 after an eigenvalue table, 4 after a buckling factor table
  int mode_ = 0;      // the mode of the last "EIGENVALUE NUMBER" line, 0 once a print at another time follows
  bool modeTimed_ = false;
  double modeTime_ = 0.0;  // time of the first print of that mode
  std::vector<std::string> modePrints_;  // what and set of each print of that mode: a repeat ends the mode
};

}  // namespace ccx
