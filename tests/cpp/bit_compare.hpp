// Comparisons of results that must agree bit for bit, and the special values
// the tests feed in.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/complex.hpp"

namespace vorlane::test {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double Tiny = std::numeric_limits<double>::denorm_min();

inline bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
inline bool same_bits(Complex a, Complex b) { return same_bits(a.re, b.re) && same_bits(a.im, b.im); }
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same_bits(a[i], b[i])) return false;
    return true;
}

// Bit for bit, except that any NaN equals any NaN: which NaN an operation
// passes on follows the compiler's operand order, which is not a result.
inline bool same_value(double a, double b) { return same_bits(a, b) || (std::isnan(a) && std::isnan(b)); }
inline bool same_value(Complex a, Complex b) { return same_value(a.re, b.re) && same_value(a.im, b.im); }

}  // namespace vorlane::test
