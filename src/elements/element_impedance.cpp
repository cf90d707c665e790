// The impedance formulas of the fourteen kinds and their complex helpers.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "core/kernel_variants.hpp"
#include "core/math.hpp"
#include "elements/element.hpp"

namespace vorlane {
namespace {

constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

// A real factor scales both parts; a real term adds to the real part only.
// Forming a complex number (k, 0) first would add 0·inf and signed-zero
// artefacts the formulas do not have.
inline Complex scaled(double k, Complex z) { return {k * z.re, k * z.im}; }
inline Complex plus_real(double k, Complex z) { return {k + z.re, z.im}; }
inline Complex over(double numerator, Complex z) { return Complex{numerator, 0.0} / z; }

// s = j·omega, formed with a real part of 0·omega as the formulas demand.
inline Complex jw(double omega) { return {0.0 * omega, omega}; }

// Beyond this real part tanh and coth are ±1 to double precision and the
// textbook cosh/sinh forms head for overflow; csch then takes its decaying form.
constexpr double HYPERBOLIC_LIMIT = 20.0;

inline Complex from_polar(double magnitude, double angle) {
    double sine, cosine;
    math::sincos(angle, sine, cosine);
    return {magnitude * cosine, magnitude * sine};
}

// Beyond this |p ln rho| the rounding of ln rho, magnified by p, could move
// exp(p ln rho) more than 5e-14 away from rho^p; pow takes over there.
constexpr double EXP_FORM_LIMIT = 200.0;

// rho^p from ln rho (NaN when not known): exp(p ln rho) within the limit,
// which also keeps NaN and infinite exponents on pow.
inline double power_magnitude(double rho, double p, double log_rho) {
    const double x = p * log_rho;
    return std::fabs(x) <= EXP_FORM_LIMIT ? math::exp(x) : math::pow(rho, p);
}

// Where z = s = j omega lies on the positive imaginary axis, hypot(+0, y)
// is exactly y and atan2(y, +0) exactly pi/2 (C Annex F), so |z| = omega
// and its logarithm, when known, gives |z|^p.
inline bool on_positive_imaginary_axis(Complex z) { return z.re == 0.0 && !std::signbit(z.re) && z.im > 0.0; }

// The polar form of z^p, one library call per step, at any single point;
// log_rho is ln omega for a power of s itself, NaN otherwise.
struct LibraryPolar {
    double log_rho = std::numeric_limits<double>::quiet_NaN();

    Complex operator()(Complex z, double p) const {
        if (on_positive_imaginary_axis(z)) {
            return from_polar(power_magnitude(z.im, p, log_rho), p * math::atan2(z.im, z.re));
        }
        return from_polar(math::pow(std::hypot(z.re, z.im), p), p * math::atan2(z.im, z.re));
    }
};

// The double nearest pi/2, which is what atan2(y, +0) returns for every y > 0.
constexpr double HALF_PI = 1.5707963267948966;

// The polar form of z^p along a run of frequencies, where the exponent is an
// element parameter and z = s or s times a positive constant lies on the
// positive imaginary axis. There the angle p*pi/2 is the same number at
// every point; its cosine and sine are kept while the angle stays
// bit-identical, which leaves one library call (exp or pow) per point.
class SharedAnglePolar {
public:
    double log_rho = std::numeric_limits<double>::quiet_NaN();

