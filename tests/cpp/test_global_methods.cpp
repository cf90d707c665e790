#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/differential_evolution.hpp"
#include "fit/global_methods.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "fit/nelder_mead.hpp"
#include "fit/particle_swarm.hpp"
#include "fit/simulated_annealing.hpp"
#include "bit_compare.hpp"

namespace vorlane {
namespace {
using test::NaN;
using test::Inf;

constexpr LmOptions LOCAL_FIT{1e-8, 1e-8, 1e-8, 200};

SeriesList circuit(const char* text, const std::vector<double>& values) {
    return rebuild_with_values(*parse(text), values);
}

std::vector<double> log_frequencies(double from, double to, int count) {
    std::vector<double> f(count);
    for (int i = 0; i < count; ++i) f[i] = std::pow(10.0, from + (to - from) * i / (count - 1));
    return f;
}

// Two separated R||C arcs; from the start below the least-squares fit ends
// in a one-arc local minimum (cost about 4.8) far from the exact optimum.
struct TwoArcCase {
    const char* text = "R0-(R1,C1)-(R2,C2)";
    std::vector<double> truth{10, 50, 1e-5, 200, 1e-3};
    std::vector<double> bad_start{273, 2.49, 7.63e-4, 1.24, 1.52e-4};
    std::vector<double> frequencies = log_frequencies(5, -2, 40);
    std::vector<Complex> measured = spectrum_impedance(circuit(text, truth), frequencies);
    SeriesList start = circuit(text, bad_start);
    SpectrumRef spectrum() const { return SpectrumRef{frequencies, measured, true}; }
};

void expect_identical(const FitResultOr& a, const FitResultOr& b) {
    ASSERT_TRUE(a.has_value());
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(a->params, b->params);
    EXPECT_EQ(a->iterations, b->iterations);
    EXPECT_EQ(a->impedance_evals, b->impedance_evals);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a->cost), std::bit_cast<std::uint64_t>(b->cost));
}

std::string error_message(const FitResultOr& result) {
    return result.has_value() ? "(no error)" : result.error().message();
}

using Method = std::function<FitResultOr(const SeriesList&, const SpectrumRef&)>;

struct NamedMethod {
    std::string name;
    Method run;
};

std::vector<NamedMethod> methods_with_budgets() {
    return {
        {"nelder_mead", [](auto& n, auto& s) { return nelder_mead_fit(n, s, 2000); }},
        {"particle_swarm", [](auto& n, auto& s) { return particle_swarm_fit(n, s, 60, 150, 2); }},
        {"differential_evolution", [](auto& n, auto& s) { return differential_evolution_fit(n, s, 2000); }},
        {"simulated_annealing", [](auto& n, auto& s) { return simulated_annealing_fit(n, s, 2000, 2.0, 0); }},
        {"basin_hopping", [](auto& n, auto& s) { return basin_hopping_fit(n, s, 20, 1.0, 1.0, 0); }},
    };
}

std::string method_name(const ::testing::TestParamInfo<NamedMethod>& info) { return info.param.name; }

class GlobalMethod : public ::testing::TestWithParam<NamedMethod> {};

TEST_P(GlobalMethod, ReachesTheOptimumWhereTheDefaultMethodStopsShort) {
    const TwoArcCase c;
    const FitResultOr local = levenberg_marquardt_fit(c.start, c.frequencies, c.measured, true, LmOptions{});
    ASSERT_TRUE(local.has_value());
    ASSERT_GT(local->cost, 1.0);
    const FitResultOr global = GetParam().run(c.start, c.spectrum());
    ASSERT_TRUE(global.has_value()) << error_message(global);
    if (GetParam().name == "nelder_mead") {
        // The simplex walk searches near its start only: it ends at the
        // optimum, or on about one in eight of the paths rounding can give
        // it in a second minimum (cost 3.96), never where the least-squares
        // fit stops (4.83).
        EXPECT_LT(global->cost, 0.9 * local->cost);
        return;
    }
    // Rounding leaves about 1e-29 at the optimum; a missed arc costs over 3.
    EXPECT_LT(global->cost, 1e-20);
    // The two arcs may come out in either order.
    std::vector<double> p = global->params;
    if (p[1] > p[3]) {
        std::swap(p[1], p[3]);
        std::swap(p[2], p[4]);
    }
    for (std::size_t i = 0; i < c.truth.size(); ++i) EXPECT_NEAR(p[i] / c.truth[i], 1.0, 1e-6) << i;
}

