#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "validation/kramers_kronig.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
namespace {

// R0 plus two R || CPE arcs, R / (1 + (j w tau)^alpha), at log-spaced
// frequencies from 100 kHz to 10 mHz: a causal spectrum with distributed
// time constants.
struct CausalSpectrum {
    std::vector<double> frequencies;
    std::vector<Complex> impedances;
};

Complex zarc(double omega, double r, double tau, double alpha) {
    const double magnitude = std::pow(omega * tau, alpha);
    const double angle = alpha * 1.5707963267948966;
    return Complex{r, 0.0} / Complex{1.0 + magnitude * std::cos(angle), magnitude * std::sin(angle)};
}

CausalSpectrum two_arcs(std::size_t n) {
    CausalSpectrum s;
    for (std::size_t i = 0; i < n; ++i) {
        const double f = std::pow(10.0, 5.0 - 7.0 * static_cast<double>(i) / static_cast<double>(n - 1));
        const double omega = 6.283185307179586 * f;
        s.frequencies.push_back(f);
        s.impedances.push_back(Complex{10.0, 0.0} + zarc(omega, 40.0, 1e-4, 0.85) + zarc(omega, 80.0, 0.3, 0.8));
    }
    return s;
}

struct PartCase {
    KkPart part;
    std::optional<std::size_t> m;
    double largest_chi_square;
};

class KramersKronigPasses : public ::testing::TestWithParam<PartCase> {};

TEST_P(KramersKronigPasses, CausalSpectrumWithTinyResiduals) {
    const CausalSpectrum s = two_arcs(50);
    KkOptions options;
    options.method = KkMethod::Mu;
    options.part = GetParam().part;
    options.m = GetParam().m;
    const auto result = kramers_kronig(s.frequencies, s.impedances, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_LT(result->pseudo_chi_square, GetParam().largest_chi_square);
    ASSERT_EQ(result->time_constants.size(), result->m);
    EXPECT_DOUBLE_EQ(result->time_constants.front(), 1.0 / (6.283185307179586 * 1e5));
    EXPECT_DOUBLE_EQ(result->time_constants.back(), 1.0 / (6.283185307179586 * 1e-2));
}

INSTANTIATE_TEST_SUITE_P(Parts, KramersKronigPasses,
                         ::testing::Values(PartCase{KkPart::Complex, std::nullopt, 1e-7},
                                           PartCase{KkPart::Imaginary, std::nullopt, 1e-6},
                                           PartCase{KkPart::Real, 30, 1e-5}));

TEST(KramersKronig, AutomaticSearchThatNeverOverFitsEndsAtHundred) {
    // One RC element whose time constant is the first of every grid: each
    // M fits exactly with R_1 alone, so mu stays near 1.
    CausalSpectrum s;
    for (std::size_t i = 0; i < 110; ++i) {
        const double f = std::pow(10.0, 4.0 - 6.0 * static_cast<double>(i) / 109.0);
        s.frequencies.push_back(f);
        s.impedances.push_back(Complex{10.0, 0.0} + Complex{50.0, 0.0} / Complex{1.0, f / 1e4});
    }
    KkOptions options;
    options.method = KkMethod::Mu;
    const auto result = kramers_kronig(s.frequencies, s.impedances, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->m, 100u);
    EXPECT_LT(result->pseudo_chi_square, 1e-20);
}

TEST(KramersKronig, GivenMIsUsedAndResultIsDeterministic) {
    const CausalSpectrum s = two_arcs(30);
    KkOptions options;
    options.m = 7;
    options.capacitance = true;
    options.inductance = true;
    const auto a = kramers_kronig(s.frequencies, s.impedances, options);
    const auto b = kramers_kronig(s.frequencies, s.impedances, options);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->m, 7u);
    EXPECT_EQ(a->resistances, b->resistances);
    EXPECT_EQ(a->residuals_real, b->residuals_real);
    EXPECT_TRUE(a->capacitance && a->inductance);
}

TEST(KramersKronig, MuCriterion) {
    EXPECT_EQ(mu_criterion({1.0, 2.0}), 1.0);
    EXPECT_EQ(mu_criterion({}), 1.0);
    EXPECT_DOUBLE_EQ(mu_criterion({3.0, -1.0}), 1.0 - 1.0 / 3.0);
    EXPECT_EQ(mu_criterion({-1.0}), -std::numeric_limits<double>::infinity());
}

TEST(KramersKronig, MaxTimeConstants) {
    EXPECT_EQ(max_time_constants(0, KkPart::Complex, false, false), 0u);
    EXPECT_EQ(max_time_constants(1, KkPart::Complex, false, false), 1u);
    EXPECT_EQ(max_time_constants(10, KkPart::Complex, false, false), 10u);
    EXPECT_EQ(max_time_constants(1, KkPart::Real, false, false), 0u);
    EXPECT_EQ(max_time_constants(10, KkPart::Real, false, false), 9u);
    EXPECT_EQ(max_time_constants(2, KkPart::Imaginary, true, true), 0u);
    EXPECT_EQ(max_time_constants(10, KkPart::Imaginary, true, true), 8u);
}

TEST(KramersKronig, NoiseFreeCausalSpectrumIsValidWithoutOutliers) {
    const CausalSpectrum s = two_arcs(60);
    const auto result = kramers_kronig(s.frequencies, s.impedances, {});
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->valid);
    EXPECT_LT(result->noise, 1e-3);
    EXPECT_EQ(result->outliers, std::vector<bool>(60, false));
    EXPECT_LT(result->pseudo_chi_square, 1e-8);
}