    Complex operator()(Complex z, double p) {
        const bool on_imaginary_axis = on_positive_imaginary_axis(z);
        const double rho = on_imaginary_axis ? z.im : std::hypot(z.re, z.im);
        const double angle = p * (on_imaginary_axis ? HALF_PI : math::atan2(z.im, z.re));
        const std::uint64_t key = std::bit_cast<std::uint64_t>(angle);
        if (!known_ || key != key_) {
            math::sincos(angle, sin_, cos_);
            key_ = key;
            known_ = true;
        }
        const double magnitude = on_imaginary_axis ? power_magnitude(rho, p, log_rho) : math::pow(rho, p);
        return {magnitude * cos_, magnitude * sin_};
    }

private:
    bool known_ = false;
    std::uint64_t key_ = 0;
    double cos_ = 0.0;
    double sin_ = 0.0;
};

// z^p with the special exponents tested in order; the polar form otherwise.
template <class Polar>
inline Complex power(Complex z, double p, Polar& polar) {
    if (p == 1.0) return z;
    if (p == 0.5) return csqrt(z);
    if (p == 0.0) return {1.0, 0.0};
    return polar(z, p);
}

using Shape = ElementShape;

// Each kind's formula in two stages: `shape` computes what costs library
// calls from the parameters flagged in SHAPE_PARAMS only, `finish` the rest;
// `polar` computes the polar form of every power taken.
struct Unshaped {
    static constexpr unsigned SHAPE_PARAMS = 0;
    template <class Polar>
    static Shape shape(const double*, double, Polar&) {
        return {};
    }
};

// Tags outside the catalogue.
template <Kind>
struct Formula : Unshaped {
    static Complex finish(const double*, double, const Shape&) { return {NAN_VALUE, NAN_VALUE}; }
};

template <>
struct Formula<Kind::R> : Unshaped {
    static Complex finish(const double* p, double, const Shape&) { return {p[0], 0.0}; }
    // The same at every frequency: one division per run.
    static constexpr bool CONSTANT_ADMITTANCE = true;
    static Complex admittance(const double* p, double, const Shape&) { return {1.0 / p[0], 0.0 * p[0]}; }
};

template <>
struct Formula<Kind::C> : Unshaped {
    static Complex finish(const double* p, double omega, const Shape&) { return over(1.0, scaled(p[0], jw(omega))); }
    static constexpr bool CONSTANT_ADMITTANCE = false;
    static Complex admittance(const double* p, double omega, const Shape&) { return scaled(p[0], jw(omega)); }
};

template <>
struct Formula<Kind::L> : Unshaped {
    static Complex finish(const double* p, double omega, const Shape&) { return scaled(p[0], jw(omega)); }
};

// (s·l)^alpha: the product is raised, not s alone.
template <>
struct Formula<Kind::La> {
    static constexpr unsigned SHAPE_PARAMS = 0b11;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar& polar) {
        return {power(scaled(p[0], jw(omega)), p[1], polar)};
    }
    static Complex finish(const double*, double, const Shape& z) { return z[0]; }
};

template <>
struct Formula<Kind::Cpe> {
    static constexpr unsigned SHAPE_PARAMS = 0b10;
    static constexpr bool POWER_OF_S = true;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar& polar) {
        return {power(jw(omega), p[1], polar)};
    }
    static Complex finish(const double* p, double, const Shape& z) { return over(1.0, scaled(p[0], z[0])); }
    static constexpr bool CONSTANT_ADMITTANCE = false;
    static Complex admittance(const double* p, double, const Shape& z) { return scaled(p[0], z[0]); }
};

// The divisor is the complex number (sqrt(omega), 0).
template <>
struct Formula<Kind::W> : Unshaped {
    static Complex finish(const double* p, double omega, const Shape&) {
        return Complex{p[0], -p[0]} / Complex{std::sqrt(omega), 0.0};
    }
};

template <>
struct Formula<Kind::Wo> {
    static constexpr unsigned SHAPE_PARAMS = 0b10;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar&) {
        const Complex root = csqrt(scaled(p[1], jw(omega)));
        return {root * ctanh(root)};
    }
    static Complex finish(const double* p, double, const Shape& z) { return over(p[0], z[0]); }
};

template <>
struct Formula<Kind::Ws> {
    static constexpr unsigned SHAPE_PARAMS = 0b10;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar&) {
        const Complex root = csqrt(scaled(p[1], jw(omega)));
        return {ctanh(root), root};
    }
    static Complex finish(const double* p, double, const Shape& z) { return scaled(p[0], z[0]) / z[1]; }
};

