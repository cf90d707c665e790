// The fourteen element kinds: codes, names, parameters, units, placeholder
// values, default bounds and impedance formulas.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/complex.hpp"
#include "core/magnitude_bits.hpp"

namespace vorlane {

enum class Kind : std::uint8_t { R, C, L, La, Cpe, W, Wo, Ws, G, Gs, K, Zarc, Tlmq, T };

inline constexpr std::size_t KIND_COUNT = 14;
inline constexpr std::size_t MAX_ELEMENT_PARAMS = 4;

struct KindInfo {
    std::string_view canonical;   // "Cpe": automatic labels, classes, reprs
    std::string_view help_code;   // "CPE": the code shown in help texts
    std::size_t count;            // number of parameters
    std::array<std::string_view, MAX_ELEMENT_PARAMS> names;
    std::array<std::string_view, MAX_ELEMENT_PARAMS> units;
    std::array<double, MAX_ELEMENT_PARAMS> placeholders;
};

// Catalogue entry of a kind; all fourteen kinds in tag order.
const KindInfo& kind_info(Kind kind);
const std::array<KindInfo, KIND_COUNT>& catalogue();

// The help codes in tag order: "R", "C", ..., "CPE", ..., "TLMQ", "T".
extern const std::array<std::string_view, KIND_COUNT> CODES;

// Default (lo, hi): (0, 1) for "alpha" and "gamma", (1e-12, inf) otherwise.
std::pair<double, double> bounds_for_param(std::string_view param_name);

struct Element {
    Kind kind = Kind::R;
    std::array<double, MAX_ELEMENT_PARAMS> v{};  // first kind_info(kind).count are used

    // Element of the kind whose accepted code equals `code` exactly, with the
    // placeholder values; nothing for any other text.
    static std::optional<Element> default_for_code(std::string_view code);
    // Element of `kind` taking the first count values of `values`.
    static Element from_values(Kind kind, const double* values);

    std::size_t count() const { return kind_info(kind).count; }
    std::vector<double> values() const;
};

// Impedance of one element of `kind` whose parameters are params[0 .. count).
// The hot path of every fit: allocates nothing.
Complex element_impedance(Kind kind, const double* params, double omega);

// The same formulas over runs of frequencies, in two stages so that a caller
// can keep the costly one. A point's shape holds the intermediate values
// that cost library calls; it depends on the frequency and on the parameters
// whose bits are set in shape_params(kind) (bit i for parameter i) and on
// nothing else. Finishing computes the rest from the shape and the
// parameters. Together the stages give element_impedance bit for bit; a run
// computes library results that cannot differ between its points only once.
//
// Kinds that raise s = j omega itself to a power (uses_log_omega) take
// |s|^alpha = omega^alpha as exp(alpha ln omega) wherever |alpha ln omega| <=
// 200, within 5e-14 of pow, and by pow elsewhere; `log_omega`, when given,
// holds ln omega[i] so that a caller evaluating one spectrum many times
// takes the logarithms once. Null means each is taken here; the results are
// the same bits either way.
using ElementShape = std::array<Complex, 3>;
unsigned shape_params(Kind kind);
bool uses_log_omega(Kind kind);
void element_shapes(Kind kind, const double* params, const double* omega, std::size_t n, ElementShape* shapes,
                    const double* log_omega = nullptr);
void element_finish(Kind kind, const double* params, const double* omega, std::size_t n,
                    const ElementShape* shapes, Complex* out);
// Finishing added to a running sum in the same pass: sum[i] = sum[i] +
// value[i], or 0 + 0j + value[i] for the first term of a sum (0 + x is not
// always x: -0 and NaN signs), keeping value[i] in kept[i] when `kept` is
// given. `shapes` may be null for a kind with no shape parameters.
void element_finish_add(Kind kind, const double* params, const double* omega, std::size_t n,
                        const ElementShape* shapes, Complex* sum, bool first, Complex* kept);

// Both stages: out[i] = element_impedance(kind, params, omega[i]) for i < n.
inline constexpr std::size_t ELEMENT_RUN = 64;
void element_impedance_block(Kind kind, const double* params, const double* omega, std::size_t n,
                             Complex* out, const double* log_omega = nullptr);

// Kinds whose admittance a parallel node can take without inverting their
// impedance: R (1/R), C (j omega C) and CPE (q (j omega)^alpha).
bool has_direct_admittance(Kind kind);
// Of those, the kinds whose admittance is the same at every frequency (R).
bool has_constant_admittance(Kind kind);
// Those admittances, out[i] at omega[i] from the shapes element_shapes gave
// (an R's is the same at every point). They equal the reciprocal of the
// impedance up to rounding wherever both are finite and neither is far
// from 1 (see direct_admittance_usable); zero, infinite and NaN cases are
// the caller's to take from the impedance. Returns whether every value is
// usable (see direct_admittance_usable).
bool element_admittance(Kind kind, const double* params, const double* omega, std::size_t n,
                        const ElementShape* shapes, Complex* out);
// The same at one frequency, shapes included.
Complex element_admittance_at(Kind kind, const double* params, double omega);

// |re| and |im| of a direct admittance below 1e150, the larger above 1e-150,
// nothing NaN: then the impedance and both reciprocals the specified
// arithmetic takes stay far from overflow and underflow, and the direct
// value agrees with them to rounding.
// Tested on the larger magnitude's bits (see magnitude_bits), without
// branches.
// The magnitudes' bits are compared as signed integers (their top bit is
// clear), which vector units can do where they lack unsigned comparisons.
inline bool direct_admittance_usable(Complex y) {
    constexpr auto LOW = std::bit_cast<std::int64_t>(1e-150);
    constexpr auto HIGH = std::bit_cast<std::int64_t>(1e150);
    const auto a = static_cast<std::int64_t>(magnitude_bits(y.re));
    const auto b = static_cast<std::int64_t>(magnitude_bits(y.im));
    const std::int64_t larger = a > b ? a : b;
    return (larger > LOW) & (larger < HIGH);
}

inline Complex impedance(const Element& e, double omega) {
    return element_impedance(e.kind, e.v.data(), omega);
}

// Auxiliary complex functions with the exact special cases of the formulas.
Complex csqrt(Complex z);
Complex cpow(Complex z, double p);
Complex ctanh(Complex z);
void ccoth_csch(Complex z, Complex& coth, Complex& csch);

}  // namespace vorlane
