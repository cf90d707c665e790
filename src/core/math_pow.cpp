// pow(x, y) = e^(y log x).
//
// An error d in y log x becomes a relative error d in the result, and
// |y log x| reaches 745 before the result over- or underflows, so log x is
// needed to about 2^-68 relative: it comes as a double-double from
// detail::log_dd, y times it is formed exactly (Dekker's product) apart from
// the low part, and detail::exp_rounded takes the product's low part as a
// correction to its reduced argument. The special cases are those of C99
// Annex F.
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/math.hpp"

namespace vorlane::math {

namespace {

using detail::DoubleDouble;
using detail::from_bits;
using detail::to_bits;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr std::uint64_t SIGN_BIT = std::uint64_t{1} << 63;

enum class IntegerKind { NotInteger, Odd, Even };

// For finite nonzero y.
IntegerKind integer_kind(double y) noexcept {
    const std::uint64_t iy = to_bits(y);
    const int e = static_cast<int>((iy >> 52) & 0x7ff);
    if (e < 0x3ff) return IntegerKind::NotInteger;  // 0 < |y| < 1
    if (e > 0x3ff + 52) return IntegerKind::Even;    // |y| >= 2^53
    const std::uint64_t fraction_mask = (std::uint64_t{1} << (0x3ff + 52 - e)) - 1;
    if (iy & fraction_mask) return IntegerKind::NotInteger;
    return (iy & (fraction_mask + 1)) ? IntegerKind::Odd : IntegerKind::Even;
}

// pow for x or y zero, infinite or NaN, or x == 1.
double pow_special(double x, double y) noexcept {
    if (y == 0.0 || x == 1.0) return 1.0;
    if (std::isnan(x) || std::isnan(y)) return x + y;
    const double ax = std::fabs(x);
    if (std::isinf(y)) {
        if (ax == 1.0) return 1.0;  // pow(-1, +-inf)
        return (ax < 1.0) == (y > 0) ? 0.0 : INF;
    }
    const bool odd = integer_kind(y) == IntegerKind::Odd;
    if (x == 0.0) {
        if (y < 0) return odd ? std::copysign(INF, x) : INF;
        return odd ? x : 0.0;
    }
    // x is infinite.
    const double magnitude = y < 0 ? 0.0 : INF;
    return odd && x < 0 ? -magnitude : magnitude;
}

}  // namespace

double pow(double x, double y) noexcept {
    const std::uint64_t ix = to_bits(x);
    const std::uint64_t iy = to_bits(y);
    // Zero, infinite or NaN x or y, and x == 1, go to the special cases.
    const bool x_special = ((ix << 1) - 1 >= (to_bits(INF) << 1) - 1) || x == 1.0;
    const bool y_special = (iy << 1) - 1 >= (to_bits(INF) << 1) - 1;
    if (x_special || y_special) return pow_special(x, y);

    std::uint64_t sign_bit = 0;
    if (ix >> 63) {
        switch (integer_kind(y)) {
        case IntegerKind::NotInteger:
            return std::numeric_limits<double>::quiet_NaN();
        case IntegerKind::Odd:
            sign_bit = SIGN_BIT;
            break;
        case IntegerKind::Even:
            break;
        }
    }
    const double ax = std::fabs(x);
    if ((ix & ((std::uint64_t{1} << 52) - 1)) == 0 && std::fabs(y) <= 0x1p20 &&
        integer_kind(y) != IntegerKind::NotInteger) {
        // A normal power of 2 to an integer power is a power of 2, exact
        // where representable. This also settles 2^-1075, half the smallest
        // subnormal, which rounds to 0 and which the general path, with its
        // error of about 2^-62, could put on either side of the tie.
        const std::int64_t n = (static_cast<std::int64_t>((ix >> 52) & 0x7ff) - 1023) * static_cast<std::int64_t>(y);
        double r = 0.0;
        if (n > 1023) {
            r = INF;
        } else if (n >= -1022) {
            r = from_bits(static_cast<std::uint64_t>(n + 1023) << 52);
        } else if (n >= -1074) {
            r = from_bits(std::uint64_t{1} << (n + 1074));
        }
        return from_bits(to_bits(r) | sign_bit);
    }
    if (std::fabs(y) >= 0x1p64) {
        // A y this large is an even integer. |log x| >= 2^-53 for every
        // double x != 1, so |y log x| > 2^11: the result overflows or
        // underflows.
        if (ax == 1.0) return 1.0;
        return (ax < 1.0) == (y > 0) ? 0.0 : INF;
    }
    const DoubleDouble l = detail::log_dd(ax);
    const DoubleDouble e = detail::two_product(y, l.hi);
    return detail::exp_rounded(e.hi, e.lo + y * l.lo, sign_bit);
}

}  // namespace vorlane::math
