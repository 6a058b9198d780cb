// The deck reader: one pass over the keyword lines and their data lines,
// following *INCLUDE into other files. Only what the importer maps is kept:
// nodes, elements, sets, densities, sections and the step count.
#include "inp.h"

#include <utility>

namespace ccx {

const InpSet* InpModel::findNodeSet(const std::string& name) const {
  auto it = nodeSetIndex.find(name);
  return it == nodeSetIndex.end() ? nullptr : &nodeSets[it->second];
}

const InpSet* InpModel::findElementSet(const std::string& name) const {
  auto it = elementSetIndex.find(name);
  return it == elementSetIndex.end() ? nullptr : &elementSets[it->second];
}

namespace {

enum class Block { None, Node, Element, NodeSet, ElementSet, Density };

struct Keyword {
  std::string name;                                         // upper-cased, without '*'
  std::vector<std::pair<std::string, std::string>> params;  // upper-cased keys, values as written
  bool has(const std::string& key) const {
    for (const auto& p : params)
      if (p.first == key) return true;
    return false;
  }
  std::string value(const std::string& key) const {
    for (const auto& p : params)
      if (p.first == key) return std::string(trim(p.second));
    return {};
  }
};

class DeckReader {
 public:
  explicit DeckReader(InpModel& model) : m_(model) {}
  void read(InputFile& in, const std::string& directory, int depth);

 private:
  void keyword(InputFile& in, const std::string& text, const std::string& directory, int depth);
  void data(InputFile& in, std::string_view line);
  void nodeLine(InputFile& in, const std::vector<std::string_view>& f);
  void elementLine(InputFile& in, std::string_view line, const std::vector<std::string_view>& f);
  void finishElement(InputFile& in);
  void setLine(InputFile& in, const std::vector<std::string_view>& f, bool nodes);
  InpSet& setNamed(bool nodes, const std::string& name);
  int typeIndex(const std::string& type);

