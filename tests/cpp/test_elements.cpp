#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>

#include "elements/element.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
namespace {

using Ref = std::complex<double>;

void expect_same_bits(Complex a, Complex b) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.re), std::bit_cast<std::uint64_t>(b.re)) << a.re << " vs " << b.re;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.im), std::bit_cast<std::uint64_t>(b.im)) << a.im << " vs " << b.im;
}

struct FormulaCase {
    Kind kind;
    std::array<double, 4> p;
    std::function<Ref(const std::array<double, 4>&, double)> reference;
};

Ref coth(Ref z) { return std::cosh(z) / std::sinh(z); }

const FormulaCase FORMULAS[] = {
    {Kind::R, {5}, [](auto& p, double) { return Ref(p[0]); }},
    {Kind::C, {2e-3}, [](auto& p, double w) { return 1.0 / (Ref(0, w) * p[0]); }},
    {Kind::L, {3e-6}, [](auto& p, double w) { return Ref(0, w) * p[0]; }},
    {Kind::La, {2e-6, 0.7}, [](auto& p, double w) { return std::pow(Ref(0, w) * p[0], p[1]); }},
    {Kind::Cpe, {1e-3, 0.85}, [](auto& p, double w) { return 1.0 / (p[0] * std::pow(Ref(0, w), p[1])); }},
    {Kind::W, {3}, [](auto& p, double w) { return Ref(p[0], -p[0]) / std::sqrt(w); }},
    {Kind::Wo, {2, 5}, [](auto& p, double w) {
         Ref r = std::sqrt(Ref(0, w) * p[1]);
         return p[0] / (r * std::tanh(r));
     }},
    {Kind::Ws, {2, 5}, [](auto& p, double w) {
         Ref r = std::sqrt(Ref(0, w) * p[1]);
         return p[0] * std::tanh(r) / r;
     }},
    {Kind::G, {4, 0.3}, [](auto& p, double w) { return p[0] / std::sqrt(1.0 + Ref(0, w) * p[1]); }},
    {Kind::Gs, {4, 0.3, 1.7}, [](auto& p, double w) {
         Ref r = std::sqrt(1.0 + Ref(0, w) * p[1]);
         return p[0] / (r * std::tanh(p[2] * r));
     }},
    {Kind::K, {2, 1e-3}, [](auto& p, double w) { return p[0] / (1.0 + Ref(0, w) * p[1]); }},
    {Kind::Zarc, {2, 1e-3, 0.75}, [](auto& p, double w) { return p[0] / (1.0 + std::pow(Ref(0, w) * p[1], p[2])); }},
    {Kind::Tlmq, {3, 2e-3, 0.8}, [](auto& p, double w) {
         Ref zs = 1.0 / (p[1] * std::pow(Ref(0, w), p[2]));
         return std::sqrt(p[0] * zs) / std::tanh(std::sqrt(p[0] / zs));
     }},
    {Kind::T, {1.5, 2.5, 0.7, 0.2}, [](auto& p, double w) {
         Ref beta = std::sqrt(p[2] + Ref(0, w) * p[3]);
         return p[0] * coth(beta) / beta + p[1] / std::sinh(beta) / beta;
     }},
};

class ElementFormula : public ::testing::TestWithParam<FormulaCase> {};

TEST_P(ElementFormula, MatchesIndependentComplexArithmetic) {
    const FormulaCase& c = GetParam();
    for (double omega : {0.01, 1.0, 137.5, 1e4, 3e6}) {
        const Complex z = element_impedance(c.kind, c.p.data(), omega);
        const Ref ref = c.reference(c.p, omega);
        EXPECT_LE(std::abs(Ref(z.re, z.im) - ref), 1e-12 * std::abs(ref))
            << kind_info(c.kind).canonical << " at omega " << omega << ": " << z.re << "," << z.im << " vs " << ref;
    }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ElementFormula, ::testing::ValuesIn(FORMULAS),
                         [](const auto& info) { return std::string(kind_info(info.param.kind).canonical); });

