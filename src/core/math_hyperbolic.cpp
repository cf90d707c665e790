// sinh, cosh and tanh from e^|x| and e^-|x|.
//
// Both exponentials come from one detail::exp_pair, as double-doubles good
// to about 2^-60, so their sum (cosh) and difference (sinh, from |x| = 1/4
// on, where it cancels at most a factor 4.1) round once at the end. Below
// 1/4, sinh x = x + x^3 P(x^2). From |x| = 22 on, e^-|x| no longer shows in a
// double and sinh and cosh are e^(|x| - ln2), which keeps them finite up to
// where they, not e^|x|, overflow. tanh divides the double-doubles
// (sinh/cosh, the quotient corrected by its exact remainder).
#include <cmath>
#include <cstdint>

#include "core/math.hpp"

namespace vorlane::math {

namespace {

using detail::DoubleDouble;
using detail::fast_two_sum;

// sinh x = x + x^3 (P0 + P1 z + ... + P5 z^5), z = x^2 <= 1/4: relative
// error below 2^-58 (used for z < 1/16).
constexpr double P0 = 0x1.5555555555555p-3;
constexpr double P1 = 0x1.1111111111120p-7;
constexpr double P2 = 0x1.a01a01a00eef3p-13;
constexpr double P3 = 0x1.71de3a84a6691p-19;
constexpr double P4 = 0x1.ae63a06a2e23dp-26;
constexpr double P5 = 0x1.6267dababd39bp-33;

// sinh x - x for |x| < 1/4.
inline double sinh_tail(double x) noexcept {
    const double z = x * x;
    const double z2 = z * z;
    return x * z * (((P0 + z * P1) + z2 * (P2 + z * P3)) + (z2 * z2) * (P4 + z * P5));
}

// ln2 as a head on a 2^-43 grid, so a - LN2_HI is exact for 22 <= a < 1024,
// and the rest.
constexpr double LN2_HI = 0x1.62e42fefa3800p-1;
constexpr double LN2_LO = 0x1.ef35793c76730p-45;

// e^a/2 for a >= 22, overflowing only where the result does.
inline double half_exp(double a) noexcept { return detail::exp_rounded(a - LN2_HI, -LN2_LO, 0); }

// cosh a as a double-double from the two exponentials.
inline DoubleDouble cosh_dd(const DoubleDouble& e, const DoubleDouble& f) noexcept {
    const DoubleDouble s = fast_two_sum(e.hi, f.hi);
    return {0.5 * s.hi, 0.5 * (s.lo + (e.lo + f.lo))};
}

inline DoubleDouble sinh_dd(const DoubleDouble& e, const DoubleDouble& f) noexcept {
    const DoubleDouble s = fast_two_sum(e.hi, -f.hi);
    return {0.5 * s.hi, 0.5 * (s.lo + (e.lo - f.lo))};
}

}  // namespace

double sinh(double x) noexcept {
    const double a = std::fabs(x);
    if (!(a >= 0x1p-26)) return x;  // sinh x rounds to x; NaN stays NaN
    if (a < 0.25) return x + sinh_tail(x);
    double r;
    if (a < 22.0) {
        const detail::ExpPair e = detail::exp_pair(a);
        const DoubleDouble s = sinh_dd(e.plus, e.minus);
        r = s.hi + s.lo;
    } else {
        r = half_exp(a);
    }
    return x < 0 ? -r : r;
}

double cosh(double x) noexcept {
    const double a = std::fabs(x);
    if (a < 0x1p-26) return 1.0;  // cosh x < 1 + 2^-53
    if (std::isnan(x)) return x + x;
    if (a < 22.0) {
        const detail::ExpPair e = detail::exp_pair(a);
        const DoubleDouble c = cosh_dd(e.plus, e.minus);
        return c.hi + c.lo;
    }
    return half_exp(a);
}

double tanh(double x) noexcept {
    const double a = std::fabs(x);
    if (!(a >= 0x1p-27)) return x;              // tanh x rounds to x; NaN stays NaN
    if (a > 22.0) return x < 0 ? -1.0 : 1.0;   // 1 - tanh x < 2^-62
    const detail::ExpPair e = detail::exp_pair(a);
    const DoubleDouble c = cosh_dd(e.plus, e.minus);
    const DoubleDouble s = a < 0.25 ? fast_two_sum(a, sinh_tail(a)) : sinh_dd(e.plus, e.minus);
    // s / c with the remainder s - q c, exact from Dekker's product.
    const double q = s.hi / c.hi;
    const DoubleDouble p = detail::two_product(q, c.hi);
    const double r = q + ((((s.hi - p.hi) - p.lo) + (s.lo - q * c.lo)) / c.hi);
    return x < 0 ? -r : r;
}

}  // namespace vorlane::math