TEST(KramersKronig, SpikeIsAnOutlierAndTheRestStaysValid) {
    CausalSpectrum s = two_arcs(60);
    s.impedances[30] = s.impedances[30] * Complex{1.1, 0.0};
    const auto result = kramers_kronig(s.frequencies, s.impedances, {});
    ASSERT_TRUE(result.has_value());
    std::vector<bool> expected(60, false);
    expected[30] = true;
    EXPECT_EQ(result->outliers, expected);
    EXPECT_TRUE(result->valid);
    // The final fit leaves the spike out: its residual is the spike itself.
    EXPECT_NEAR(std::hypot(result->residuals_real[30], result->residuals_imag[30]), 0.1, 0.01);
}

TEST(KramersKronig, PlainTestKeepsEveryPoint) {
    CausalSpectrum s = two_arcs(60);
    s.impedances[30] = s.impedances[30] * Complex{1.1, 0.0};
    KkOptions options;
    options.method = KkMethod::Mu;
    options.m = 20;
    const auto result = kramers_kronig(s.frequencies, s.impedances, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->outliers, std::vector<bool>(60, false));
    EXPECT_EQ(result->time_constants.front(), 1.0 / (6.283185307179586 * 1e5));
}

struct RefusalCase {
    std::vector<double> frequencies;
    std::vector<Complex> impedances;
    KkOptions options;
    std::string message;
};

class KramersKronigRefuses : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(KramersKronigRefuses, WithMessage) {
    const RefusalCase& c = GetParam();
    const auto result = kramers_kronig(c.frequencies, c.impedances, c.options);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message, c.message);
}

KkOptions with_m(std::size_t m, KkPart part = KkPart::Complex) {
    KkOptions o;
    o.m = m;
    o.part = part;
    return o;
}


// The full set of refusals is exercised through the Python interface.
INSTANTIATE_TEST_SUITE_P(
    Inputs, KramersKronigRefuses,
    ::testing::Values(
        RefusalCase{{1.0}, {}, {}, "frequencies and impedances must have the same length"},
        RefusalCase{{1.0}, {{1, 0}}, with_m(1, KkPart::Real), "a real fit needs at least 2 measured points, got 1"},
        RefusalCase{{NaN}, {{1, 0}}, {}, "frequencies must be finite and positive: frequency 0 is NaN"},
        RefusalCase{{1.0}, {{Inf, 0}}, {}, "impedances must be finite and nonzero: impedance 0 is (inf, 0.0)"},
        RefusalCase{{1.0, 2.0}, {{1, 0}, {1, 0}}, with_m(3),
                    "m = 3 is too large: 2 measured points allow at most m = 2 for a complex fit"},
        RefusalCase{{1e101}, {{1, 0}}, {},
                    "frequencies must lie between 1e-100 and 1e100 Hz for the test: frequency 0 is 1e101"},
        RefusalCase{{1.0}, {{1e-101, 0}}, {},
                    "impedances must have a modulus between 1e-100 and 1e100 ohm for the test: impedance 0 is "
                    "(1e-101, 0.0)"}));

TEST(KramersKronig, EqualFrequenciesDoNotBreakTheSolve) {
    // All time constants coincide: a rank-deficient design matrix.
    const std::vector<double> f(5, 10.0);
    const std::vector<Complex> z(5, Complex{3.0, -1.0});
    const auto result = kramers_kronig(f, z, {});
    ASSERT_TRUE(result.has_value());
    EXPECT_LT(result->pseudo_chi_square, 1e-20);
}

}  // namespace
}  // namespace vorlane
