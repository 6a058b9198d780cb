// The Fletcher-32 sum HDF5 stores after each chunk of a dataset with that
// filter, computed as HDF5 computes it (16-bit words, most significant byte
// first, the sums folded every 360 words), many words at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace odb_detail {

std::uint32_t fletcher32(const void* data, std::size_t bytes);

}  // namespace odb_detail