TEST(ElementCatalogue, CodesResolveToTheirKindInTagOrder) {
    const std::size_t counts[] = {1, 1, 1, 2, 2, 1, 2, 2, 2, 3, 2, 3, 3, 4};
    for (std::size_t i = 0; i < KIND_COUNT; ++i) {
        const auto e = Element::default_for_code(CODES[i]);
        ASSERT_TRUE(e) << CODES[i];
        EXPECT_EQ(static_cast<std::size_t>(e->kind), i);
        EXPECT_EQ(e->count(), counts[i]);
        EXPECT_EQ(e->values().size(), counts[i]);
        EXPECT_TRUE(Element::default_for_code(kind_info(e->kind).canonical));
    }
}

TEST(ElementCatalogue, CodeMatchingIsExactAndCaseSensitive) {
    for (const char* code : {"CPE", "Cpe"}) {
        const auto e = Element::default_for_code(code);
        ASSERT_TRUE(e) << code;
        EXPECT_EQ(e->kind, Kind::Cpe);
        EXPECT_EQ(e->values(), (std::vector<double>{0.001, 0.8}));
    }
    EXPECT_EQ(Element::default_for_code("TLMQ")->kind, Kind::Tlmq);
    EXPECT_EQ(Element::default_for_code("Tlmq")->kind, Kind::Tlmq);
    for (const char* code : {"", "cpe", "cPE", "CPe", "tlmq", "r", "ZARC", "zarc", "LA", "WO", "RR", "R1", " R", "Ω"})
        EXPECT_FALSE(Element::default_for_code(code)) << code;
}

TEST(ElementCatalogue, BoundsDependOnTheParameterNameOnly) {
    const auto open = std::pair{1e-12, Inf};
    const auto unit = std::pair{0.0, 1.0};
    EXPECT_EQ(bounds_for_param("alpha"), unit);
    EXPECT_EQ(bounds_for_param("gamma"), unit);
    for (const char* name : {"q", "phi", "k_tau", "tau", "r", "Alpha", ""}) EXPECT_EQ(bounds_for_param(name), open);
}

TEST(ElementImpedance, KnownValuesAreExact) {
    const double k[] = {1, 0.001};
    expect_same_bits(element_impedance(Kind::K, k, 1000), {0.5, -0.5});
    const double w[] = {1};
    expect_same_bits(element_impedance(Kind::W, w, 4), {0.5, -0.5});
}

TEST(ElementImpedance, SpecialExponentsReproduceTheSimplerKinds) {
    for (double omega : {1e-3, 0.7, 1000.0, 2.5e5, -3.0}) {
        const double k[] = {2.5, 3e-4};
        const double zarc[] = {2.5, 3e-4, 1.0};
        expect_same_bits(element_impedance(Kind::Zarc, zarc, omega), element_impedance(Kind::K, k, omega));
        const double c[] = {4e-5};
        const double cpe[] = {4e-5, 1.0};
        expect_same_bits(element_impedance(Kind::Cpe, cpe, omega), element_impedance(Kind::C, c, omega));
    }
}

TEST(ElementImpedance, NonFiniteResultsFlowThroughUnguarded) {
    const double c[] = {1e-3};
    const double w[] = {1};
    for (Complex z : {element_impedance(Kind::C, c, 0.0), element_impedance(Kind::W, w, 0.0),
                      element_impedance(Kind::W, w, -1.0)}) {
        EXPECT_TRUE(std::isnan(z.re));
        EXPECT_TRUE(std::isnan(z.im));
    }
    const double r_nan[] = {NaN};
    EXPECT_TRUE(std::isnan(element_impedance(Kind::R, r_nan, 1.0).re));
    const double negative_cpe[] = {-1e-3, 0.8};
    EXPECT_TRUE(std::isfinite(element_impedance(Kind::Cpe, negative_cpe, 10.0).re));
}

TEST(ElementImpedance, BoundedDiffusionAtExtremeFrequencies) {
    const double z0 = 2, tau = 10;
    const double p[] = {z0, tau};
    // Far above the guard the tanh factor is exactly one.
    const double high = 1e4;
    const Complex root = csqrt({0.0 * high, high * tau});
    ASSERT_GT(root.re, 20.0);
    expect_same_bits(element_impedance(Kind::Ws, p, high), Complex{z0, 0.0} / root);
    // Far below, x / tanh(x) ~ 1 + x^2 / 3: a capacitor z0 / (s tau) in series with z0 / 3.
    const double low = 1e-9;
    const Complex wo = element_impedance(Kind::Wo, p, low);
    const Ref expected = z0 / (Ref(0, low) * tau) + z0 / 3.0;
    EXPECT_LE(std::abs(Ref(wo.re, wo.im) - expected), 1e-9 * std::abs(expected));
}

