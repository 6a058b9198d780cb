// How solver results become database objects: field names, types,
// component labels, descriptions and valid invariants (docs/calculix.md).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dat.h"
#include "frd.h"
#include "odb/odb.h"

namespace ccx {

struct FieldDef {
  std::string name;
  std::string description;
  odb_Enum::odb_DataTypeEnum type = odb_Enum::SCALAR;
  std::vector<std::string> labels;  // component labels, empty for a scalar
  std::vector<odb_Enum::odb_InvariantEnum> invariants;
  std::vector<int> columns;  // source column of each stored component
};

// How a .frd block is stored.
enum class FrdLayout {
  Nodal,         // one NODAL field (vectors, named scalars), and components for columns beyond the vector
  ElementNodal,  // one ELEMENT_NODAL tensor field, a block per element type
  PerComponent,  // one NODAL scalar field per component
};

struct FrdMapping {
  FrdLayout layout = FrdLayout::PerComponent;
  FieldDef field;                    // Nodal and ElementNodal
  std::vector<FieldDef> components;  // PerComponent: one scalar field per data column
};

FrdMapping mapFrdBlock(const FrdResult& block);

// How a .dat block is stored: a field (integration points, whole elements)
// or history (node prints and set totals).
struct DatMapping {
  bool history = false;
  odb_Enum::odb_ResultPositionEnum position = odb_Enum::WHOLE_ELEMENT;  // or INTEGRATION_POINT, for fields
  std::vector<FieldDef> fields;      // fields: usually one; whole-element prints may give several
  std::vector<std::string> outputs;  // history: one output name per column
  std::string outputDescription;
};

DatMapping mapDatBlock(const DatBlock& block);

// A field name made of letters, digits and underscores ("STR(%)" -> "ERR_STR").
std::string fieldName(std::string_view name);

// The tensor component (0..5 for 11 22 33 12 13 23) of a row and column index, -1 otherwise.
int tensorSlot(int row, int column);

}  // namespace ccx
