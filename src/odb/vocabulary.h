// The names a database file and the tools share: result positions and data
// types as spelled in files and listings, the tensor component suffixes and
// the tensor test. Everything that reads, writes or lists a database takes
// them from here.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "odb.h"

namespace odb_vocab {

// Indexed by odb_Enum::odb_ResultPositionEnum.
inline constexpr std::array<std::string_view, 5> kPositionNames = {"NODAL", "INTEGRATION_POINT", "CENTROID",
                                                                   "WHOLE_ELEMENT", "ELEMENT_NODAL"};

inline constexpr std::string_view positionName(odb_Enum::odb_ResultPositionEnum p) {
  return static_cast<unsigned>(p) < kPositionNames.size() ? kPositionNames[p] : std::string_view("OTHER");
}

inline constexpr std::optional<odb_Enum::odb_ResultPositionEnum> positionFromName(std::string_view name) {
  for (std::size_t i = 0; i < kPositionNames.size(); ++i)
    if (kPositionNames[i] == name) return static_cast<odb_Enum::odb_ResultPositionEnum>(i);
  return std::nullopt;
}

inline constexpr bool isValidPosition(int p) { return p >= 0 && static_cast<std::size_t>(p) < kPositionNames.size(); }

// Tensor component slots in their fixed order.
inline constexpr std::array<std::string_view, 6> kTensorSuffixes = {"11", "22", "33", "12", "13", "23"};

inline constexpr bool isTensor(int type) {
  return type >= odb_Enum::TENSOR_3D_FULL && type <= odb_Enum::TENSOR_2D_SURFACE;
}

// Data-type names as listed by the tools ("OTHER" for codes outside the list).
inline constexpr std::string_view typeName(int type) {
  switch (type) {
    case odb_Enum::SCALAR: return "SCALAR";
    case odb_Enum::VECTOR: return "VECTOR";
    case odb_Enum::TENSOR_3D_FULL: return "TENSOR_3D_FULL";
    case odb_Enum::TENSOR_3D_PLANAR: return "TENSOR_3D_PLANAR";
    case odb_Enum::TENSOR_3D_SURFACE: return "TENSOR_3D_SURFACE";
    case odb_Enum::TENSOR_2D_PLANAR: return "TENSOR_2D_PLANAR";
    case odb_Enum::TENSOR_2D_SURFACE: return "TENSOR_2D_SURFACE";
    default: return "OTHER";
  }
}

}  // namespace odb_vocab