// Beyond Re beta = 20 the csch term still counts when b >> a: reference
// values from 50-digit arithmetic of a coth(beta)/beta + b csch(beta)/beta.
TEST(ElementImpedance, TransmissionLineKeepsItsCschTermForLargeBeta) {
    struct Case { double a, b, k_tau, tau, omega; Complex expected; };
    const Case cases[] = {
        {1e-3, 1e6, 401.0, 0.0, 1.0, {0.0002507162932199798, 0.0}},
        {1.5, 2.5, 1000.0, 0.2, 50.0, {0.04743238625103682, -0.00023715600250379617}},
        {2.0, 3e5, 1e4, 1.0, 1e5, {0.004677706898043288, -0.004233266561935098}},
    };
    for (const Case& c : cases) {
        const double p[] = {c.a, c.b, c.k_tau, c.tau};
        const Complex z = element_impedance(Kind::T, p, c.omega);
        EXPECT_NEAR(z.re, c.expected.re, 1e-14 * std::abs(c.expected.re));
        EXPECT_NEAR(z.im, c.expected.im, 1e-14 * std::hypot(c.expected.re, c.expected.im));
    }
}

TEST(AuxiliaryFunctions, HyperbolicGuardIsStrictAtTwenty) {
    const Complex at = ctanh({20.0, 0.3});
    EXPECT_NE(at.im, 0.0);  // the exact formula still runs at |x| = 20
    expect_same_bits(ctanh({std::nextafter(20.0, 21.0), 0.3}), {1.0, 0.0});
    expect_same_bits(ctanh({-25.0, 0.3}), {-1.0, 0.0});
    Complex coth, csch;
    ccoth_csch({-20.0, 0.4}, coth, csch);
    EXPECT_NE(csch.re, 0.0);
    ccoth_csch({-20.5, 0.4}, coth, csch);
    EXPECT_EQ(coth.re, -1.0);
    EXPECT_NEAR(csch.re, -2.0 * std::exp(-20.5) * std::cos(0.4), 1e-24);  // odd: csch(-z) = -csch(z)
    EXPECT_NEAR(csch.im, -2.0 * std::exp(-20.5) * std::sin(0.4), 1e-24);
    ccoth_csch({Inf, 0.4}, coth, csch);
    EXPECT_EQ(coth.re, 1.0);
    EXPECT_EQ(csch.re, 0.0);
}

TEST(AuxiliaryFunctions, SquareRootSpecialCases) {
    expect_same_bits(csqrt({4.0, 0.0}), {2.0, 0.0});
    expect_same_bits(csqrt({-4.0, 0.0}), {0.0, 2.0});
    expect_same_bits(csqrt({-4.0, -0.0}), {0.0, -2.0});
    expect_same_bits(csqrt({0.0, 8.0}), {2.0, 2.0});
    expect_same_bits(csqrt({-0.0, -8.0}), {2.0, -2.0});
    expect_same_bits(csqrt({Inf, 0.0}), {Inf, 0.0});
    for (Complex z : {Complex{3, 4}, Complex{-3, 4}, Complex{-3, -4}, Complex{1e-300, -7e300}}) {
        const Complex r = csqrt(z);
        const Ref ref = std::sqrt(Ref(z.re, z.im));
        EXPECT_LE(std::abs(Ref(r.re, r.im) - ref), 1e-15 * std::abs(ref));
    }
}

TEST(AuxiliaryFunctions, PowerSpecialCasesInOrder) {
    const Complex nan_z{NaN, NaN};
    expect_same_bits(cpow({NaN, 2.0}, 1.0), {NaN, 2.0});
    expect_same_bits(cpow(nan_z, 0.0), {1.0, 0.0});
    expect_same_bits(cpow({-9.0, 0.0}, 0.5), csqrt({-9.0, 0.0}));
    const Complex r = cpow({-2.0, 1.0}, 0.3);
    const Ref ref = std::pow(Ref(-2.0, 1.0), 0.3);
    EXPECT_LE(std::abs(Ref(r.re, r.im) - ref), 1e-15 * std::abs(ref));
    const Complex neg = cpow({-2.0, 0.0}, 0.3);  // principal branch, theta = pi
    EXPECT_GT(neg.im, 0.0);
}

}  // namespace
}  // namespace vorlane
