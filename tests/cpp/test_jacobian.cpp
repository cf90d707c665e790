#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "core/worker_pool.hpp"
#include "fit/jacobian.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
namespace {

using Vec = std::vector<double>;

struct JacobianSpectrum {
    SeriesList nodes;
    Vec omega;
    std::vector<Complex> measured;
    Vec weights;
};

JacobianSpectrum jacobian_spectrum(const char* circuit, const Vec& truth, std::size_t n) {
    JacobianSpectrum d{*parse(circuit), {}, {}, {}};
    for (std::size_t i = 0; i < n; ++i) {
        d.omega.push_back(std::pow(10.0, -2.0 + 6.0 * static_cast<double>(i) / static_cast<double>(n)));
        const Complex z = impedance_with_params(d.nodes, truth, d.omega.back());
        d.measured.push_back({z.re * 1.01, z.im * 0.99});
    }
    d.weights = compute_weights(d.measured, true);
    return d;
}

// The central difference written out: steps of cbrt(2^-52) * max(|p|, 1e-8).
Vec reference_column(const JacobianSpectrum& d, Vec p, std::size_t j) {
    const double a = std::fabs(p[j]);
    const double h = std::cbrt(std::ldexp(1.0, -52)) * (a > 1e-8 ? a : 1e-8);
    Vec forward = p, backward = p;
    forward[j] += h;
    backward[j] -= h;
    EvalCounter counter;
    const Vec rp = residuals(d.nodes, forward, d.omega, d.measured, d.weights, counter);
    const Vec rm = residuals(d.nodes, backward, d.omega, d.measured, d.weights, counter);
    Vec c(rp.size());
    for (std::size_t k = 0; k < c.size(); ++k) c[k] = (rp[k] - rm[k]) / (h * 2.0);
    return c;
}

class CentralDifference : public ::testing::TestWithParam<Vec> {};

TEST_P(CentralDifference, MatchesItsDefinitionBitForBit) {
    const JacobianSpectrum d = jacobian_spectrum("R0-(R1,CPE1)-Wo2", {10.0, 100.0, 1e-4, 0.8, 50.0, 2.0}, 25);
    const Vec& p = GetParam();
    EvalCounter counter;
    const auto columns = jacobian_columns(d.nodes, p, d.omega, d.measured, d.weights, counter);
    ASSERT_EQ(columns.size(), p.size());
    EXPECT_EQ(counter.value(), 2 * p.size());
    for (std::size_t j = 0; j < p.size(); ++j) {
        const Vec expected = reference_column(d, p, j);
        ASSERT_EQ(columns[j].size(), 50u);
        for (std::size_t k = 0; k < expected.size(); ++k) {
            if (std::isnan(expected[k])) {
                EXPECT_TRUE(std::isnan(columns[j][k])) << j << " " << k;
            } else {
                EXPECT_EQ(columns[j][k], expected[k]) << j << " " << k;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Points, CentralDifference,
                         ::testing::Values(Vec{10.0, 100.0, 1e-4, 0.8, 50.0, 2.0},
                                           Vec{0.0, 1000.0, 1e-12, 0.0, 1e-9, 1.0},
                                           Vec{-3.0, 1e6, 2e-3, 1.0, NaN, 0.5},
                                           // negative values whose columns are all finite
                                           Vec{-3.0, 100.0, -2e-4, 0.8, -50.0, 2.0}));

TEST(Jacobian, ExactDerivativeForALinearParameter) {
    // Series resistance: d r / d R0 is 1 / w on the real rows and 0 on the imaginary ones.
    const JacobianSpectrum d = jacobian_spectrum("R0-(R1,C1)", {10.0, 100.0, 1e-5}, 40);
    EvalCounter counter;
    const auto columns = jacobian_columns(d.nodes, Vec{12.0, 90.0, 2e-5}, d.omega, d.measured, d.weights, counter);
    for (std::size_t i = 0; i < d.omega.size(); ++i) {
        EXPECT_NEAR(columns[0][2 * i], 1.0 / d.weights[i], 1e-9 / d.weights[i]);
        EXPECT_EQ(columns[0][2 * i + 1], 0.0);
    }
}

TEST(Jacobian, EdgeCases) {
    EvalCounter counter;
    const std::vector<Complex> one{{1.0, 0.0}};
    EXPECT_TRUE(jacobian_columns(SeriesList{}, {}, Vec{1.0}, one, Vec{1.0}, counter).empty());
    EXPECT_EQ(counter.value(), 0u);
    // A capacitor at omega = 0 evaluates to NaN; nothing is clipped.
    const auto columns = jacobian_columns(*parse("R0-C1"), Vec{1.0, 1e-6}, Vec{0.0}, one, Vec{1.0}, counter);
    EXPECT_FALSE(std::isfinite(columns[1][1]));
}

TEST(Jacobian, BitIdenticalFromAnyThreadAndOnRepeat) {
    const JacobianSpectrum d = jacobian_spectrum("R0-(R1,CPE1)-(R2-Wo2,CPE2)", {10, 100, 1e-4, 0.8, 50, 20, 2, 1e-3, 0.6}, 60);
    const Vec p{11, 90, 2e-4, 0.75, 40, 25, 1.5, 2e-3, 0.65};
    EvalCounter counter;
    const auto first = jacobian_columns(d.nodes, p, d.omega, d.measured, d.weights, counter);
    // Nested calls from the pool's own workers, several at once.
    const auto nested = pool::parallel_map<std::vector<std::vector<double>>>(8, [&](std::size_t) {
        EvalCounter local;
        return jacobian_columns(d.nodes, p, d.omega, d.measured, d.weights, local);
    });
    for (const auto& again : nested) EXPECT_EQ(again, first);
    EXPECT_EQ(jacobian_columns(d.nodes, p, d.omega, d.measured, d.weights, counter), first);
    EXPECT_EQ(counter.value(), 4 * p.size());
}

}  // namespace
}  // namespace vorlane