// Every method runs the three input checks first, in order.
TEST_P(GlobalMethod, InputChecksComeFirstAndInOrder) {
    const TwoArcCase c;
    const std::vector<double> two_frequencies{1.0, 2.0};
    const std::vector<Complex> one_impedance{{1.0, 0.0}};
    const std::vector<Complex> two_impedances{{1.0, 0.0}, {2.0, 0.0}};
    const auto run = GetParam().run;
    EXPECT_EQ(run(c.start, SpectrumRef{two_frequencies, one_impedance, true}).error().kind,
              FitError::Kind::LengthMismatch);
    // An empty spectrum with a parameterless circuit reports the empty spectrum.
    EXPECT_EQ(run(SeriesList{}, SpectrumRef{{}, {}, true}).error().kind, FitError::Kind::NoPoints);
    EXPECT_EQ(run(SeriesList{}, SpectrumRef{two_frequencies, two_impedances, true}).error().kind,
              FitError::Kind::NoParameters);
}

INSTANTIATE_TEST_SUITE_P(All, GlobalMethod, ::testing::ValuesIn(methods_with_budgets()), method_name);

class SeededMethod : public ::testing::TestWithParam<NamedMethod> {};

TEST_P(SeededMethod, SameSeedRepeatsBitForBit) {
    const TwoArcCase c;
    const FitResultOr first = GetParam().run(c.start, c.spectrum());
    expect_identical(first, GetParam().run(c.start, c.spectrum()));
}

INSTANTIATE_TEST_SUITE_P(
    Seeded, SeededMethod,
    ::testing::Values(
        NamedMethod{"particle_swarm", [](auto& n, auto& s) { return particle_swarm_fit(n, s, 20, 30, 11); }},
        NamedMethod{"simulated_annealing",
                    [](auto& n, auto& s) { return simulated_annealing_fit(n, s, 300, 2.0, 11); }},
        NamedMethod{"basin_hopping", [](auto& n, auto& s) { return basin_hopping_fit(n, s, 4, 1.0, 1.0, 11); }}),
    method_name);

TEST(SeededMethods, DifferentSeedsGiveDifferentSearches) {
    const TwoArcCase c;
    const PsoProblem problem(c.start, c.spectrum());
    const SearchBox box = pso_search_box(problem.bounds(), problem.start());
    ChaChaRng a = ChaChaRng::from_seed(1), b = ChaChaRng::from_seed(2);
    EXPECT_NE(particle_swarm_search(problem, box, 10, 5, a).best, particle_swarm_search(problem, box, 10, 5, b).best);
    ChaChaRng m1 = ChaChaRng::from_seed(1), a1 = ChaChaRng::from_seed(2);
    ChaChaRng m2 = ChaChaRng::from_seed(2), a2 = ChaChaRng::from_seed(1);
    EXPECT_NE(anneal(problem, 50, 2.0, m1, a1).best, anneal(problem, 50, 2.0, m2, a2).best);
}

// The fit is the polish of the search it runs: the move stream is the
// generator of seed s, the acceptance stream that of s + 1 (wrapping).
class AnnealingSeeds : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(AnnealingSeeds, MoveAndAcceptanceStreamsComeFromSeedAndSuccessor) {
    const TwoArcCase c;
    const std::uint64_t seed = GetParam();
    const FitResultOr fit = simulated_annealing_fit(c.start, c.spectrum(), 200, 2.0, seed);
    const PsoProblem problem(c.start, c.spectrum());
    ChaChaRng moves = ChaChaRng::from_seed(seed);
    ChaChaRng acceptance = ChaChaRng::from_seed(seed == UINT64_MAX ? 0 : seed + 1);
    const SearchResult search = anneal(problem, 200, 2.0, moves, acceptance);
    EXPECT_EQ(problem.counter().value(), 201u);
    expect_identical(fit, problem.polish(search.best, search.iterations));
}

