#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
namespace {

using Vec = std::vector<double>;

struct SyntheticSpectrum {
    Vec frequencies;
    std::vector<Complex> impedances;
};

SyntheticSpectrum synthetic(const SeriesList& nodes, const Vec& truth, std::size_t n = 40) {
    SyntheticSpectrum s;
    for (std::size_t i = 0; i < n; ++i) {
        s.frequencies.push_back(std::pow(10.0, -2.0 + 7.0 * static_cast<double>(i) / static_cast<double>(n - 1)));
        s.impedances.push_back(impedance_with_params(nodes, truth, s.frequencies.back() * TWO_PI));
    }
    return s;
}

FitResultOr fit(const SeriesList& nodes, const SyntheticSpectrum& s, const LmOptions& options = {}) {
    return levenberg_marquardt_fit(nodes, s.frequencies, s.impedances, true, options);
}

struct RecoveryCase {
    std::string name;
    std::string circuit;
    Vec truth;
    Vec start;
};

class Recovery : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(Recovery, FindsTheGeneratingParametersFromAPerturbedStart) {
    const RecoveryCase& c = GetParam();
    const SeriesList shape = *parse(c.circuit);
    const SyntheticSpectrum s = synthetic(shape, c.truth);
    const auto outcome = fit(rebuild_with_values(shape, c.start), s);
    ASSERT_TRUE(outcome) << outcome.error().message();
    EXPECT_TRUE(outcome->success);
    EXPECT_LT(outcome->cost, 1e-16);
    EXPECT_EQ(outcome->chi_square, 2 * outcome->cost);
    for (std::size_t i = 0; i < c.truth.size(); ++i) {
        EXPECT_NEAR(outcome->params[i], c.truth[i], 1e-6 * c.truth[i]) << outcome->names[i];
    }
    EXPECT_EQ(param_values(outcome->circuit), outcome->params);
    EXPECT_EQ(outcome->names, param_names(shape));
}

INSTANTIATE_TEST_SUITE_P(
    Circuits, Recovery,
    ::testing::Values(RecoveryCase{"RC", "R0-(R1,C1)", {10.0, 100.0, 1e-5}, {3.0, 700.0, 1e-3}},
                      RecoveryCase{"RCpe", "R0-(R1,CPE1)", {10.0, 100.0, 1e-5, 0.85}, {20.0, 50.0, 1e-4, 0.5}},
                      RecoveryCase{"TwoArcsWithWarburg",
                                   "R0-(R1,CPE1)-(R2-Wo2,CPE2)",
                                   {10.0, 50.0, 1e-5, 0.85, 100.0, 200.0, 5.0, 1e-3, 0.7},
                                   {15.0, 30.0, 3e-5, 0.8, 150.0, 100.0, 3.0, 5e-4, 0.75}}),
    [](const auto& info) { return info.param.name; });

TEST(LevenbergMarquardtFit, IdenticalInputsGiveBitIdenticalOutcomes) {
    const SeriesList shape = *parse("R0-(R1,CPE1)-(R2-Wo2,CPE2)");
    SyntheticSpectrum s = synthetic(shape, {10.0, 50.0, 1e-5, 0.85, 100.0, 200.0, 5.0, 1e-3, 0.7});
    const SeriesList start = rebuild_with_values(shape, Vec{15.0, 30.0, 3e-5, 0.8, 150.0, 100.0, 3.0, 5e-4, 0.75});
    const auto a = fit(start, s);
    const auto b = fit(start, s);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->params, b->params);
    EXPECT_EQ(a->stderr_, b->stderr_);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a->cost), std::bit_cast<std::uint64_t>(b->cost));
    EXPECT_EQ(a->iterations, b->iterations);
    EXPECT_EQ(a->impedance_evals, b->impedance_evals);
    EXPECT_TRUE(a->stderr_.has_value());
}

