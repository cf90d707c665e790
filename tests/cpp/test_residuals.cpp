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
#include "fit/residuals.hpp"

namespace vorlane {
namespace {

using Vec = std::vector<double>;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

struct WeightCase {
    Complex z;
    double modulus_weight;
};

class Weights : public ::testing::TestWithParam<WeightCase> {};

TEST_P(Weights, ModulusIsTheFlooredHypotenuseAndUnitIsOne) {
    const Complex z = GetParam().z;
    EXPECT_EQ(compute_weights(std::vector<Complex>{z}, true)[0], GetParam().modulus_weight);
    EXPECT_EQ(compute_weights(std::vector<Complex>{z}, false)[0], 1.0);
}

INSTANTIATE_TEST_SUITE_P(Points, Weights,
                         ::testing::Values(WeightCase{{3.0, -4.0}, 5.0}, WeightCase{{0.0, 0.0}, 1e-30},
                                           WeightCase{{1e-31, 0.0}, 1e-30}, WeightCase{{NaN, 1.0}, 1e-30},
                                           WeightCase{{1.0, NaN}, 1e-30}, WeightCase{{3e300, 4e300}, 5e300},
                                           WeightCase{{-INF, 1.0}, INF}));

TEST(Weights, EmptySpectrumGivesNoWeights) { EXPECT_TRUE(compute_weights({}, true).empty()); }

struct Spectrum {
    Vec omega;
    std::vector<Complex> measured;
};

const SeriesList& rc_circuit() {
    static const SeriesList nodes = *parse("R0-(R1,C1)");
    return nodes;
}

TEST(Residuals, ModelMinusMeasuredOverWeightInterleaved) {
    const Vec params{1.0, 1.0, 1e-3};
    const Vec omega{1000.0, 10.0};
    const std::vector<Complex> measured{{1.0, 0.25}, {0.0, 0.0}};
    EvalCounter counter;
    const Vec unit = residuals(rc_circuit(), params, omega, measured, compute_weights(measured, false), counter);
    ASSERT_EQ(unit.size(), 4u);
    // The model is 1.5 - 0.5j at omega = 1000.
    EXPECT_DOUBLE_EQ(unit[0], 0.5);
    EXPECT_DOUBLE_EQ(unit[1], -0.75);
    const Complex z10 = impedance_with_params(rc_circuit(), params, 10.0);
    EXPECT_EQ(unit[2], z10.re);
    EXPECT_EQ(unit[3], z10.im);

    // A measured zero gets the floor weight: the residual is the model times 1e30.
    const Vec relative = residuals(rc_circuit(), params, omega, measured, compute_weights(measured, true), counter);
    EXPECT_EQ(relative[2], z10.re / 1e-30);
    EXPECT_EQ(relative[3], z10.im / 1e-30);
    EXPECT_EQ(relative[0], 0.5 / std::hypot(1.0, 0.25));
    EXPECT_EQ(counter.value(), 2u);
}

TEST(Residuals, NaNMeasurementPoisonsOnlyItsPoint) {
    const std::vector<Complex> measured{{NaN, 1.0}, {1.0, 1.0}};
    EvalCounter counter;
    const Vec r = residuals(rc_circuit(), Vec{1.0, 1.0, 1e-3}, Vec{1.0, 2.0}, measured,
                            compute_weights(measured, true), counter);
    // Weight 1e-30 for the NaN point: its real part is NaN, its imaginary
    // part the huge but finite floor-weighted difference.
    EXPECT_TRUE(std::isnan(r[0]));
    EXPECT_EQ(r[1], (impedance_with_params(rc_circuit(), Vec{1.0, 1.0, 1e-3}, 1.0).im - 1.0) / 1e-30);
    EXPECT_TRUE(std::isfinite(r[2]));
    EXPECT_TRUE(std::isfinite(r[3]));
}

TEST(Residuals, ShortParameterVectorGivesNaNNotAnOutOfBoundsRead) {
    EvalCounter counter;
    const std::vector<Complex> measured{{1.0, 0.0}};
    const Vec r = residuals(rc_circuit(), Vec{1.0}, Vec{1.0}, measured, Vec{1.0}, counter);
    EXPECT_TRUE(std::isnan(r[0]) || std::isnan(r[1]));
}

TEST(Residuals, CounterRisesByOnePerCallFromEveryThread) {
    EvalCounter counter;
    const std::vector<Complex> measured{{1.0, 0.0}};
    const Vec params{1.0, 1.0, 1e-3};
    constexpr std::size_t CALLS = 200;
    pool::parallel_map<int>(CALLS, [&](std::size_t) {
        residuals(rc_circuit(), params, Vec{1.0}, measured, Vec{1.0}, counter);
        return 0;
    });
    EXPECT_EQ(counter.value(), CALLS);
}

TEST(Residuals, EmptySpectrumStillCounts) {
    EvalCounter counter;
    EXPECT_TRUE(residuals(rc_circuit(), Vec{1.0, 1.0, 1e-3}, {}, {}, {}, counter).empty());
    EXPECT_EQ(counter.value(), 1u);
}

TEST(Cost, HalfThePlainSumOfSquares) {
    EXPECT_EQ(cost_of(Vec{}), 0.0);
    EXPECT_EQ(cost_of(Vec{3.0, -4.0}), 12.5);
    EXPECT_TRUE(std::isnan(cost_of(Vec{1.0, NaN})));
    EXPECT_EQ(cost_of(Vec{1e200, 1.0}), INF);
}

const Bounds LOG_BOUNDS{{1e-12, INF}};
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
    if (std::isnan(c.u)) {
        EXPECT_TRUE(std::isnan(u));
    } else if (std::isinf(c.u)) {
        EXPECT_EQ(u, c.u);
    } else {
        EXPECT_NEAR(u, c.u, 1e-15);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToSolverSpace,
    ::testing::Values(MappingCase{LOG_BOUNDS, 1e-12 + 1.0, 0.0}, MappingCase{LOG_BOUNDS, 1e-12, -300.0},
                      MappingCase{LOG_BOUNDS, -5.0, -300.0}, MappingCase{LOG_BOUNDS, NaN, -300.0},
                      MappingCase{LOG_BOUNDS, 1e-12 + 1000.0, 3.0}, MappingCase{LOG_BOUNDS, INF, INF},
                      MappingCase{{{0.0, NaN}}, 100.0, 2.0}, MappingCase{RANGE_BOUNDS, 0.3, 0.3},
                      MappingCase{RANGE_BOUNDS, -7.0, -7.0}, MappingCase{RANGE_BOUNDS, NaN, NaN}));

TEST(Physical, InvertsTheMappingAndNeverFallsBelowTheLowerBound) {
    EXPECT_EQ(physical(Vec{-300.0}, LOG_BOUNDS)[0], 1e-12);
    EXPECT_EQ(physical(Vec{-INF}, LOG_BOUNDS)[0], 1e-12);
    EXPECT_EQ(physical(Vec{400.0}, LOG_BOUNDS)[0], INF);
    EXPECT_EQ(physical(Vec{0.25}, RANGE_BOUNDS)[0], 0.25);
    EXPECT_EQ(physical(Vec{-3.0}, RANGE_BOUNDS)[0], -3.0);
    for (const double p : {1e-9, 1.0, 47.5, 3.3e5}) {
        const double back = physical(to_solver_space(Vec{p}, LOG_BOUNDS), LOG_BOUNDS)[0];
        EXPECT_NEAR(back, p, 4e-16 * p * 10);
    }
}

TEST(SolverSpace, BothMappingsRunOverTheShorterInput) {
    const Bounds two{{1e-12, INF}, {0.0, 1.0}};
    EXPECT_EQ(to_solver_space(Vec{1.0, 0.5, 9.0}, two).size(), 2u);
    EXPECT_EQ(physical(Vec{1.0}, two).size(), 1u);
    EXPECT_EQ(clamp_to_bounds(Vec{1.0, 2.0, 3.0}, two).size(), 2u);
}

TEST(ClampToBounds, ForcesIntoTheRangeAndKeepsNaN) {
    const Bounds b{{0.0, 1.0}, {0.0, 1.0}, {1e-12, INF}, {0.0, 1.0}};
    const Vec c = clamp_to_bounds(Vec{-0.5, 1.5, -2.0, NaN}, b);
    EXPECT_EQ(c[0], 0.0);
    EXPECT_EQ(c[1], 1.0);
    EXPECT_EQ(c[2], 1e-12);
    EXPECT_TRUE(std::isnan(c[3]));
}

// The solver-space Jacobian: pass-through for range-bounded columns, the
// chain-rule factor for log-scaled ones, zero for fixed ones.
TEST(LmProblemJacobian, AppliesChainRuleAndFixedColumns) {
    const SeriesList nodes = *parse("R0-(R1,CPE1)");
    const Vec p{10.0, 100.0, 1e-4, 0.8};
    const Vec omega{0.1, 1.0, 10.0, 100.0};
    std::vector<Complex> measured;
    for (double w : omega) measured.push_back(impedance_with_params(nodes, Vec{11.0, 90.0, 2e-4, 0.75}, w));
    const Vec weights = compute_weights(measured, true);
    const Bounds bounds = param_bounds(nodes);
    const Vec u = to_solver_space(p, bounds);

    EvalCounter counter;
    const Vec physical_p = physical(u, bounds);
    const auto columns = jacobian_columns(nodes, physical_p, omega, measured, weights, counter);
    for (const std::vector<bool>& fixed : {std::vector<bool>(4, false), std::vector<bool>{false, true, false, true}}) {
        LmProblem problem(nodes, omega, measured, weights, bounds, u, fixed, counter);
        const Vec j = problem.jacobian();
        ASSERT_EQ(j.size(), 8u * 4u);
        for (std::size_t c = 0; c < 4; ++c) {
            const double factor = c == 3 ? 1.0 : (physical_p[c] - bounds[c].first) * 2.302585092994046;
            for (std::size_t k = 0; k < 8; ++k) {
                const double expected = fixed[c] ? 0.0 : columns[c][k] * factor;
                EXPECT_EQ(j[c * 8 + k], expected) << c << " " << k;
            }
        }
        EXPECT_EQ(problem.residuals(), residuals(nodes, physical_p, omega, measured, weights, counter));
    }
}

}  // namespace
}  // namespace vorlane