INSTANTIATE_TEST_SUITE_P(Seeds, AnnealingSeeds, ::testing::Values(0u, 12345u, UINT64_MAX));

// Evaluations: the search's own, 1 + 2P for the global outcome, and every
// evaluation of the least-squares polish.
TEST(ParticleSwarm, FitIsThePolishOfItsSearchAndCountsEveryEvaluation) {
    const TwoArcCase c;
    for (const auto& [particles, generations] : {std::pair<int, int>{7, 0}, {7, 3}, {1, 5}}) {
        const FitResultOr fit = particle_swarm_fit(c.start, c.spectrum(), particles, generations, 3);
        const PsoProblem problem(c.start, c.spectrum());
        const SearchBox box = pso_search_box(problem.bounds(), problem.start());
        ChaChaRng rng = ChaChaRng::from_seed(3);
        const SearchResult search = particle_swarm_search(problem, box, particles, generations, rng);
        const std::uint64_t search_evals = static_cast<std::uint64_t>(particles) * (generations + 1);
        EXPECT_EQ(problem.counter().value(), search_evals);
        EXPECT_EQ(search.iterations, static_cast<std::uint64_t>(generations));
        for (std::size_t i = 0; i < search.best.size(); ++i) {
            EXPECT_GE(search.best[i], box.lower[i]);
            EXPECT_LE(search.best[i], box.upper[i]);
        }
        const FitResultOr polish = levenberg_marquardt_fit(
            rebuild_with_values(c.start, physical(search.best, problem.bounds())), c.frequencies, c.measured, true,
            LOCAL_FIT);
        ASSERT_TRUE(fit.has_value() && polish.has_value());
        EXPECT_EQ(fit->impedance_evals, search_evals + 1 + 2 * 5 + polish->impedance_evals);
        expect_identical(fit, problem.polish(search.best, search.iterations));
    }
}

