// Names and types of the database objects made from .frd and .dat blocks.
#include "mapping.h"

#include <algorithm>
#include <string_view>

#include "odb/vocabulary.h"

namespace ccx {

using E = odb_Enum;
static constexpr E::odb_DataTypeEnum kScalar = E::SCALAR, kVector = E::VECTOR, kTensor3dFull = E::TENSOR_3D_FULL;
static const std::vector<E::odb_InvariantEnum> kTensorInvariants = {
    E::MISES, E::TRESCA, E::PRESS, E::INV3, E::MAX_PRINCIPAL, E::MID_PRINCIPAL, E::MIN_PRINCIPAL};
static const std::vector<E::odb_InvariantEnum> kVectorInvariants = {E::MAGNITUDE};

int tensorSlot(int row, int column) {
  const int a = std::min(row, column), b = std::max(row, column);
  if (a == b && a >= 1 && a <= 3) return a - 1;
  if (a == 1 && b == 2) return 3;
  if (a == 1 && b == 3) return 4;
  if (a == 2 && b == 3) return 5;
  return -1;
}

struct Known {
  const char* frd;
  const char* name;
  const char* description;
  int type;
};

static const Known kKnown[] = {
    {"DISP", "U", "Spatial displacement", kVector},
    {"FORC", "RF", "Reaction force", kVector},
    {"STRESS", "S", "Stress components", kTensor3dFull},
    {"TOSTRAIN", "E", "Strain components", kTensor3dFull},
    {"MESTRAIN", "ME", "Mechanical strain components", kTensor3dFull},
    {"NDTEMP", "NT", "Nodal temperature", kScalar},
    {"PE", "PEEQ", "Equivalent plastic strain", kScalar},
};

// Field names end up in parameter names ("Step_1__Frame_2__U__mag"):
// letters, digits and underscores only. A percentage component (the error
// estimate "STR(%)") becomes ERR_ and its name.
std::string fieldName(std::string_view name) {
  std::string out;
  bool gap = false;
  for (char c : name) {
    const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!word) {
      gap = !out.empty();
      continue;
    }
    if (gap) out += '_';
    gap = false;
    out += c;
  }
  if (out.empty()) out = "X";
  return name.find('%') != std::string_view::npos ? "ERR_" + out : out;
}

static bool tensorBlock(const FrdResult& b, FieldDef& f) {
  int seen = 0;
  f.columns.assign(6, -1);
  for (std::size_t k = 0; k < b.storedColumns.size(); ++k) {
    const FrdComponent& c = b.components[static_cast<std::size_t>(b.storedColumns[k])];
    const int slot = c.type == 4 ? tensorSlot(c.row, c.column) : -1;
    if (slot < 0 || f.columns[static_cast<std::size_t>(slot)] >= 0) return false;
    f.columns[static_cast<std::size_t>(slot)] = static_cast<int>(k);
    ++seen;
  }
  return seen == 6;
}

FrdMapping mapFrdBlock(const FrdResult& b) {
  FrdMapping m;
  const Known* known = nullptr;
  for (const Known& k : kKnown)
    if (b.name == k.frd) known = &k;
  FieldDef& f = m.field;
  f.name = known ? known->name : fieldName(b.name);
  f.description = known ? known->description : b.name + " components";
  // CONTACT declares its six values with tensor indices, but they are
  // separate quantities at the contact nodes: one field each.
  if ((!known || known->type == kTensor3dFull) && b.name != "CONTACT" && tensorBlock(b, f)) {
    m.layout = FrdLayout::ElementNodal;
    f.type = kTensor3dFull;
    for (std::string_view s : odb_vocab::kTensorSuffixes) f.labels.push_back(f.name + std::string(s));
    f.invariants = kTensorInvariants;
    return m;
  }
  f.columns.clear();
  std::vector<bool> taken(b.storedColumns.size(), false);
  if (known && known->type == kVector) {
    // The vector's columns are those with rows 1, 2, 3; a block may carry
    // more (D4, D5 of an electromagnetic run), which become scalars below.
    std::vector<int> at(3, -1);
    for (std::size_t k = 0; k < b.storedColumns.size(); ++k) {
      const FrdComponent& c = b.components[static_cast<std::size_t>(b.storedColumns[k])];
      if (c.type == 2 && c.row >= 1 && c.row <= 3 && at[static_cast<std::size_t>(c.row - 1)] < 0)
        at[static_cast<std::size_t>(c.row - 1)] = static_cast<int>(k);
    }
    if (b.storedColumns.size() == 3 && std::count(at.begin(), at.end(), -1) == 3) at = {0, 1, 2};
    if (std::count(at.begin(), at.end(), -1) == 0) {
      m.layout = FrdLayout::Nodal;
      f.type = kVector;
      for (int k = 0; k < 3; ++k) {
        f.labels.push_back(f.name + std::to_string(k + 1));
        f.columns.push_back(at[static_cast<std::size_t>(k)]);
        taken[static_cast<std::size_t>(at[static_cast<std::size_t>(k)])] = true;
      }
      f.invariants = kVectorInvariants;
    }
  }
  if (known && known->type == kScalar && b.storedColumns.size() == 1) {
    m.layout = FrdLayout::Nodal;
    f.type = kScalar;
    f.columns.push_back(0);
    return m;
  }
  // Anything else: each printed column its own scalar field, named after the component.
  if (m.layout != FrdLayout::Nodal) m.layout = FrdLayout::PerComponent;
  for (std::size_t k = 0; k < b.storedColumns.size(); ++k) {
    if (taken[k]) continue;
    FieldDef c;
    c.name = fieldName(b.components[static_cast<std::size_t>(b.storedColumns[k])].name);
    c.description = b.name + " component " + b.components[static_cast<std::size_t>(b.storedColumns[k])].name;
    c.type = kScalar;
    c.columns.push_back(static_cast<int>(k));
    m.components.push_back(std::move(c));
  }
  return m;
}