TEST(LevenbergMarquardtFit, ExponentConvergingOntoItsBoundIsHeldThereByTheRefit) {
    // A constant-phase element with alpha = 1 is a capacitor: the fit runs
    // alpha onto (or past) its upper bound, the refit holds it at 1. The
    // rounding of the data puts the optimum a few parts in 10^15 to either
    // side of the bound: inside it the run ends there; never past it.
    const SeriesList shape = *parse("R0-(R1,CPE1)");
    const Vec truth{10.0, 100.0, 1e-5, 1.0};
    const auto outcome = fit(rebuild_with_values(shape, Vec{12.0, 80.0, 2e-5, 0.9}), synthetic(shape, truth));
    ASSERT_TRUE(outcome);
    EXPECT_LE(outcome->params[3], 1.0);
    EXPECT_GE(outcome->params[3], 1.0 - 1e-12);
    EXPECT_TRUE(outcome->success);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(outcome->params[i], truth[i], 1e-6 * truth[i]);
}

TEST(LevenbergMarquardtFit, FewerResidualsThanParametersStillFits) {
    const SeriesList shape = *parse("R0-(R1,CPE1)");
    const SyntheticSpectrum s = synthetic(shape, {10.0, 100.0, 1e-5, 0.8}, 1);
    const auto outcome = fit(shape, s);
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->stderr_.has_value());
    EXPECT_EQ(outcome->params.size(), 4u);
}

class HostileSpectrum : public ::testing::TestWithParam<SyntheticSpectrum> {};

TEST_P(HostileSpectrum, EndsWithAnOutcomeAndParametersWithinBounds) {
    const SeriesList shape = *parse("R0-(R1,CPE1)");
    const auto outcome = fit(shape, GetParam());
    ASSERT_TRUE(outcome);
    const Bounds bounds = param_bounds(shape);
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const double p = outcome->params[i];
        EXPECT_TRUE(std::isnan(p) || (p >= bounds[i].first && p <= bounds[i].second)) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, HostileSpectrum,
    ::testing::Values(SyntheticSpectrum{{1.0, 10.0}, {{NaN, 1.0}, {1.0, -1.0}}}, SyntheticSpectrum{{NaN, 10.0}, {{1.0, 1.0}, {1.0, -1.0}}},
                      SyntheticSpectrum{{Inf, 0.0}, {{1.0, 1.0}, {1.0, -1.0}}}, SyntheticSpectrum{{-5.0, 1e300}, {{0.0, 0.0}, {Inf, 1.0}}},
                      SyntheticSpectrum{{1.0, 2.0}, {{1e300, -1e300}, {1e-300, 0.0}}}));

TEST(LevenbergMarquardtFit, InputChecksInOrder) {
    const SeriesList rc = *parse("R0-(R1,C1)");
    const SeriesList empty;
    const std::vector<Complex> one{{1.0, 0.0}};
    EXPECT_EQ(levenberg_marquardt_fit(empty, Vec{}, one, true, {}).error().kind, FitError::Kind::LengthMismatch);
    EXPECT_EQ(levenberg_marquardt_fit(empty, Vec{}, {}, true, {}).error().kind, FitError::Kind::NoPoints);
    EXPECT_EQ(levenberg_marquardt_fit(empty, Vec{1.0}, one, true, {}).error().kind, FitError::Kind::NoParameters);
    EXPECT_EQ(levenberg_marquardt_fit(rc, Vec{1.0, 2.0}, one, true, {}).error().kind, FitError::Kind::LengthMismatch);
}

TEST(LevenbergMarquardtFit, NegativeToleranceIsASolverError) {
    const SeriesList shape = *parse("R0-(R1,C1)");
    const SyntheticSpectrum s = synthetic(shape, {10.0, 100.0, 1e-5});
    const auto ftol = fit(shape, s, LmOptions{-0.0, -1.0, 1e-8, 200});
    ASSERT_FALSE(ftol);
    EXPECT_EQ(ftol.error().kind, FitError::Kind::Solver);
    EXPECT_EQ(ftol.error().message(), "solver error: ftol must be >= 0");
    const auto xtol = fit(shape, s, LmOptions{1e-8, -0.0, 1e-8, 200});
    ASSERT_FALSE(xtol);
    EXPECT_EQ(xtol.error().message(), "solver error: xtol must be >= 0");
}