  InpModel& m_;
  Block block_ = Block::None;
  std::string elementType_;
  int elementNodes_ = 0;    // nodes of elementType_, 0 when the type is not known here
  int open_ = -1;           // label of the element whose node list goes on, -1 when none
  std::size_t openFrom_ = 0;  // where its nodes start in the connectivity
  bool openComma_ = false;  // an element of unknown type whose line ended in a comma
  std::string setName_;  // *NSET/*ELSET being filled, or the NSET=/ELSET= of *NODE/*ELEMENT
  bool generate_ = false;
  std::string material_;
};

// An item of a data line that must be an integer (a label, a GENERATE bound).
long integerItem(InputFile& in, std::string_view field, const char* what) {
  return intField(in, field, 0, std::string_view::npos, what);
}

// Nodes of a deck element type, 0 when the type has no fixed count here
// (user elements, network elements).
int nodesOfType(std::string_view type) {
  static const struct { const char* prefix; int nodes; } fixed[] = {
      {"B31", 2}, {"B32", 3}, {"T2D2", 2}, {"T3D2", 2}, {"T3D3", 3}, {"SPRINGA", 2}, {"SPRING1", 1},
      {"SPRING2", 2}, {"DASHPOTA", 2}, {"GAPUNI", 2}, {"MASS", 1}, {"DCOUP3D", 1}};
  for (const auto& f : fixed)
    if (type.rfind(f.prefix, 0) == 0) return f.nodes;
  // Families named by their node count: C3D20R, CPS8, CAX4, S8R, M3D4, F3D6, ...
  for (const char* family : {"C3D", "CPS", "CPE", "CAX", "M3D", "F3D", "S"}) {
    const std::string_view f(family);
    if (type.rfind(f, 0) != 0) continue;
    int n = 0;
    for (std::size_t i = f.size(); i < type.size() && n <= 27 && type[i] >= '0' && type[i] <= '9'; ++i)
      n = 10 * n + (type[i] - '0');
    return n <= 27 ? n : 0;
  }
  return 0;
}

}  // namespace

int DeckReader::typeIndex(const std::string& type) {
  for (std::size_t i = 0; i < m_.typeNames.size(); ++i)
    if (m_.typeNames[i] == type) return static_cast<int>(i);
  m_.typeNames.push_back(type);
  return static_cast<int>(m_.typeNames.size() - 1);
}

InpSet& DeckReader::setNamed(bool nodes, const std::string& name) {
  auto& index = nodes ? m_.nodeSetIndex : m_.elementSetIndex;
  auto& sets = nodes ? m_.nodeSets : m_.elementSets;
  auto [it, inserted] = index.emplace(name, sets.size());
  if (inserted) sets.push_back(InpSet{name, {}});
  return sets[it->second];
}

static Keyword parseKeyword(const std::string& text) {
  Keyword k;
  const auto fields = splitCommas(std::string_view(text).substr(1));
  k.name = upper(fields[0]);
  for (std::size_t i = 1; i < fields.size(); ++i) {
    if (fields[i].empty()) continue;
    const std::size_t eq = fields[i].find('=');
    if (eq == std::string_view::npos)
      k.params.emplace_back(upper(fields[i]), "");
    else
      k.params.emplace_back(upper(trim(fields[i].substr(0, eq))), std::string(trim(fields[i].substr(eq + 1))));
  }
  return k;
}

// The analysis type a procedure keyword gives its step's .frd blocks; -1
// for keywords that are no procedure.
static int procedureOf(const std::string& keyword) {
  static const char* const kOther[] = {"HEAT TRANSFER",         "COUPLED TEMPERATURE-DISPLACEMENT",
                                       "UNCOUPLED TEMPERATURE-DISPLACEMENT", "STEADY STATE DYNAMICS",
                                       "GREEN",                 "SENSITIVITY",
                                       "ELECTROMAGNETICS",      "CFD",
                                       "VISCO",                 "SUBSTRUCTURE GENERATE",
                                       "CRACK PROPAGATION"};
  if (keyword == "STATIC") return 0;
  if (keyword == "DYNAMIC" || keyword == "MODAL DYNAMIC") return 1;
  if (keyword == "FREQUENCY" || keyword == "COMPLEX FREQUENCY") return 2;
  if (keyword == "BUCKLE") return 4;
  for (const char* other : kOther)
    if (keyword == other) return 3;
  return -1;
}

void DeckReader::keyword(InputFile& in, const std::string& text, const std::string& directory, int depth) {
  finishElement(in);
  const Keyword k = parseKeyword(text);
  block_ = Block::None;
  setName_.clear();
  if (k.name == "INCLUDE") {
    std::string file = k.value("INPUT");
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"') file = file.substr(1, file.size() - 2);
    if (file.empty()) in.fail("*INCLUDE without INPUT=");
    if (depth > 16) in.fail("*INCLUDE nested too deeply");
    if (directory.empty()) in.fail("*INCLUDE of " + file + " in a deck read without files");
    const std::string path = file[0] == '/' || directory == "." ? file : directory + "/" + file;
    InputFile included(path);
    m_.includes.push_back(path);
    const std::size_t slash = path.rfind('/');
    read(included, slash == std::string::npos ? "." : path.substr(0, slash), depth + 1);
  } else if (k.name == "NODE") {
    block_ = Block::Node;
    setName_ = upper(k.value("NSET"));
  } else if (k.name == "ELEMENT") {
    block_ = Block::Element;
    elementType_ = upper(k.value("TYPE"));
    if (elementType_.empty()) in.fail("*ELEMENT without TYPE=");
    elementNodes_ = nodesOfType(elementType_);
    setName_ = upper(k.value("ELSET"));
  } else if (k.name == "NSET" || k.name == "ELSET") {
    const bool nodes = k.name == "NSET";
    setName_ = upper(k.value(nodes ? "NSET" : "ELSET"));
    if (setName_.empty()) in.fail("*" + k.name + " without " + k.name + "=");
    setNamed(nodes, setName_);
    generate_ = k.has("GENERATE");
    block_ = nodes ? Block::NodeSet : Block::ElementSet;
  } else if (k.name == "MATERIAL") {
    material_ = upper(k.value("NAME"));
    m_.materials.push_back(material_);
  } else if (k.name == "DENSITY") {
    block_ = Block::Density;
  } else if (k.name == "SOLID SECTION" || k.name == "SHELL SECTION" || k.name == "BEAM SECTION" ||
             k.name == "MEMBRANE SECTION" || k.name == "BEAM GENERAL SECTION") {
    InpSection s{upper(k.value("ELSET")), upper(k.value("MATERIAL")), k.name == "SOLID SECTION"};
    if (!m_.findElementSet(s.elset)) in.fail("*" + k.name + " names an unknown element set " + s.elset);
    m_.sections.push_back(std::move(s));
  } else if (k.name == "STEP") {
    ++m_.steps;
    m_.procedures.push_back(-1);
  } else if (const int p = procedureOf(k.name); p >= 0 && !m_.procedures.empty() && m_.procedures.back() < 0) {
    m_.procedures.back() = p;
  }
}

void DeckReader::nodeLine(InputFile& in, const std::vector<std::string_view>& f) {
  const long label = integerItem(in, f[0], "node number");
  m_.nodeLabels.push_back(static_cast<int>(label));
  for (std::size_t i = 1; i <= 3; ++i) {
    double x = 0;
    if (i < f.size() && !f[i].empty() && !parseReal(f[i], x)) in.fail("bad coordinate '" + std::string(f[i]) + "'");
    m_.coordinates.push_back(x);
  }
  if (!setName_.empty()) setNamed(true, setName_).labels.push_back(static_cast<int>(label));
}

// An element's node list goes on in the next lines until its type's node
// count is reached (a complete list may still end in a comma); for types
// without a fixed count, while its lines end in a comma.
void DeckReader::elementLine(InputFile& in, std::string_view line, const std::vector<std::string_view>& f) {
  std::size_t i = 0;
  if (open_ < 0) {
    open_ = static_cast<int>(integerItem(in, f[0], "element number"));
    openFrom_ = m_.connectivity.size();
    i = 1;
  }
  for (; i < f.size(); ++i)
    if (!f[i].empty()) m_.connectivity.push_back(static_cast<int>(integerItem(in, f[i], "node number")));
  const std::size_t have = m_.connectivity.size() - openFrom_;
  openComma_ = elementNodes_ == 0 && line.back() == ',';
  if (openComma_ || have < static_cast<std::size_t>(elementNodes_)) return;
  finishElement(in);
}

void DeckReader::finishElement(InputFile& in) {
  if (open_ < 0) return;
  const int label = std::exchange(open_, -1);
  const std::size_t n = m_.connectivity.size() - openFrom_;
  if (n == 0) in.fail("element " + std::to_string(label) + " has no nodes");
  m_.elementLabels.push_back(label);
  m_.elementTypes.push_back(typeIndex(elementType_));
  m_.offsets.push_back(m_.offsets.back() + static_cast<std::int64_t>(n));
  if (!setName_.empty()) setNamed(false, setName_).labels.push_back(label);
}

void DeckReader::setLine(InputFile& in, const std::vector<std::string_view>& f, bool nodes) {
  InpSet& target = setNamed(nodes, setName_);
  if (generate_) {
    const long first = integerItem(in, f[0], "first number");
    const long last = f.size() > 1 ? integerItem(in, f[1], "last number") : first;
    const long step = f.size() > 2 && !f[2].empty() ? integerItem(in, f[2], "increment") : 1;
    if (step <= 0 || last < first) in.fail("bad GENERATE range");
    if ((last - first) / step >= 100000000L) in.fail("GENERATE range of more than 100000000 numbers");
    for (long v = first; v <= last; v += step) target.labels.push_back(static_cast<int>(v));
    return;
  }
  std::vector<int> add;
  for (std::string_view item : f) {
    if (item.empty()) continue;
    long v = 0;
    if (parseInt(item, v)) {
      add.push_back(static_cast<int>(v));
      continue;
    }
    const std::string name = upper(item);
    const InpSet* other = nodes ? m_.findNodeSet(name) : m_.findElementSet(name);
    if (!other) in.fail(std::string("unknown ") + (nodes ? "node" : "element") + " set " + name);
    if (name == setName_) continue;  // a set naming itself adds nothing
    add.insert(add.end(), other->labels.begin(), other->labels.end());
  }
  // setNamed may have moved the set vector; take the target afresh.
  InpSet& again = setNamed(nodes, setName_);
  // Sets naming each other in turn would double at every line.
  if (again.labels.size() + add.size() > 100000000U) in.fail("set " + setName_ + " of more than 100000000 members");
  again.labels.insert(again.labels.end(), add.begin(), add.end());
  (void)target;
}

void DeckReader::data(InputFile& in, std::string_view line) {
  if (block_ == Block::None) return;
  const auto f = splitCommas(line);
  switch (block_) {
    case Block::Node:
      return nodeLine(in, f);
    case Block::Element:
      return elementLine(in, line, f);
    case Block::NodeSet:
      return setLine(in, f, true);
    case Block::ElementSet:
      return setLine(in, f, false);
    case Block::Density: {
      double rho = 0;
      if (!parseReal(f[0], rho)) in.fail("bad density '" + std::string(f[0]) + "'");
      if (!material_.empty() && !m_.densities.count(material_)) m_.densities[material_] = rho;
      return;
    }
    case Block::None:
      return;
  }
}

void DeckReader::read(InputFile& in, const std::string& directory, int depth) {
  std::string_view raw;
  std::string joined, held;  // held: a keyword line read while looking for a continuation
  bool holding = false;
  for (;;) {
    if (holding) {
      joined.swap(held);
      holding = false;
    } else if (in.nextLine(raw)) {
      joined.assign(trim(raw));
    } else {
      break;
    }
    if (joined.empty() || joined.rfind("**", 0) == 0) continue;
    if (joined[0] != '*') {
      data(in, joined);
      continue;
    }
    // Keyword options go on in the next line after a trailing comma, unless
    // that line is a keyword itself.
    while (joined.back() == ',' && in.nextLine(raw)) {
      const std::string_view more = trim(raw);
      if (more.rfind("**", 0) == 0) continue;
      if (!more.empty() && more[0] == '*') {
        held.assign(more);
        holding = true;
        break;
      }
      joined.append(more);
    }
    keyword(in, joined, directory, depth);
  }
  finishElement(in);
}

InpModel readInp(const std::string& path) {
  InpModel model;
  InputFile in(path);
  const std::size_t slash = path.rfind('/');
  DeckReader(model).read(in, slash == std::string::npos ? "." : path.substr(0, slash), 0);
  return model;
}

InpModel readInpText(const std::string& name, const std::string& text, const std::string& directory) {
  InpModel model;
  InputFile in(name, text);
  DeckReader(model).read(in, directory, 0);
  return model;
}

}  // namespace ccx
