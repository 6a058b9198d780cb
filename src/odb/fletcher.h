// The Fletcher-32 sum HDF5 stores after each chunk of a dataset with that
// filter, computed as HDF5 computes it (16-bit words, most significant byte
// first, the sums folded every 360 words), many words at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace odb_detail {

std::uint32_t fletcher32(const void* data, std::size_t bytes);

// Whether a chunk as stored (dataBytes of data, then the 4-byte sum) holds
// its sum by HDF5's rule: little-endian, or its bytes reversed, as older
// HDF5 wrote it.
bool storedSumMatches(const void* chunk, std::size_t dataBytes);

}  // namespace odb_detail