TEST(LevenbergMarquardtFit, TriesTheCheapestCandidateFirstAndKeepsItsCleanRun) {
    const SeriesList shape = *parse("R0-(R1,C1)");
    const SyntheticSpectrum s = synthetic(shape, {10.0, 100.0, 1e-5});
    const SeriesList start = rebuild_with_values(shape, Vec{3.0, 700.0, 1e-3});
    Vec omega;
    for (const double f : s.frequencies) omega.push_back(f * TWO_PI);
    const Vec weights = compute_weights(s.impedances, true);
    const Bounds bounds = param_bounds(start);
    const auto candidates = candidate_starting_points(param_values(start), bounds);
    EvalCounter counter;
    std::size_t cheapest = 0;
    double lowest = Inf;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const double c = cost_of(residuals(start, candidates[i], omega, s.impedances, weights, counter));
        if (c < lowest) {
            lowest = c;
            cheapest = i;
        }
    }
    ASSERT_NE(cheapest, 0u);
    const auto run = levenberg_marquardt_single_start(start, omega, s.impedances, weights, bounds,
                                                      to_solver_space(candidates[cheapest], bounds),
                                                      std::vector<bool>(3, false), LmOptions{}, counter);
    ASSERT_TRUE(run);
    ASSERT_TRUE(is_clean_solution(run->params, cost_of(residuals(start, run->params, omega, s.impedances, weights,
                                                                 counter)),
                                  run->success, bounds, param_values(start)));
    const auto outcome = fit(start, s);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->params, run->params);
    EXPECT_EQ(outcome->iterations, run->evaluations);
}

// Three arcs fitted to one: the lost arcs leave every run unclean, so the
// default multi-start runs all nine candidates, four of them copies of x0.
TEST(LevenbergMarquardtFit, MultiStartPolicies) {
    const SeriesList one_arc = *parse("R0-(R1,C1)");
    const SyntheticSpectrum s = synthetic(one_arc, {10.0, 100.0, 1e-5});
    const SeriesList start = rebuild_with_values(*parse("R0-(R1,C1)-(R2,C2)-(R3,C3)"),
                                                 Vec{5.0, 50.0, 1e-4, 20.0, 1e-6, 20.0, 1e-3});
    auto run = [&](MultiStartPolicy policy) {
        auto outcome = levenberg_marquardt_fit(start, s.frequencies, s.impedances, true, LmOptions{}, policy);
        EXPECT_TRUE(outcome) << outcome.error().message();
        return *outcome;
    };
    const FitOutcome all = run({});
    const FitOutcome unrepeated = run({.skip_repeated = true, .stop_at_converged = false});
    ASSERT_EQ(unrepeated.params.size(), all.params.size());
    for (std::size_t i = 0; i < all.params.size(); ++i) EXPECT_TRUE(test::same_bits(unrepeated.params[i], all.params[i]));
    EXPECT_TRUE(test::same_bits(unrepeated.cost, all.cost));
    EXPECT_LT(unrepeated.impedance_evals, all.impedance_evals);
    const FitOutcome first_converged = run({.skip_repeated = true, .stop_at_converged = true});
    EXPECT_TRUE(std::isfinite(first_converged.cost));
    EXPECT_LE(first_converged.impedance_evals, unrepeated.impedance_evals);
}

TEST(CandidateStartingPoints, ScaleLogParametersAndSpreadRangeParameters) {
    const Vec x0{10.0, 0.8, 1e-4};
    const Bounds bounds{{1e-12, Inf}, {0.0, 1.0}, {1e-12, NaN}};
    const auto c = candidate_starting_points(x0, bounds);
    ASSERT_EQ(c.size(), 9u);
    EXPECT_EQ(c[0], x0);
    const Vec factors{3.0, 0.3333333333333333, 8.0, 0.125};
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(c[1 + k], (Vec{10.0 * factors[k], 0.8, 1e-4 * factors[k]}));
    const Vec fractions{0.2, 0.4, 0.6, 0.8};
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(c[5 + k], (Vec{10.0, fractions[k], 1e-4}));
}