class AnnealingSteps : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(AnnealingSteps, EvaluatesTheStartAndOncePerStep) {
    const TwoArcCase c;
    const PsoProblem problem(c.start, c.spectrum());
    ChaChaRng moves = ChaChaRng::from_seed(1), acceptance = ChaChaRng::from_seed(2);
    const SearchResult search = anneal(problem, GetParam(), 2.0, moves, acceptance);
    EXPECT_EQ(problem.counter().value(), GetParam() + 1);
    EXPECT_EQ(search.iterations, GetParam());
    if (GetParam() == 0) {
        EXPECT_EQ(search.best, problem.start_solver());
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, AnnealingSteps, ::testing::Values(0u, 1u, 50u));

class EvolutionBudget : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(EvolutionBudget, TenRunsOfAtLeastOneEvaluationAndTenRechecks) {
    const TwoArcCase c;
    const PsoProblem problem(c.start, c.spectrum());
    const auto box = single_precision_box(pso_search_box(problem.bounds(), problem.start()), c.start);
    ASSERT_TRUE(box.has_value());
    const auto search = differential_evolution_search(problem, *box, GetParam());
    ASSERT_TRUE(search.has_value());
    const std::uint64_t per_run = std::max<std::uint64_t>(GetParam(), 1);
    EXPECT_EQ(search->iterations, 10 * per_run);
    EXPECT_EQ(problem.counter().value(), 10 * per_run + 10);
    ASSERT_EQ(search->best.size(), 5u);
    for (std::size_t d = 0; d < 5; ++d) {  // initial individuals lie in the box
        EXPECT_GE(search->best[d], box->min[d]);
        EXPECT_LE(search->best[d], box->max[d]);
    }
}

INSTANTIATE_TEST_SUITE_P(Budgets, EvolutionBudget, ::testing::Values(0u, 1u, 100u));

TEST(NelderMead, ZeroIterationsEvaluateOnlyTheInitialSimplex) {
    const TwoArcCase c;
    const PsoProblem problem(c.start, c.spectrum());
    const auto search = nelder_mead_search(problem, 0);
    ASSERT_TRUE(search.has_value());
    EXPECT_EQ(problem.counter().value(), 6u);
    EXPECT_EQ(search->iterations, 0u);
    const auto vertices = nelder_mead_initial_simplex(problem.start_solver());
    EXPECT_NE(std::find(vertices.begin(), vertices.end(), search->best), vertices.end());
}

struct SimplexStep {
    double y0;
    double vertex;
};

class NelderMeadStep : public ::testing::TestWithParam<SimplexStep> {};

TEST_P(NelderMeadStep, RelativeStepAboveTheThresholdAbsoluteBelow) {
    const double y0 = GetParam().y0;
    const auto vertices = nelder_mead_initial_simplex(std::vector<double>{7.0, y0});
    ASSERT_EQ(vertices.size(), 3u);
    auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    EXPECT_TRUE(same(vertices[0][0], 7.0) && same(vertices[0][1], y0));
    EXPECT_TRUE(same(vertices[1][0], 7.0 + 0.7) && same(vertices[1][1], y0));
    EXPECT_TRUE(same(vertices[2][0], 7.0) && same(vertices[2][1], GetParam().vertex)) << vertices[2][1];
}

INSTANTIATE_TEST_SUITE_P(Starts, NelderMeadStep,
                         ::testing::Values(SimplexStep{-300.0, -270.0}, SimplexStep{0.0, 0.1},
                                           SimplexStep{1e-8, 1e-8 + 0.1}, SimplexStep{2e-8, 2e-8 + 0.1 * 2e-8},
                                           SimplexStep{-2.0, -2.0 + 0.2}, SimplexStep{NaN, NaN}));

TEST(BasinHopping, ZeroHopsRestateTheLocalFitWithFreshStatistics) {
    const TwoArcCase c;
    const FitResultOr hop = basin_hopping_fit(c.start, c.spectrum(), 0, 1.0, 1.0, 4);
    const FitResultOr local = levenberg_marquardt_fit(c.start, c.frequencies, c.measured, true, LOCAL_FIT);
    ASSERT_TRUE(hop.has_value() && local.has_value());
    EXPECT_EQ(hop->params, local->params);
    EXPECT_EQ(hop->iterations, local->iterations);
    EXPECT_EQ(hop->cost, local->cost);
    EXPECT_TRUE(hop->success);
    EXPECT_EQ(hop->impedance_evals, 1u + 2 * 5);
}

TEST(BasinHopping, ReportsOnlyTheFinalStatisticsEvaluations) {
    const TwoArcCase c;
    const FitResultOr hop = basin_hopping_fit(c.start, c.spectrum(), 3, 0.5, 1.0, 4);
    ASSERT_TRUE(hop.has_value());
    EXPECT_EQ(hop->impedance_evals, 1u + 2 * 5);
    EXPECT_TRUE(hop->success);
}

struct BoxCase {
    std::pair<double, double> bounds;
    double start;
    double lower;
    double upper;
};

class SearchBoxRange : public ::testing::TestWithParam<BoxCase> {};

TEST_P(SearchBoxRange, LinearForBoundedFourDecadesEitherSideForUnbounded) {
    const BoxCase& b = GetParam();
    const SearchBox box = pso_search_box(Bounds{b.bounds}, std::vector<double>{b.start});
    EXPECT_DOUBLE_EQ(box.lower.at(0), b.lower);
    EXPECT_DOUBLE_EQ(box.upper.at(0), b.upper);
}

INSTANTIATE_TEST_SUITE_P(Ranges, SearchBoxRange,
                         ::testing::Values(BoxCase{{0.0, 1.0}, 0.3, 0.0, 1.0}, BoxCase{{0.0, Inf}, 100.0, -2.0, 6.0},
                                           BoxCase{{0.0, Inf}, -100.0, -2.0, 6.0},
                                           BoxCase{{0.0, Inf}, 0.0, -10.0, -2.0},
                                           BoxCase{{0.0, NaN}, NaN, -10.0, -2.0},
                                           BoxCase{{1e9, Inf}, 1.0, -300.0, -300.0},
                                           BoxCase{{5.0, Inf}, 1.0, -300.0, std::log10(1e4 - 5.0)}));

struct Refusal {
    std::string name;
    Method run;
    std::string message;
};

class RefusedInput : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedInput, IsASolverErrorWithAPreciseText) {
    const TwoArcCase c;
    const FitResultOr result = GetParam().run(c.start, c.spectrum());
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, FitError::Kind::Solver);
    EXPECT_EQ(result.error().message(), "solver error: " + GetParam().message);
}

