// The faster forms of the evaluation and the solver against the operations
// they replace: within 1e-13 relative where rounding may differ, bit for bit
// where it may not, and the IEEE results of zero, infinite and NaN inputs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "circuit/batch_impedance.hpp"
#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "elements/element.hpp"
#include "fit/fit_outcome.hpp"
#include "fit/lm_problem.hpp"
#include "fit/lm_solver.hpp"
#include "fit/minpack_routines.hpp"
#include "bit_compare.hpp"

namespace vorlane {
namespace {

using Vec = std::vector<double>;
using test::Inf;
using test::NaN;
using test::same_bits;
using test::Tiny;
constexpr double BOUND = 1e-13;

double modulus(Complex z) { return std::hypot(z.re, z.im); }
double distance(Complex a, Complex b) { return std::hypot(a.re - b.re, a.im - b.im); }

// The test on magnitude bits against the comparisons it stands for.
TEST(DirectAdmittanceUsable, MatchesTheComparisonsOnEveryKindOfValue) {
    const double values[] = {0.0, -0.0, Tiny, 1e-300, 1e-150, 1.0000000000000002e-150, 9.999999999999999e-151,
                             0.5, -3.0, 1e149, 1e150, 1.0000000000000002e150, 1e300, Inf, -Inf, NaN, -NaN};
    for (const double re : values) {
        for (const double im : values) {
            const double a = std::fabs(re);
            const double b = std::fabs(im);
            const bool expected = a < 1e150 && b < 1e150 && (a > 1e-150 || b > 1e-150);
            EXPECT_EQ(direct_admittance_usable({re, im}), expected) << re << " " << im;
        }
    }
}

// (j omega)^alpha by pow, the reference form, with s = 0 * omega + j omega.
Complex pow_of_s(double omega, double alpha) {
    const Complex s{0.0 * omega, omega};
    const double magnitude = std::pow(std::hypot(s.re, s.im), alpha);
    const double angle = alpha * std::atan2(s.im, s.re);
    return {magnitude * std::cos(angle), magnitude * std::sin(angle)};
}

struct PowerCase {
    Kind kind;
    std::array<double, 4> p;
    std::size_t alpha;  // index of the exponent
};

class PowerOfS : public ::testing::TestWithParam<PowerCase> {};

Complex reference(const PowerCase& c, double omega) {
    const Complex z = pow_of_s(omega, c.p[c.alpha]);
    if (c.kind == Kind::Cpe) return Complex{1.0, 0.0} / Complex{c.p[0] * z.re, c.p[0] * z.im};
    const Complex zs = Complex{1.0, 0.0} / Complex{c.p[1] * z.re, c.p[1] * z.im};
    const Complex a = csqrt({c.p[0] * zs.re, c.p[0] * zs.im});
    return a / ctanh(csqrt(Complex{c.p[0], 0.0} / zs));
}

TEST_P(PowerOfS, ExpFormAgreesWithPowAcrossTheSpectrum) {
    const PowerCase& c = GetParam();
    for (double alpha : {0.05, 0.3, 0.77, 0.99, 1.7, -0.4}) {
        PowerCase k = c;
        k.p[c.alpha] = alpha;
        for (double omega = 1e-7; omega < 1e13; omega *= 1.37) {
            const Complex z = element_impedance(k.kind, k.p.data(), omega);
            const Complex ref = reference(k, omega);
            EXPECT_LE(distance(z, ref), BOUND * modulus(ref)) << alpha << " at " << omega;
        }
    }
}

TEST_P(PowerOfS, PowTakesOverAtExtremeAndNonFiniteFrequencies) {
    const PowerCase& c = GetParam();
    for (double omega : {1e-300, 1e-120, 1e120, 1e300, std::numeric_limits<double>::max(), 0.0, -0.0, -5.0, Tiny,
                         Inf, NaN}) {
        const Complex z = element_impedance(c.kind, c.p.data(), omega);
        const Complex ref = reference(c, omega);
        EXPECT_TRUE(same_bits(z, ref) || (std::isnan(z.re) && std::isnan(ref.re)) ||
                    (std::isnan(z.im) && std::isnan(ref.im) && same_bits(z.re, ref.re)))
            << omega << ": " << z.re << "," << z.im << " vs " << ref.re << "," << ref.im;
    }
}

// Logarithms handed in or taken point by point give the same shapes.
TEST_P(PowerOfS, GivenLogarithmsGiveTheSameBits) {
    const PowerCase& c = GetParam();
    Vec omega, logs;
    for (double w = 1e-3; w < 1e7; w *= 1.9) {
        omega.push_back(w);
        logs.push_back(std::log(w));
    }
    std::vector<ElementShape> given(omega.size()), taken(omega.size());
    element_shapes(c.kind, c.p.data(), omega.data(), omega.size(), given.data(), logs.data());
    element_shapes(c.kind, c.p.data(), omega.data(), omega.size(), taken.data());
    for (std::size_t i = 0; i < omega.size(); ++i) EXPECT_TRUE(same_bits(given[i][0], taken[i][0])) << omega[i];
}

INSTANTIATE_TEST_SUITE_P(Kinds, PowerOfS,
                         ::testing::Values(PowerCase{Kind::Cpe, {2e-4, 0.85}, 1},
                                           PowerCase{Kind::Tlmq, {3.0, 2e-3, 0.8}, 2}),
                         [](const auto& info) { return std::string(kind_info(info.param.kind).canonical); });

TEST(PowerOfS, OnlyPowersOfSItselfTakeTheLogarithm) {
    for (std::size_t k = 0; k < KIND_COUNT; ++k) {
        const auto kind = static_cast<Kind>(k);
        EXPECT_EQ(uses_log_omega(kind), kind == Kind::Cpe || kind == Kind::Tlmq) << kind_info(kind).canonical;
    }
}

// Spectra long enough for the worker pool against the one-frequency walk
// (sequential by construction), on circuits with parallel nodes and powers.
TEST(SpectrumImpedance, PoolAndSequentialWalksGiveTheSameBits) {
    Vec hz;
    for (std::size_t i = 0; i < 3 * PARALLEL_SPECTRUM_THRESHOLD; ++i) {
        hz.push_back(std::pow(10.0, -3.0 + 9.0 * static_cast<double>(i) / (3.0 * PARALLEL_SPECTRUM_THRESHOLD)));
    }
    for (const char* text : {"R0-(R1,C1)", "R0-(R1,CPE1)-(R2-Wo2,CPE2)", "L0-La1-(W2,(Ws3,G4),Gs5)-K6-Zarc7-Tlmq8-T9"}) {
        const SeriesList nodes = *parse(text);
        const std::vector<Complex> pooled = spectrum_impedance(nodes, hz);
        const std::vector<Complex> short_run = spectrum_impedance(nodes, std::span(hz).first(100));
        for (std::size_t i = 0; i < hz.size(); ++i) {
            ASSERT_TRUE(same_bits(pooled[i], impedance(nodes, hz[i] * TWO_PI))) << text << " " << i;
        }
        for (std::size_t i = 0; i < short_run.size(); ++i) EXPECT_TRUE(same_bits(short_run[i], pooled[i]));
    }
}

// The logarithms kept per block follow the frequencies' bits, not where
// they lie: the same memory with new values is evaluated afresh.
TEST(SpectrumImpedance, KeptLogarithmsFollowTheFrequencies) {
    const SeriesList nodes = *parse("R0-(R1,CPE1)-(R2-Tlmq2,CPE2)");
    const std::vector<double> params = param_values(nodes);
    Vec omega(300);
    std::vector<Complex> out(omega.size());
    for (const double scale : {1.0, 3.7, 1.0, 1e-3}) {
        for (std::size_t i = 0; i < omega.size(); ++i) omega[i] = scale * std::pow(10.0, -2.0 + 0.03 * i);
        block_impedance(nodes, params, omega.data(), omega.size(), out.data());
        for (std::size_t i = 0; i < omega.size(); ++i) {
            ASSERT_TRUE(same_bits(out[i], impedance(nodes, omega[i]))) << scale << " " << i;
        }
    }
}

TEST(Enorm, FastSumIsThePlainSumOfSquaresBitForBit) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> exponent(-15.0, 15.0);
    for (int trial = 0; trial < 200; ++trial) {
        Vec x(1 + trial % 37);
        double sum = 0.0;
        for (double& v : x) {
            v = (trial % 2 ? -1.0 : 1.0) * std::pow(10.0, exponent(rng));
            if (trial % 5 == 0 && &v == &x.front()) v = 0.0;
            sum += v * v;
        }
        EXPECT_TRUE(same_bits(minpack::enorm(x), std::sqrt(sum)));
    }
    // One component outside the intermediate range takes the scaled sums.
    EXPECT_DOUBLE_EQ(minpack::enorm(Vec{3.0, 1e-25, 4.0}), 5.0);
    EXPECT_DOUBLE_EQ(minpack::enorm(Vec{3e18, 4e18, 1.0}), 5e18);
    EXPECT_TRUE(std::isnan(minpack::enorm(Vec{1.0, NaN})));
    EXPECT_EQ(minpack::enorm(Vec{1.0, Inf}), Inf);
}

// Columns summed side by side give each column's enorm, scaled or not.
TEST(Enorm, ColumnNormsAreTheColumnsEnorms) {
    const std::size_t m = 7, n = 6;
    Vec data(m * n);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = std::sin(1.0 + static_cast<double>(k)) * 1e3;
    data[1 * m + 2] = 1e-25;  // a tiny component: scaled sums
    data[4 * m + 0] = 1e30;   // a huge one
    data[5 * m + 6] = NaN;
    Vec norms(n);
    minpack::column_norms(minpack::ColumnMajor{data.data(), m}, m, n, norms);
    for (std::size_t j = 0; j < n; ++j) {
        const double expected = minpack::enorm(std::span<const double>(data.data() + j * m, m));
        EXPECT_TRUE(same_bits(norms[j], expected) || (std::isnan(norms[j]) && std::isnan(expected))) << j;
    }
}

struct RippledSpectrum {
    SeriesList nodes;
    Vec omega, weights;
    std::vector<Complex> measured;
};

RippledSpectrum spectrum(const char* text, const Vec& truth, std::size_t points) {
    RippledSpectrum s{*parse(text), {}, {}, {}};
    for (std::size_t i = 0; i < points; ++i) {
        const double w = std::pow(10.0, -1.0 + 6.0 * static_cast<double>(i) / static_cast<double>(points));
        const Complex z = impedance_with_params(s.nodes, truth, w);
        const double wobble = 1.0 + 0.01 * std::sin(7.0 * static_cast<double>(i));
        s.omega.push_back(w);
        s.measured.push_back({z.re * wobble, z.im / wobble});
    }
    s.weights = compute_weights(s.measured, true);
    return s;
}

// One workspace carried through runs of different sizes ends every run where
// a fresh one does.
TEST(LmWorkspace, ReuseAcrossRunsChangesNoBit) {
    const RippledSpectrum small = spectrum("R0-(R1,C1)", {10.0, 100.0, 1e-5}, 25);
    const RippledSpectrum large = spectrum("R0-(R1,CPE1)-(R2,CPE2)", {10.0, 50.0, 1e-6, 0.9, 200.0, 1e-3, 0.8}, 60);
    LmWorkspace shared;
    for (const RippledSpectrum* s : {&large, &small, &large}) {
        const Bounds bounds = param_bounds(s->nodes);
        const Vec start = to_solver_space(param_values(s->nodes), bounds);
        const std::vector<bool> none(start.size(), false);
        EvalCounter counter;
        LmProblem reused(s->nodes, s->omega, s->measured, s->weights, bounds, start, none, counter);
        LmProblem fresh(s->nodes, s->omega, s->measured, s->weights, bounds, start, none, counter);
        const auto a = lm_minimize(reused, LmOptions{}, shared);
        const auto b = lm_minimize(fresh, LmOptions{});
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->reason, b->reason);
        EXPECT_EQ(a->evaluations, b->evaluations);
        for (std::size_t i = 0; i < start.size(); ++i) EXPECT_TRUE(same_bits(reused.params()[i], fresh.params()[i]));
    }
}