TEST(CandidateStartingPoints, AllRangeBoundedKeepsTheScaledCandidatesAtX0) {
    const Vec x0{0.3, 5.0};
    const auto c = candidate_starting_points(x0, Bounds{{0.0, 1.0}, {2.0, 12.0}});
    ASSERT_EQ(c.size(), 9u);
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(c[k], x0);
    EXPECT_EQ(c[5], (Vec{0.2, 4.0}));
    EXPECT_EQ(c[8], (Vec{0.8, 10.0}));
}

// The clean-up settles a parameter at an end of its range; the test then
// judges the others only.
TEST(CleanSolution, SettledParametersArePassedOver) {
    const Bounds bounds{{1e-12, Inf}, {0.0, 1.0}};
    const Vec x0{100.0, 0.5};
    EXPECT_FALSE(is_clean_solution(Vec{50.0, 1.0}, 1.0, true, bounds, x0));
    EXPECT_TRUE(is_clean_solution(Vec{50.0, 1.0}, 1.0, true, bounds, x0, {false, true}));
    EXPECT_FALSE(is_clean_solution(Vec{1e9, 1.0}, 1.0, true, bounds, x0, {false, true}));
}

struct CleanCase {
    std::string name;
    Vec params;
    double cost;
    bool success;
    bool clean;
};

class CleanSolution : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanSolution, Classifies) {
    // One log-scaled resistance started at 100, one exponent in (0, 1).
    const Bounds bounds{{1e-12, Inf}, {0.0, 1.0}};
    const CleanCase& c = GetParam();
    EXPECT_EQ(is_clean_solution(c.params, c.cost, c.success, bounds, Vec{100.0, 0.5}), c.clean);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanSolution,
    ::testing::Values(CleanCase{"Inside", {50.0, 0.5}, 1.0, true, true},
                      CleanCase{"Failed", {50.0, 0.5}, 1.0, false, false},
                      CleanCase{"NaNCost", {50.0, 0.5}, NaN, true, false},
                      CleanCase{"InfiniteCost", {50.0, 0.5}, Inf, true, false},
                      CleanCase{"AtUpperEnd", {50.0, 1.0}, 1.0, true, false},
                      CleanCase{"WithinAMillionthOfUpperEnd", {50.0, 1.0 - 5e-7}, 1.0, true, false},
                      CleanCase{"NearUpperEnd", {50.0, 1.0 - 2e-6}, 1.0, true, true},
                      CleanCase{"AtLowerEnd", {50.0, 1e-6}, 1.0, true, false},
                      // Only the distance to the ends counts; a value past an end is left to
                      // the bound clean-up that follows the runs.
                      CleanCase{"BeyondUpperEnd", {50.0, 1.5}, 1.0, true, false},
                      CleanCase{"BelowLowerEnd", {50.0, -0.5}, 1.0, true, false},
                      CleanCase{"NaNExponent", {50.0, NaN}, 1.0, true, false},
                      CleanCase{"NearLowerBound", {1e-10, 0.5}, 1.0, true, false},
                      CleanCase{"MillionTimesLarger", {1e8, 0.5}, 1.0, true, false},
                      CleanCase{"JustUnderAMillion", {9.99e7, 0.5}, 1.0, true, true},
                      CleanCase{"MillionTimesSmaller", {1e-4, 0.5}, 1.0, true, true},
                      CleanCase{"MoreThanAMillionSmaller", {9.9e-5, 0.5}, 1.0, true, false},
                      CleanCase{"NaNResistance", {NaN, 0.5}, 1.0, true, false}),
    [](const auto& info) { return info.param.name; });

TEST(CleanSolution, ZeroStartValueCountsAsTheFloor) {
    const Bounds bounds{{1e-12, Inf}};
    EXPECT_FALSE(is_clean_solution(Vec{50.0}, 0.0, true, bounds, Vec{0.0}));
    EXPECT_FALSE(is_clean_solution(Vec{50.0}, 0.0, true, bounds, Vec{NaN}));
}

}  // namespace
}  // namespace vorlane