const std::string TEMPERATURE_POSITIVE =
    "Invalid parameter: \"`SimulatedAnnealing`: Initial temperature must be > 0.\"";
const std::string TEMPERATURE_FINITE =
    "Invalid parameter: \"`SimulatedAnnealing`: Initial temperature must be finite.\"";

Method annealing_at(double t0) {
    return [t0](auto& n, auto& s) { return simulated_annealing_fit(n, s, 10, t0, 1); };
}

Method hopping_with_step(double step) {
    return [step](auto& n, auto& s) { return basin_hopping_fit(n, s, 1, step, 1.0, 1); };
}

// The two-arc start with R0 replaced.
SeriesList with_r0(double r0) {
    const TwoArcCase c;
    std::vector<double> values = c.bad_start;
    values[0] = r0;
    return circuit(c.text, values);
}

Method swarm_from_r0(double r0) {
    return [r0](auto&, auto& s) { return particle_swarm_fit(with_r0(r0), s, 5, 1, 1); };
}

Method evolution_from_r0(double r0) {
    return [r0](auto&, auto& s) { return differential_evolution_fit(with_r0(r0), s, 1); };
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RefusedInput,
    ::testing::Values(
        Refusal{"empty_swarm", [](auto& n, auto& s) { return particle_swarm_fit(n, s, 0, 10, 1); },
                "num_particles must be at least 1"},
        Refusal{"huge_swarm", [](auto& n, auto& s) { return particle_swarm_fit(n, s, UINT64_MAX, 10, 1); },
                "num_particles is too large: 18446744073709551615 particles of 5 parameters exceed 4194304 "
                "swarm coordinates"},
        Refusal{"swarm_infinite_start", swarm_from_r0(Inf),
                "cannot search parameter \"R0.r\" starting at inf: its search range is not finite"},
        Refusal{"swarm_huge_start", swarm_from_r0(1e305),
                "cannot search parameter \"R0.r\" starting at 1e305: its search range is not finite"},
        Refusal{"evolution_infinite_start", evolution_from_r0(Inf),
                "cannot search parameter \"R0.r\" starting at inf: its search range is not finite"},
        Refusal{"zero_temperature", annealing_at(0.0), TEMPERATURE_POSITIVE},
        Refusal{"negative_temperature", annealing_at(-1.0), TEMPERATURE_POSITIVE},
        Refusal{"minus_infinite_temperature", annealing_at(-Inf), TEMPERATURE_POSITIVE},
        Refusal{"nan_temperature", annealing_at(NaN), TEMPERATURE_FINITE},
        Refusal{"infinite_temperature", annealing_at(Inf), TEMPERATURE_FINITE},
        Refusal{"negative_step", hopping_with_step(-1.0),
                "basin_hopping_step_size must be a finite number >= 0, not -1"},
        Refusal{"nan_step", hopping_with_step(NaN), "basin_hopping_step_size must be a finite number >= 0, not NaN"},
        Refusal{"infinite_step", hopping_with_step(Inf),
                "basin_hopping_step_size must be a finite number >= 0, not inf"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST(ParticleSwarm, SwarmSizeLimitCountsCoordinates) {
    const std::uint64_t limit = (std::uint64_t{1} << 22) / 5;
    EXPECT_FALSE(check_swarm_size(1, 5).has_value());
    EXPECT_FALSE(check_swarm_size(limit, 5).has_value());
    EXPECT_TRUE(check_swarm_size(limit + 1, 5).has_value());
    EXPECT_TRUE(check_swarm_size(0, 5).has_value());
}

TEST(DifferentialEvolution, RefusesARangeThatCollapsesInSinglePrecision) {
    const SeriesList nodes = circuit("R0-Cpe1", {2.0, 1e-3, 0.5});
    const SearchBox box{{0.0, 1.0, 0.5}, {1.0, 1.0 + 1e-12, 1.0}};
    const auto single = single_precision_box(box, nodes);
    ASSERT_FALSE(single.has_value());
    EXPECT_EQ(single.error().message(),
              "solver error: cannot search parameter \"Cpe1.q\" starting at 0.001: its search range is empty in "
              "single precision");
}

// A NaN in the measured spectrum makes every cost NaN.
struct NaNCostCase {
    std::string name;
    Method run;
    std::string message;
};

class AllCostsNaN : public ::testing::TestWithParam<NaNCostCase> {};

TEST_P(AllCostsNaN, EndsWithoutABestPoint) {
    TwoArcCase c;
    c.measured[3].re = NaN;
    const FitResultOr result = GetParam().run(c.start, c.spectrum());
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, FitError::Kind::Solver);
    EXPECT_NE(result.error().text.find(GetParam().message), std::string::npos) << result.error().text;
}

INSTANTIATE_TEST_SUITE_P(
    Methods, AllCostsNaN,
    ::testing::Values(
        NaNCostCase{"nelder_mead_iterations", [](auto& n, auto& s) { return nelder_mead_fit(n, s, 10); },
                    "nelder-mead found no best position"},
        NaNCostCase{"nelder_mead_no_iteration", [](auto& n, auto& s) { return nelder_mead_fit(n, s, 0); },
                    "nelder-mead found no best position"},
        NaNCostCase{"particle_swarm", [](auto& n, auto& s) { return particle_swarm_fit(n, s, 5, 3, 1); },
                    "particle swarm found no best position"},
        NaNCostCase{"differential_evolution",
                    [](auto& n, auto& s) { return differential_evolution_fit(n, s, 50); },
                    "differential evolution found no best position"},
        NaNCostCase{"simulated_annealing",
                    [](auto& n, auto& s) { return simulated_annealing_fit(n, s, 20, 2.0, 1); },
                    "simulated annealing found no best position"}),
    [](const ::testing::TestParamInfo<NaNCostCase>& info) { return info.param.name; });

// alpha = 320 overflows the element's power near omega = 10: the start
// costs NaN, yet the walk must still leave it for the region where costs are
// numbers (a NaN current cost would otherwise refuse every move).
TEST(SimulatedAnnealing, LeavesANaNStartingCost) {
    const std::vector<double> frequencies{1.5, 1.55, 1.6, 1.65, 1.7};
    const std::vector<Complex> measured = spectrum_impedance(circuit("Cpe0", {1.0, 0.5}), frequencies);
    const SeriesList start = circuit("Cpe0", {1.0, 320.0});
    const SpectrumRef spectrum{frequencies, measured, true};
    const PsoProblem problem(start, spectrum);
    ASSERT_TRUE(std::isnan(problem.cost(problem.start_solver())));
    const FitResultOr fit = simulated_annealing_fit(start, spectrum, 300, 100.0, 1);
    ASSERT_TRUE(fit.has_value()) << error_message(fit);
    EXPECT_TRUE(std::isfinite(fit->cost));
}

// Fits on several threads at once share only the worker pool.
TEST(SeededMethods, ConcurrentRunsMatchTheSequentialOne) {
    const TwoArcCase c;
    const FitResultOr reference = particle_swarm_fit(c.start, c.spectrum(), 15, 20, 21);
    std::vector<FitResultOr> results(4, std::unexpected(FitError{FitError::Kind::Solver, "not run"}));
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&] { result = particle_swarm_fit(c.start, c.spectrum(), 15, 20, 21); });
    }
    for (auto& t : threads) t.join();
    for (const auto& result : results) expect_identical(reference, result);
}

}  // namespace
}  // namespace vorlane