template <>
struct Formula<Kind::G> {
    static constexpr unsigned SHAPE_PARAMS = 0b10;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar&) {
        return {csqrt(plus_real(1.0, scaled(p[1], jw(omega))))};
    }
    static Complex finish(const double* p, double, const Shape& z) { return over(p[0], z[0]); }
};

// phi scales both parts of the root before the tanh.
template <>
struct Formula<Kind::Gs> {
    static constexpr unsigned SHAPE_PARAMS = 0b110;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar&) {
        const Complex root = csqrt(plus_real(1.0, scaled(p[1], jw(omega))));
        return {root * ctanh(scaled(p[2], root))};
    }
    static Complex finish(const double* p, double, const Shape& z) { return over(p[0], z[0]); }
};

template <>
struct Formula<Kind::K> : Unshaped {
    static Complex finish(const double* p, double omega, const Shape&) {
        return over(p[0], plus_real(1.0, scaled(p[1], jw(omega))));
    }
};

template <>
struct Formula<Kind::Zarc> {
    static constexpr unsigned SHAPE_PARAMS = 0b110;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar& polar) {
        return {plus_real(1.0, power(scaled(p[1], jw(omega)), p[2], polar))};
    }
    static Complex finish(const double* p, double, const Shape& z) { return over(p[0], z[0]); }
};

template <>
struct Formula<Kind::Tlmq> {
    static constexpr unsigned SHAPE_PARAMS = 0b100;
    static constexpr bool POWER_OF_S = true;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar& polar) {
        return {power(jw(omega), p[2], polar)};
    }
    static Complex finish(const double* p, double, const Shape& z) {
        const Complex zs = over(1.0, scaled(p[1], z[0]));
        return csqrt(scaled(p[0], zs)) / ctanh(csqrt(over(p[0], zs)));
    }
};

// beta = sqrt(k_tau + s·tau); the shape holds beta, coth(beta), csch(beta).
template <>
struct Formula<Kind::T> {
    static constexpr unsigned SHAPE_PARAMS = 0b1100;
    template <class Polar>
    static Shape shape(const double* p, double omega, Polar&) {
        Shape z;
        z[0] = csqrt(plus_real(p[2], scaled(p[3], jw(omega))));
        ccoth_csch(z[0], z[1], z[2]);
        return z;
    }
    static Complex finish(const double* p, double, const Shape& z) {
        return scaled(p[0], z[1]) / z[0] + scaled(p[1], z[2]) / z[0];
    }
};

// body(Formula<kind>{}): one branch on the kind, after which the kind's
// formula is compiled on its own.
template <class Body>
decltype(auto) on_kind(Kind kind, Body&& body) {
    using enum Kind;
    switch (kind) {
        case R: return body(Formula<R>{});
        case C: return body(Formula<C>{});
        case L: return body(Formula<L>{});
        case La: return body(Formula<La>{});
        case Cpe: return body(Formula<Cpe>{});
        case W: return body(Formula<W>{});
        case Wo: return body(Formula<Wo>{});
        case Ws: return body(Formula<Ws>{});
        case G: return body(Formula<G>{});
        case Gs: return body(Formula<Gs>{});
        case Kind::K: return body(Formula<Kind::K>{});
        case Zarc: return body(Formula<Zarc>{});
        case Tlmq: return body(Formula<Tlmq>{});
        case T: return body(Formula<T>{});
    }
    return body(Formula<static_cast<Kind>(KIND_COUNT)>{});
}

}  // namespace

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
    return from_polar(std::sqrt(std::hypot(x, y)), math::atan2(y, x) / 2.0);
}

Complex cpow(Complex z, double p) {
    LibraryPolar polar;
    return power(z, p, polar);
}

Complex ctanh(Complex z) {
    if (std::fabs(z.re) > HYPERBOLIC_LIMIT) return {std::copysign(1.0, z.re), 0.0};
    double sine, cosine;
    math::sincos(2.0 * z.im, sine, cosine);
    const double d = math::cosh(2.0 * z.re) + cosine;
    return {math::sinh(2.0 * z.re) / d, sine / d};
}

