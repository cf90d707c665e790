// Elementary functions whose results depend on the argument alone.
//
// The C library picks its code for exp, log, pow, sin, cos and the rest by
// what the processor offers: on one with fused multiply-add it runs other
// code than on one without, and for some arguments the two give different
// bits. vorlane promises the same bits for the same input on every x86-64
// processor, so the core computes these functions itself, here.
//
// Every function below uses only IEEE double additions, subtractions,
// multiplications, divisions and std::sqrt (all correctly rounded on every
// processor), integer and bit operations, and constant tables. There is no
// fused multiply-add (the project compiles with -ffp-contract=off and nothing
// here calls std::fma), no long double, no processor-dependent branch, no
// mutable state and no allocation; the results assume the default rounding
// mode, round to nearest. All functions are thread-safe.
//
// Accuracy: each finite result lies within 1 ulp of the true value over the
// whole double range, gradual underflow included; as measured on large
// samples, within 0.51 ulp for exp, log, log10 and pow, 0.52 for sin and
// cos, 0.54 for atan and atan2, 0.53 for sinh, cosh and tanh, 0.7 for asin.
// NaN, infinities, signed zeros, overflow and underflow follow C99 Annex F,
// as the C library gives them; the payload of a NaN result is not part of
// the contract.
#pragma once

#include <bit>
#include <cstdint>

namespace vorlane::math {

// e^x: 0 for x below about -745.13, infinity above about 709.78, and the
// subnormals between rounded once.
double exp(double x) noexcept;
// log(+-0) = -inf, log(x < 0) = NaN, log(1) = +0.
double log(double x) noexcept;
// As log; exact for the powers of ten up to 1e22.
double log10(double x) noexcept;
// x^y with every special case of Annex F: pow(x, +-0) = 1 and pow(1, y) = 1
// even for NaN, pow(-1, +-inf) = 1, the sign of odd integer powers of
// negative x and of +-0, NaN for negative finite x to a non-integer power.
double pow(double x, double y) noexcept;

// sin and cos take a full reduction by pi/2 for every finite x, however
// large; sin(+-inf) and cos(+-inf) are NaN, sin(-0) = -0.
double sin(double x) noexcept;
double cos(double x) noexcept;
// sin(x) and cos(x) from one argument reduction; the same bits as sin(x)
// and cos(x).
void sincos(double x, double& s, double& c) noexcept;

double atan(double x) noexcept;
// The angle of (x, y) in [-pi, pi], with Annex F's signed zeros and
// infinities: atan2(+-0, -0) = +-pi, atan2(+-inf, -inf) = +-3pi/4, ...
double atan2(double y, double x) noexcept;
// NaN for |x| > 1.
double asin(double x) noexcept;

// sinh and cosh overflow only where their own value does (|x| > 710.47).
double sinh(double x) noexcept;
double cosh(double x) noexcept;
double tanh(double x) noexcept;

// Building blocks shared by the implementation files; not for other callers.
namespace detail {

inline std::uint64_t to_bits(double x) noexcept { return std::bit_cast<std::uint64_t>(x); }
inline double from_bits(std::uint64_t b) noexcept { return std::bit_cast<double>(b); }

// An unevaluated sum hi + lo with |lo| much smaller than |hi|.
struct DoubleDouble {
    double hi;
    double lo;
};

// a + b exactly as hi + lo (Dekker's fast two-sum); needs |a| >= |b| or a == 0.
inline DoubleDouble fast_two_sum(double a, double b) noexcept {
    const double s = a + b;
    return {s, (a - s) + b};
}

// a as head + tail, each with at most 26 significant bits (the head is a
// rounded to 26 bits, so the tail's sign absorbs the 53rd bit). Needs a
// finite and below 2^1023.
inline DoubleDouble split26(double a) noexcept {
    const double head = from_bits((to_bits(a) + (std::uint64_t{1} << 26)) & ~((std::uint64_t{1} << 27) - 1));
    return {head, a - head};
}

// a * b exactly as hi + lo (Dekker's product), barring overflow and
// underflow of the partial products.
inline DoubleDouble two_product(double a, double b) noexcept {
    const double p = a * b;
    const DoubleDouble as = split26(a);
    const DoubleDouble bs = split26(b);
    const double err = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, err};
}

// e^a and e^-a, each as hi + lo with hi the rounded sum, relative error
// below 2^-60, from one reduction; for |a| <= 512.
struct ExpPair {
    DoubleDouble plus;
    DoubleDouble minus;
};
ExpPair exp_pair(double a) noexcept;

// e^(x + tail) rounded once, with sign_bit (0 or the sign bit of a double)
// as its sign: overflow gives infinity, and results below 2^-1022 are
// rounded once to the subnormal grid. For finite x and |tail| <= 2^-40 |x|.
double exp_rounded(double x, double tail, std::uint64_t sign_bit) noexcept;

// log(x) as hi + lo, relative error below 2^-67; for finite x > 0,
// subnormals included.
DoubleDouble log_dd(double x) noexcept;

}  // namespace detail

}  // namespace vorlane::math
