// The element catalogue and the impedance formulas of the fourteen kinds.
#include "elements/element.hpp"

#include <cmath>
#include <limits>

namespace vorlane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

constexpr std::array<KindInfo, KIND_COUNT> CATALOGUE{{
    {"R", "R", 1, {"r"}, {"ohm"}, {1.0}},
    {"C", "C", 1, {"c"}, {"F"}, {0.001}},
    {"L", "L", 1, {"l"}, {"H"}, {1e-6}},
    {"La", "La", 2, {"l", "alpha"}, {"H*s", "-"}, {1e-6, 0.8}},
    {"Cpe", "CPE", 2, {"q", "alpha"}, {"ohm^-1*s^alpha", "-"}, {0.001, 0.8}},
    {"W", "W", 1, {"aw"}, {"ohm*s^-0.5"}, {1.0}},
    {"Wo", "Wo", 2, {"z0", "tau"}, {"ohm", "s"}, {1.0, 10.0}},
    {"Ws", "Ws", 2, {"z0", "tau"}, {"ohm", "s"}, {1.0, 10.0}},
    {"G", "G", 2, {"rg", "tg"}, {"ohm", "s"}, {1.0, 1.0}},
    {"Gs", "Gs", 3, {"rg", "tg", "phi"}, {"ohm", "s", "-"}, {1.0, 1.0, 1.0}},
    {"K", "K", 2, {"r", "tau_k"}, {"ohm", "s"}, {1.0, 0.001}},
    {"Zarc", "Zarc", 3, {"r", "tau_k", "gamma"}, {"ohm", "s", "-"}, {1.0, 0.001, 0.8}},
    {"Tlmq", "TLMQ", 3, {"r_ion", "qs", "gamma"}, {"ohm", "F*s^(gamma-1)", "-"}, {1.0, 0.001, 0.8}},
    {"T", "T", 4, {"a", "b", "k_tau", "tau"}, {"ohm*m^2", "ohm*m^2", "-", "s"}, {1.0, 1.0, 1.0, 1.0}},
}};

// A real factor scales both parts; a real term adds to the real part only.
// Forming a complex number (k, 0) first would add 0·inf and signed-zero
// artefacts the formulas do not have.
inline Complex scaled(double k, Complex z) { return {k * z.re, k * z.im}; }
inline Complex plus_real(double k, Complex z) { return {k + z.re, z.im}; }
inline Complex over(double numerator, Complex z) { return Complex{numerator, 0.0} / z; }

// Guard of tanh, coth and csch: beyond it the exact formulas overflow.
constexpr double HYPERBOLIC_LIMIT = 20.0;

inline Complex from_polar(double magnitude, double angle) {
    return {magnitude * std::cos(angle), magnitude * std::sin(angle)};
}

}  // namespace

const std::array<std::string_view, KIND_COUNT> CODES{"R", "C",  "L", "La", "CPE",  "W",    "Wo",
                                                     "Ws", "G", "Gs", "K", "Zarc", "TLMQ", "T"};

const std::array<KindInfo, KIND_COUNT>& catalogue() { return CATALOGUE; }

const KindInfo& kind_info(Kind kind) { return CATALOGUE[static_cast<std::size_t>(kind)]; }

std::pair<double, double> bounds_for_param(std::string_view param_name) {
    if (param_name == "alpha" || param_name == "gamma") return {0.0, 1.0};
    return {1e-12, INF};
}

std::optional<Element> Element::default_for_code(std::string_view code) {
    std::optional<Kind> kind;
    if (code == "CPE") {
        kind = Kind::Cpe;
    } else if (code == "TLMQ") {
        kind = Kind::Tlmq;
    } else {
        for (std::size_t i = 0; i < KIND_COUNT; ++i)
            if (CATALOGUE[i].canonical == code) kind = static_cast<Kind>(i);
    }
    if (!kind) return std::nullopt;
    return from_values(*kind, kind_info(*kind).placeholders.data());
}

Element Element::from_values(Kind kind, const double* values) {
    Element e;
    e.kind = kind;
    for (std::size_t i = 0; i < kind_info(kind).count; ++i) e.v[i] = values[i];
    return e;
}