// The residual vector a fit already holds stands in for a new evaluation,
// counted the same; a point the bounds move is evaluated afresh.
TEST(BuildOutcome, KnownResidualsGiveTheSameOutcome) {
    const RippledSpectrum s = spectrum("R0-(R1,CPE1)", {10.0, 100.0, 1e-4, 0.8}, 30);
    for (const Vec& at : {Vec{10.5, 95.0, 1.1e-4, 0.79}, Vec{10.5, 95.0, 1.1e-4, 1.2}}) {
        EvalCounter plain_counter, known_counter, scratch;
        const Vec r = residuals(s.nodes, at, s.omega, s.measured, s.weights, scratch);
        const FitOutcome plain = build_outcome(s.nodes, at, true, 3, s.omega, s.measured, s.weights, plain_counter);
        const FitOutcome known = build_outcome(s.nodes, at, true, 3, s.omega, s.measured, s.weights, known_counter, r);
        EXPECT_TRUE(same_bits(known.cost, plain.cost));
        EXPECT_EQ(known.params, plain.params);
        EXPECT_EQ(known.impedance_evals, plain.impedance_evals);
        ASSERT_EQ(known.stderr_.has_value(), plain.stderr_.has_value());
        if (plain.stderr_) {
            EXPECT_EQ(*known.stderr_, *plain.stderr_);
        }
    }
}

}  // namespace
}  // namespace vorlane
