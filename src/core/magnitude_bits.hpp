// The bits of |x|. For magnitudes the IEEE 754 patterns order as the values
// do, with every NaN above infinity, so that range tests on them are a few
// integer operations without branches.
#pragma once

#include <bit>
#include <cstdint>

namespace vorlane {

inline std::uint64_t magnitude_bits(double x) { return std::bit_cast<std::uint64_t>(x) & 0x7fffffffffffffffULL; }

}  // namespace vorlane