std::vector<double> Element::values() const { return {v.begin(), v.begin() + count()}; }

Complex csqrt(Complex z) {
    const double x = z.re;
    const double y = z.im;
    if (y == 0.0) {
        if (!std::signbit(x)) return {std::sqrt(x), y};
        return {0.0, std::copysign(std::sqrt(-x), y)};
    }
    if (x == 0.0) {
        const double t = std::sqrt(std::fabs(y) / 2.0);
        return {t, std::copysign(t, y)};
    }
    return from_polar(std::sqrt(std::hypot(x, y)), std::atan2(y, x) / 2.0);
}

Complex cpow(Complex z, double p) {
    if (p == 1.0) return z;
    if (p == 0.5) return csqrt(z);
    if (p == 0.0) return {1.0, 0.0};
    return from_polar(std::pow(std::hypot(z.re, z.im), p), p * std::atan2(z.im, z.re));
}

Complex ctanh(Complex z) {
    if (std::fabs(z.re) > HYPERBOLIC_LIMIT) return {std::copysign(1.0, z.re), 0.0};
    const double d = std::cosh(2.0 * z.re) + std::cos(2.0 * z.im);
    return {std::sinh(2.0 * z.re) / d, std::sin(2.0 * z.im) / d};
}

void ccoth_csch(Complex z, Complex& coth, Complex& csch) {
    if (std::fabs(z.re) > HYPERBOLIC_LIMIT) {
        coth = {std::copysign(1.0, z.re), 0.0};
        csch = {0.0, 0.0};
        return;
    }
    const double cos_y = std::cos(z.im);
    const double sin_y = std::sin(z.im);
    const Complex cosh_z{std::cosh(z.re) * cos_y, std::sinh(z.re) * sin_y};
    const Complex sinh_z{std::sinh(z.re) * cos_y, std::cosh(z.re) * sin_y};
    coth = cosh_z / sinh_z;
    csch = over(1.0, sinh_z);
}

Complex element_impedance(Kind kind, const double* p, double omega) {
    const Complex s{0.0 * omega, omega};
    switch (kind) {
        case Kind::R:
            return {p[0], 0.0};
        case Kind::C:
            return over(1.0, scaled(p[0], s));
        case Kind::L:
            return scaled(p[0], s);
        case Kind::La:
            return cpow(scaled(p[0], s), p[1]);
        case Kind::Cpe:
            return over(1.0, scaled(p[0], cpow(s, p[1])));
        case Kind::W:
            return Complex{p[0], -p[0]} / Complex{std::sqrt(omega), 0.0};
        case Kind::Wo: {
            const Complex root = csqrt(scaled(p[1], s));
            return over(p[0], root * ctanh(root));
        }
        case Kind::Ws: {
            const Complex root = csqrt(scaled(p[1], s));
            return scaled(p[0], ctanh(root)) / root;
        }
        case Kind::G:
            return over(p[0], csqrt(plus_real(1.0, scaled(p[1], s))));
        case Kind::Gs: {
            const Complex root = csqrt(plus_real(1.0, scaled(p[1], s)));
            return over(p[0], root * ctanh(scaled(p[2], root)));
        }
        case Kind::K:
            return over(p[0], plus_real(1.0, scaled(p[1], s)));
        case Kind::Zarc:
            return over(p[0], plus_real(1.0, cpow(scaled(p[1], s), p[2])));
        case Kind::Tlmq: {
            const Complex zs = over(1.0, scaled(p[1], cpow(s, p[2])));
            return csqrt(scaled(p[0], zs)) / ctanh(csqrt(over(p[0], zs)));
        }
        case Kind::T: {
            const Complex beta = csqrt(plus_real(p[2], scaled(p[3], s)));
            Complex coth;
            Complex csch;
            ccoth_csch(beta, coth, csch);
            return scaled(p[0], coth) / beta + scaled(p[1], csch) / beta;
        }
    }
    return {NAN_VALUE, NAN_VALUE};
}

}  // namespace vorlane