struct KnownDat {
  const char* what;
  const char* name;
  const char* description;
};

// Node prints and set totals become history outputs; the names of their columns follow.
static const KnownDat kHistory[] = {
    {"displacements", "U", "Spatial displacement"},
    {"forces", "RF", "Reaction force"},
    {"temperatures", "NT", "Nodal temperature"},
    {"velocities", "V", "Spatial velocity"},
    {"total force", "RF", "Total reaction force"},
    {"total mass", "MASS", "Total mass"},
    {"center of gravity", "CG", "Centre of gravity"},
    {"total mass moment of inertia", "J", "Second moment of mass about the origin"},
    {"total mass moment of inertia about the center ofgravity", "JC", "Second moment of mass about the centre"},
    {"total internal energy", "ELSE", "Total strain energy"},
    {"total volume", "EVOL", "Total volume"},
};

static const KnownDat kIntegrationPoint[] = {
    {"stresses", "S_IP", "Stress components at integration points"},
    {"strains", "E_IP", "Strain components at integration points"},
    {"mechanical strains", "ME_IP", "Mechanical strain components at integration points"},
    {"equivalent plastic strain", "PEEQ_IP", "Equivalent plastic strain at integration points"},
    {"internal energy density", "ENER_IP", "Strain energy density at integration points"},
    {"heat flux", "HFL_IP", "Heat flux at integration points"},
};

static const KnownDat kWholeElement[] = {
    {"internal energy", "ELSE", "Element strain energy"},
    {"volume", "EVOL", "Element volume"},
    {"mass", "EMAS", "Element mass"},
};

static const KnownDat* find(const KnownDat* first, const KnownDat* last, const std::string& what) {
  for (; first != last; ++first)
    if (what == first->what) return first;
  return nullptr;
}

static std::vector<std::string> historyNames(const std::string& name, int width) {
  std::vector<std::string> out;
  for (int k = 0; k < width; ++k)
    out.push_back(width == 1 ? name : name + (width == 6 ? std::string(odb_vocab::kTensorSuffixes[k]) : std::to_string(k + 1)));
  return out;
}

static void integrationPointField(const DatBlock& b, const std::string& name, const std::string& description,
                                  DatMapping& m) {
  FieldDef f;
  f.name = name;
  f.description = description;
  const std::string base = name.substr(0, name.size() - 3);  // without "_IP"
  if (b.width == 6) {  // the .dat prints tensors as xx yy zz xy xz yz: already 11 22 33 12 13 23
    f.type = kTensor3dFull;
    for (std::string_view s : odb_vocab::kTensorSuffixes) f.labels.push_back(base + std::string(s));
    f.invariants = kTensorInvariants;
  } else if (b.width == 3) {
    f.type = kVector;
    for (int c = 1; c <= 3; ++c) f.labels.push_back(base + std::to_string(c));
    f.invariants = kVectorInvariants;
  }
  if (b.width == 1 || b.width == 3 || b.width == 6) {
    for (int c = 0; c < b.width; ++c) f.columns.push_back(c);
    m.fields.push_back(std::move(f));
    return;
  }
  // Any other width (internal state variables): a scalar field per column, NAME_IP_1, NAME_IP_2, ...
  for (int c = 0; c < b.width; ++c) {
    FieldDef one;
    one.name = name + "_" + std::to_string(c + 1);
    one.description = description + " " + std::to_string(c + 1);
    one.columns.push_back(c);
    m.fields.push_back(std::move(one));
  }
}

DatMapping mapDatBlock(const DatBlock& b) {
  DatMapping m;
  if (b.kind == DatBlock::Kind::Node || b.kind == DatBlock::Kind::Total) {
    const KnownDat* k = find(std::begin(kHistory), std::end(kHistory), b.what);
    m.history = true;
    m.outputs = historyNames(k ? k->name : fieldName(upper(b.what)), b.width);
    m.outputDescription = k ? k->description : b.what;
    return m;
  }
  if (b.kind == DatBlock::Kind::IntegrationPoint || b.kind == DatBlock::Kind::Face) {
    const KnownDat* k = find(std::begin(kIntegrationPoint), std::end(kIntegrationPoint), b.what);
    const std::string name = fieldName(upper(b.what)) + "_IP";
    m.position = E::INTEGRATION_POINT;
    integrationPointField(b, k ? k->name : name, k ? k->description : b.what, m);
    return m;
  }
  // Whole-element prints: the first column under the print's key, the
  // others (the element's second moments of mass) under key_J11 ....
  const KnownDat* k = find(std::begin(kWholeElement), std::end(kWholeElement), b.what);
  m.position = E::WHOLE_ELEMENT;
  const std::string key = k ? k->name : fieldName(upper(b.what));
  for (int c = 0; c < b.width; ++c) {
    FieldDef f;
    f.name = c == 0 ? key : key + "_J" + std::string(odb_vocab::kTensorSuffixes[(c - 1) % 6]);
    f.description = c == 0 ? (k ? k->description : "Element " + b.what)
                           : "Element second moment of mass " + std::string(odb_vocab::kTensorSuffixes[(c - 1) % 6]);
    f.columns.push_back(c);
    m.fields.push_back(std::move(f));
  }
  return m;
}

}  // namespace ccx
