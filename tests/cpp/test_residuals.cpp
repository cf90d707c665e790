#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "core/worker_pool.hpp"
#include "fit/jacobian.hpp"
#include "fit/lm_problem.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
namespace {

using Vec = std::vector<double>;

struct WeightCase {
    Complex z;
    double modulus_weight;
};

class Weights : public ::testing::TestWithParam<WeightCase> {};

TEST_P(Weights, ModulusIsTheFlooredHypotenuseAndUnitIsOne) {
    const std::vector<Complex> z{GetParam().z};
    EXPECT_EQ(compute_weights(z, true)[0], GetParam().modulus_weight);
    EXPECT_EQ(compute_weights(z, false)[0], 1.0);
}

INSTANTIATE_TEST_SUITE_P(Points, Weights,
                         ::testing::Values(WeightCase{{3.0, -4.0}, 5.0}, WeightCase{{0.0, 0.0}, 1e-30},
                                           WeightCase{{1e-31, 0.0}, 1e-30}, WeightCase{{NaN, 1.0}, 1e-30},
                                           WeightCase{{1.0, NaN}, 1e-30}, WeightCase{{3e300, 4e300}, 5e300},
                                           WeightCase{{-Inf, 1.0}, Inf}));

const SeriesList& rc_circuit() {
    static const SeriesList nodes = *parse("R0-(R1,C1)");
    return nodes;
}

TEST(Residuals, ModelMinusMeasuredOverWeightInterleaved) {
    const Vec params{1.0, 1.0, 1e-3};
    const Vec omega{1000.0, 10.0, 1.0};
    const std::vector<Complex> measured{{1.0, 0.25}, {0.0, 0.0}, {NaN, 1.0}};
    const Complex z10 = impedance_with_params(rc_circuit(), params, 10.0);
    const Complex z1 = impedance_with_params(rc_circuit(), params, 1.0);
    EvalCounter counter;
    // The model is 1.5 - 0.5j at omega = 1000.
    const Vec unit = residuals(rc_circuit(), params, omega, measured, compute_weights(measured, false), counter);
    EXPECT_EQ((Vec{unit[0], unit[1], unit[2], unit[3], unit[5]}), (Vec{0.5, -0.75, z10.re, z10.im, z1.im - 1.0}));
    EXPECT_TRUE(std::isnan(unit[4]));
    // Zero and NaN measurements get the floor weight 1e-30.
    const Vec relative = residuals(rc_circuit(), params, omega, measured, compute_weights(measured, true), counter);
    EXPECT_EQ(relative[0], 0.5 / std::hypot(1.0, 0.25));
    EXPECT_EQ(relative[2], z10.re / 1e-30);
    EXPECT_EQ(relative[3], z10.im / 1e-30);
    EXPECT_TRUE(std::isnan(relative[4]));
    EXPECT_EQ(relative[5], (z1.im - 1.0) / 1e-30);
    EXPECT_EQ(counter.value(), 2u);
}

TEST(Residuals, CounterRisesByOnePerCallFromEveryThread) {
    EvalCounter counter;
    const std::vector<Complex> measured{{1.0, 0.0}};
    constexpr std::size_t CALLS = 200;
    pool::parallel_map<int>(CALLS, [&](std::size_t) {
        residuals(rc_circuit(), Vec{1.0, 1.0, 1e-3}, Vec{1.0}, measured, Vec{1.0}, counter);
        return 0;
    });
    EXPECT_EQ(counter.value(), CALLS);
    EXPECT_TRUE(residuals(rc_circuit(), Vec{1.0, 1.0, 1e-3}, {}, {}, {}, counter).empty());
    EXPECT_EQ(counter.value(), CALLS + 1);
}

TEST(Cost, HalfThePlainSumOfSquares) {
    EXPECT_EQ(cost_of(Vec{}), 0.0);
    EXPECT_EQ(cost_of(Vec{3.0, -4.0}), 12.5);
    EXPECT_TRUE(std::isnan(cost_of(Vec{1.0, NaN})));
    EXPECT_EQ(cost_of(Vec{1e200, 1.0}), Inf);
}

const Bounds LOG_BOUNDS{{1e-12, Inf}};
const Bounds RANGE_BOUNDS{{0.0, 1.0}};

struct MappingCase {
    Bounds bounds;
    double p;
    double u;
};

class ToSolverSpace : public ::testing::TestWithParam<MappingCase> {};

TEST_P(ToSolverSpace, MapsAtAndBelowTheLowerBoundToTheFloor) {
    const MappingCase& c = GetParam();
    const double u = to_solver_space(Vec{c.p}, c.bounds)[0];
    if (std::isnan(c.u) || std::isinf(c.u)) {
        EXPECT_EQ(std::isnan(u), std::isnan(c.u));
        EXPECT_TRUE(std::isnan(u) || u == c.u);
    } else {
        EXPECT_NEAR(u, c.u, 1e-15);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToSolverSpace,
    ::testing::Values(MappingCase{LOG_BOUNDS, 1e-12 + 1.0, 0.0}, MappingCase{LOG_BOUNDS, 1e-12, -300.0},
                      MappingCase{LOG_BOUNDS, -5.0, -300.0}, MappingCase{LOG_BOUNDS, NaN, -300.0},
                      MappingCase{LOG_BOUNDS, 1e-12 + 1000.0, 3.0}, MappingCase{LOG_BOUNDS, Inf, Inf},
                      MappingCase{{{0.0, NaN}}, 100.0, 2.0}, MappingCase{RANGE_BOUNDS, 0.3, 0.3},
                      MappingCase{RANGE_BOUNDS, -7.0, -7.0}, MappingCase{RANGE_BOUNDS, NaN, NaN}));

TEST(Physical, InvertsTheMappingAndNeverFallsBelowTheLowerBound) {
    EXPECT_EQ(physical(Vec{-300.0, -Inf, 400.0}, Bounds(3, LOG_BOUNDS[0])), (Vec{1e-12, 1e-12, Inf}));
    EXPECT_EQ(physical(Vec{0.25, -3.0}, Bounds(2, RANGE_BOUNDS[0])), (Vec{0.25, -3.0}));
    for (const double p : {1e-9, 1.0, 47.5, 3.3e5}) {
        EXPECT_NEAR(physical(to_solver_space(Vec{p}, LOG_BOUNDS), LOG_BOUNDS)[0], p, 4e-15 * p);
    }
}

TEST(SolverSpace, MappingsAndClampRunOverTheShorterInput) {
    const Bounds b{{0.0, 1.0}, {0.0, 1.0}, {1e-12, Inf}, {0.0, 1.0}};
    EXPECT_EQ(to_solver_space(Vec{1.0, 0.5}, b).size(), 2u);
    EXPECT_EQ(physical(Vec{1.0, 0.5, 1.0, 1.0, 1.0}, b).size(), 4u);
    const Vec c = clamp_to_bounds(Vec{-0.5, 1.5, -2.0, NaN, 7.0}, b);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ((Vec{c[0], c[1], c[2]}), (Vec{0.0, 1.0, 1e-12}));
    EXPECT_TRUE(std::isnan(c[3]));
}

// The solver-space Jacobian: pass-through for range-bounded columns, the
// chain-rule factor for log-scaled ones, zero for fixed ones.
TEST(LmProblemJacobian, AppliesChainRuleAndFixedColumns) {
    const SeriesList nodes = *parse("R0-(R1,CPE1)");
    const Vec omega{0.1, 1.0, 10.0, 100.0};
    std::vector<Complex> measured;
    for (double w : omega) measured.push_back(impedance_with_params(nodes, Vec{11.0, 90.0, 2e-4, 0.75}, w));
    const Vec weights = compute_weights(measured, true);
    const Bounds bounds = param_bounds(nodes);
    const Vec u = to_solver_space(Vec{10.0, 100.0, 1e-4, 0.8}, bounds);
    const Vec p = physical(u, bounds);
    EvalCounter counter;
    const auto columns = jacobian_columns(nodes, p, omega, measured, weights, counter);
    for (const std::vector<bool>& fixed : {std::vector<bool>(4, false), std::vector<bool>{false, true, false, true}}) {
        LmProblem problem(nodes, omega, measured, weights, bounds, u, fixed, counter);
        // Column stride 9: the solver pads its rows; the padding is left alone.
        Vec j(9 * 4, 7.0);
        ASSERT_TRUE(problem.jacobian(j.data(), 9));
        for (std::size_t c = 0; c < 4; ++c) {
            const double factor = c == 3 ? 1.0 : (p[c] - bounds[c].first) * 2.302585092994046;
            for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(j[c * 9 + k], fixed[c] ? 0.0 : columns[c][k] * factor);
            EXPECT_EQ(j[c * 9 + 8], 7.0);
        }
        Vec r(8);
        ASSERT_TRUE(problem.residuals(r));
        EXPECT_EQ(r, residuals(nodes, p, omega, measured, weights, counter));
        Vec wrong(7);
        EXPECT_FALSE(problem.residuals(wrong));
    }
}

}  // namespace
}  // namespace vorlane