void ccoth_csch(Complex z, Complex& coth, Complex& csch) {
    if (std::fabs(z.re) > HYPERBOLIC_LIMIT) {
        // With q = e^(-2w) for w = ±z on the right half-plane, coth w =
        // (1 + q) / (1 - q) and csch w = 2 e^(-w) / (1 - q): nothing
        // overflows, and csch keeps its size where b·csch still matters
        // against a·coth (a transmission line with b >> a).
        const double sign = std::copysign(1.0, z.re);
        const double x = std::fabs(z.re);
        const double y = sign * z.im;
        const double decay = math::exp(-x);
        double sin_y, cos_y;
        math::sincos(y, sin_y, cos_y);
        const Complex e_minus_w{decay * cos_y, -decay * sin_y};
        const Complex q = e_minus_w * e_minus_w;
        const Complex one_minus_q{1.0 - q.re, -q.im};
        const Complex w_coth = Complex{1.0 + q.re, q.im} / one_minus_q;
        const Complex w_csch = Complex{2.0 * e_minus_w.re, 2.0 * e_minus_w.im} / one_minus_q;
        coth = {sign * w_coth.re, sign * w_coth.im};
        csch = {sign * w_csch.re, sign * w_csch.im};
        return;
    }
    double sin_y, cos_y;
    math::sincos(z.im, sin_y, cos_y);
    const Complex cosh_z{math::cosh(z.re) * cos_y, math::sinh(z.re) * sin_y};
    const Complex sinh_z{math::sinh(z.re) * cos_y, math::cosh(z.re) * sin_y};
    coth = cosh_z / sinh_z;
    csch = over(1.0, sinh_z);
}

template <class F>
concept PowerOfS = F::POWER_OF_S;

// A fresh polar form at one frequency, knowing ln omega where the kind
// raises s itself.
template <class F>
LibraryPolar polar_at(double omega) {
    LibraryPolar polar;
    if constexpr (PowerOfS<F>) polar.log_rho = math::log(omega);
    return polar;
}

Complex element_impedance(Kind kind, const double* p, double omega) {
    return on_kind(kind, [&](auto formula) {
        LibraryPolar polar = polar_at<decltype(formula)>(omega);
        return formula.finish(p, omega, formula.shape(p, omega, polar));
    });
}

unsigned shape_params(Kind kind) {
    return on_kind(kind, [](auto formula) { return decltype(formula)::SHAPE_PARAMS; });
}

bool uses_log_omega(Kind kind) {
    return on_kind(kind, [](auto formula) { return PowerOfS<decltype(formula)>; });
}

void element_shapes(Kind kind, const double* p, const double* omega, std::size_t n, ElementShape* shapes,
                    const double* log_omega) {
    on_kind(kind, [&](auto formula) {
        if constexpr (decltype(formula)::SHAPE_PARAMS != 0) {
            SharedAnglePolar polar;
            for (std::size_t i = 0; i < n; ++i) {
                if constexpr (PowerOfS<decltype(formula)>) {
                    polar.log_rho = log_omega != nullptr ? log_omega[i] : math::log(omega[i]);
                }
                shapes[i] = formula.shape(p, omega[i], polar);
            }
        }
    });
}

void element_finish(Kind kind, const double* p, const double* omega, std::size_t n, const ElementShape* shapes,
                    Complex* out) {
    on_kind(kind, [&](auto formula) {
        for (std::size_t i = 0; i < n; ++i) out[i] = formula.finish(p, omega[i], shapes[i]);
    });
}

