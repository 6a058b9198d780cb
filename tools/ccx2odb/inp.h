// Reader of CalculiX input decks: the mesh, the sets, the densities and
// sections, and the steps with their procedures. Keywords are case-insensitive; set and
// material names are upper-cased as the solver does.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "input.h"

namespace ccx {

struct InpSet {
  std::string name;  // upper-cased
  std::vector<int> labels;
};

struct InpSection {
  std::string elset;     // upper-cased
  std::string material;  // upper-cased
  bool solid = true;     // *SOLID SECTION (false for shell, beam, membrane sections)
};

struct InpModel {
  std::vector<int> nodeLabels;
  std::vector<double> coordinates;  // 3 per node
  std::vector<int> elementLabels;
  std::vector<int> elementTypes;         // index into typeNames
  std::vector<std::string> typeNames;    // upper-cased, e.g. "C3D10"
  std::vector<std::int64_t> offsets{0};  // connectivity in the deck's node order
  std::vector<int> connectivity;
  std::vector<InpSet> nodeSets;  // in order of first definition
  std::vector<InpSet> elementSets;
  std::unordered_map<std::string, double> densities;  // material -> density
  std::vector<std::string> materials;                 // every *MATERIAL name
  std::vector<InpSection> sections;
  int steps = 0;
  // Per *STEP, its procedure as the .frd's analysis type numbers it: 0
  // static, 1 dynamic, 2 frequency, 4 buckling, 3 any other; -1 when the
  // step names none.
  std::vector<int> procedures;
  std::vector<std::string> includes;  // paths of the files *INCLUDE read, as opened

  const InpSet* findNodeSet(const std::string& name) const;
  const InpSet* findElementSet(const std::string& name) const;
  std::unordered_map<std::string, std::size_t> nodeSetIndex, elementSetIndex;
};

// Reads path and the files it includes; throws ParseError "FILE:LINE: ...".
InpModel readInp(const std::string& path);
// Reads a deck given as text (for tests); *INCLUDE paths are relative to
// directory, and an empty directory reads no other file (an *INCLUDE fails).
InpModel readInpText(const std::string& name, const std::string& text, const std::string& directory = ".");

}  // namespace ccx