namespace {

// The loop of element_finish_add, compiled apart for each kind and each way
// of starting and keeping, so that every variant stays a plain loop.
template <class F, bool FIRST, bool KEEP>
void finish_add_run(const double* p, const double* omega, std::size_t n, const ElementShape* shapes, Complex* sum,
                    Complex* kept) {
    static constexpr Shape NO_SHAPE{};
    for (std::size_t i = 0; i < n; ++i) {
        const Complex value = F::finish(p, omega[i], F::SHAPE_PARAMS != 0 ? shapes[i] : NO_SHAPE);
        if constexpr (KEEP) kept[i] = value;
        sum[i] = (FIRST ? Complex{0.0, 0.0} : sum[i]) + value;
    }
}

// Whether every one of y[0 .. n) is usable (see direct_admittance_usable).
VORLANE_KERNEL
bool all_direct_admittances_usable(const Complex* y, std::size_t n) {
    // A 64-bit flag, not a bool, so that the loop vectorises: the compiler
    // takes its lane width from the narrowest type in it.
    std::uint64_t unusable = 0;
    for (std::size_t i = 0; i < n; ++i) unusable |= std::uint64_t{!direct_admittance_usable(y[i])};
    return unusable == 0;
}

}  // namespace

void element_finish_add(Kind kind, const double* p, const double* omega, std::size_t n, const ElementShape* shapes,
                        Complex* sum, bool first, Complex* kept) {
    on_kind(kind, [&](auto formula) {
        using F = decltype(formula);
        if (first) {
            kept != nullptr ? finish_add_run<F, true, true>(p, omega, n, shapes, sum, kept)
                            : finish_add_run<F, true, false>(p, omega, n, shapes, sum, kept);
        } else {
            kept != nullptr ? finish_add_run<F, false, true>(p, omega, n, shapes, sum, kept)
                            : finish_add_run<F, false, false>(p, omega, n, shapes, sum, kept);
        }
    });
}

template <class F>
concept DirectAdmittance = requires(const double* p, double omega, const Shape& z) { F::admittance(p, omega, z); };

bool has_direct_admittance(Kind kind) {
    return on_kind(kind, [](auto formula) { return DirectAdmittance<decltype(formula)>; });
}

bool has_constant_admittance(Kind kind) {
    return on_kind(kind, [](auto formula) {
        if constexpr (DirectAdmittance<decltype(formula)>) {
            return decltype(formula)::CONSTANT_ADMITTANCE;
        } else {
            return false;
        }
    });
}

// `out` never overlaps the inputs; saying so lets the loops below keep the
// parameters in registers and vectorise.
bool element_admittance(Kind kind, const double* p, const double* omega, std::size_t n, const ElementShape* shapes,
                        Complex* __restrict out) {
    return on_kind(kind, [&](auto formula) {
        if constexpr (DirectAdmittance<decltype(formula)>) {
            if constexpr (decltype(formula)::CONSTANT_ADMITTANCE) {
                if (n == 0) return true;
                const Complex y = formula.admittance(p, omega[0], shapes[0]);
                std::fill_n(out, n, y);
                return direct_admittance_usable(y);
            } else {
                for (std::size_t i = 0; i < n; ++i) out[i] = formula.admittance(p, omega[i], shapes[i]);
                return run_kernel<all_direct_admittances_usable>(out, n);
            }
        } else {
            std::fill_n(out, n, Complex{NAN_VALUE, NAN_VALUE});
            return n == 0;
        }
    });
}

Complex element_admittance_at(Kind kind, const double* p, double omega) {
    return on_kind(kind, [&](auto formula) {
        if constexpr (DirectAdmittance<decltype(formula)>) {
            LibraryPolar polar = polar_at<decltype(formula)>(omega);
            return formula.admittance(p, omega, formula.shape(p, omega, polar));
        } else {
            return Complex{NAN_VALUE, NAN_VALUE};
        }
    });
}

void element_impedance_block(Kind kind, const double* p, const double* omega, std::size_t n, Complex* out,
                             const double* log_omega) {
    std::array<ElementShape, ELEMENT_RUN> shapes;
    for (std::size_t first = 0; first < n; first += ELEMENT_RUN) {
        const std::size_t count = std::min(ELEMENT_RUN, n - first);
        element_shapes(kind, p, omega + first, count, shapes.data(), log_omega ? log_omega + first : nullptr);
        element_finish(kind, p, omega + first, count, shapes.data(), out + first);
    }
}

}  // namespace vorlane
