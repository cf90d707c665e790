#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/fit_dispatch.hpp"
#include "fit/fit_outcome.hpp"
#include "fit/jacobian.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "fit/matrix_inverse.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
namespace {

using Vec = std::vector<double>;

struct MessageCase {
    FitError::Kind kind;
    std::string text;
    std::string message;
};

class FitErrorMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(FitErrorMessage, IsTheUserFacingText) {
    EXPECT_EQ((FitError{GetParam().kind, GetParam().text}.message()), GetParam().message);
}

const std::string EXPECTED_METHODS =
    ", expected one of \"levenberg_marquardt\", \"particle_swarm\", \"nelder_mead\", \"differential_evolution\", "
    "\"simulated_annealing\", \"basin_hopping\"";

INSTANTIATE_TEST_SUITE_P(
    Kinds, FitErrorMessage,
    ::testing::Values(
        MessageCase{FitError::Kind::LengthMismatch, "", "frequencies and impedances must have the same length"},
        MessageCase{FitError::Kind::NoPoints, "", "frequencies and impedances must not be empty"},
        MessageCase{FitError::Kind::NoParameters, "", "circuit topology has no parameters to fit"},
        MessageCase{FitError::Kind::Solver, "nelder-mead found no best position",
                    "solver error: nelder-mead found no best position"},
        MessageCase{FitError::Kind::UnknownMethod, "Nelder_Mead", "unknown fit method \"Nelder_Mead\"" + EXPECTED_METHODS},
        MessageCase{FitError::Kind::UnknownMethod, "a\"b\\c\n", "unknown fit method \"a\\\"b\\\\c\\n\"" + EXPECTED_METHODS},
        MessageCase{FitError::Kind::UnknownMethod, "", "unknown fit method \"\"" + EXPECTED_METHODS}));

TEST(RunFit, DispatchesByExactNameAfterNothingElse) {
    FitOptions options;
    options.nodes = *parse("R0-(R1,C1)");
    options.frequencies = {1.0, 10.0, 100.0};
    options.impedances = {{110.0, -5.0}, {100.0, -20.0}, {20.0, -30.0}};
    for (const char* name : {"Levenberg_marquardt", "levenberg_marquardt ", "lm", ""}) {
        options.method = name;
        const FitResultOr result = run_fit(options);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, FitError::Kind::UnknownMethod);
        EXPECT_EQ(result.error().text, name);
    }
    options.method = "levenberg_marquardt";
    options.ftol = -0.0;
    EXPECT_EQ(run_fit(options).error().message(), "solver error: ftol must be >= 0");
    options.ftol = 1e-8;
    EXPECT_TRUE(run_fit(options));
}

TEST(CheckFitInputs, MismatchThenEmptyThenNoParameters) {
    const SeriesList rc = *parse("R0-(R1,C1)");
    const SeriesList empty;
    EXPECT_EQ(check_fit_inputs(0, 1, empty)->kind, FitError::Kind::LengthMismatch);
    EXPECT_EQ(check_fit_inputs(0, 0, empty)->kind, FitError::Kind::NoPoints);
    EXPECT_EQ(check_fit_inputs(2, 2, empty)->kind, FitError::Kind::NoParameters);
    EXPECT_FALSE(check_fit_inputs(2, 2, rc).has_value());
}

struct OutcomeCase {
    SeriesList nodes;
    Vec frequencies, omega;
    std::vector<Complex> measured;
    Vec weights;
};

// Synthetic spectrum with a deterministic ripple, so the fit leaves residuals.
OutcomeCase outcome_case(const char* circuit, const Vec& truth, std::size_t n) {
    OutcomeCase d{*parse(circuit), {}, {}, {}, {}};
    for (std::size_t i = 0; i < n; ++i) {
        const double f = std::pow(10.0, -1.0 + 5.0 * static_cast<double>(i) / static_cast<double>(n));
        d.frequencies.push_back(f);
        d.omega.push_back(f * TWO_PI);
        const Complex z = impedance_with_params(d.nodes, truth, d.omega.back());
        d.measured.push_back({z.re * (1.0 + 0.01 * std::sin(3.0 * i)), z.im * (1.0 + 0.01 * std::cos(5.0 * i))});
    }
    d.weights = compute_weights(d.measured, true);
    return d;
}

// Diagonal of the inverse of the symmetric positive definite a, by
// Gauss-Jordan elimination without pivoting: an inverse computed another way.
Vec inverse_diagonal(Vec a, std::size_t n) {
    Vec inv(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) inv[i * n + i] = 1.0;
    for (std::size_t c = 0; c < n; ++c) {
        const double d = a[c * n + c];
        for (std::size_t k = 0; k < n; ++k) {
            a[c * n + k] /= d;
            inv[c * n + k] /= d;
        }
        for (std::size_t r = 0; r < n; ++r) {
            const double f = r == c ? 0.0 : a[r * n + c];
            for (std::size_t k = 0; k < n; ++k) {
                a[r * n + k] -= f * a[c * n + k];
                inv[r * n + k] -= f * inv[c * n + k];
            }
        }
    }
    Vec diagonal(n);
    for (std::size_t i = 0; i < n; ++i) diagonal[i] = inv[i * n + i];
    return diagonal;
}

struct StatsCase {
    std::string name;
    std::string circuit;
    Vec truth;
    Vec at;
};

class OutcomeStatistics : public ::testing::TestWithParam<StatsCase> {};

TEST_P(OutcomeStatistics, StandardErrorsMatchAnIndependentCovariance) {
    const StatsCase& c = GetParam();
    const OutcomeCase d = outcome_case(c.circuit.c_str(), c.truth, 30);
    EvalCounter counter;
    counter.add(7);
    const FitOutcome o = build_outcome(d.nodes, c.at, false, 42, d.omega, d.measured, d.weights, counter);
    const std::size_t p = c.at.size();
    EXPECT_EQ(o.impedance_evals, 7 + 1 + 2 * p);
    EXPECT_EQ(o.iterations, 42u);
    EXPECT_FALSE(o.success);
    EXPECT_EQ(o.chi_square, o.cost + o.cost);
    EXPECT_EQ(o.params, c.at);
    EXPECT_EQ(o.names, param_names(d.nodes));
    EXPECT_EQ(param_values(o.circuit), c.at);

    EvalCounter scratch;
    EXPECT_EQ(o.cost, cost_of(residuals(d.nodes, c.at, d.omega, d.measured, d.weights, scratch)));
    const auto columns = jacobian_columns(d.nodes, c.at, d.omega, d.measured, d.weights, scratch);
    Vec a(p * p, 0.0);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < p; ++j)
            for (std::size_t k = 0; k < columns[i].size(); ++k) a[i * p + j] += columns[i][k] * columns[j][k];
    const Vec cov = inverse_diagonal(a, p);
    const double m = 2.0 * static_cast<double>(d.omega.size());
    ASSERT_TRUE(o.stderr_.has_value());
    for (std::size_t i = 0; i < p; ++i) {
        const double expected = std::sqrt(o.chi_square / (m - static_cast<double>(p)) * cov[i]);
        EXPECT_NEAR((*o.stderr_)[i], expected, 1e-6 * expected) << o.names[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, OutcomeStatistics,
    ::testing::Values(StatsCase{"ClosedForm", "R0-(R1,CPE1)", {10.0, 100.0, 1e-4, 0.8}, {10.5, 95.0, 1.1e-4, 0.79}},
                      StatsCase{"Lu", "R0-(R1,CPE1)-(R2-Wo2,CPE2)",
                                {10.0, 50.0, 1e-5, 0.85, 100.0, 200.0, 5.0, 1e-3, 0.7},
                                {11.0, 45.0, 1.2e-5, 0.84, 90.0, 210.0, 4.0, 1.1e-3, 0.72}}),
    [](const auto& info) { return info.param.name; });

TEST(BuildOutcome, ClampsIntoBoundsBeforeEvaluating) {
    const OutcomeCase d = outcome_case("R0-(R1,CPE1)", {10.0, 100.0, 1e-4, 0.8}, 20);
    EvalCounter counter;
    const FitOutcome o = build_outcome(d.nodes, Vec{-5.0, 100.0, 1e-4, 1.5}, true, 0, d.omega, d.measured, d.weights,
                                       counter);
    const Vec clamped{1e-12, 100.0, 1e-4, 1.0};
    EXPECT_EQ(o.params, clamped);
    EXPECT_EQ(param_values(o.circuit), clamped);
    EvalCounter scratch;
    EXPECT_EQ(o.cost, cost_of(residuals(d.nodes, clamped, d.omega, d.measured, d.weights, scratch)));
}

struct AbsentCase {
    std::string name;
    std::string circuit;
    Vec at;
    std::size_t points;
};

class AbsentStandardErrors : public ::testing::TestWithParam<AbsentCase> {};

TEST_P(AbsentStandardErrors, WhenSingularOrTooFewResiduals) {
    const AbsentCase& c = GetParam();
    const OutcomeCase d = outcome_case(c.circuit.c_str(), c.at, c.points);
    EvalCounter counter;
    const FitOutcome o = build_outcome(d.nodes, c.at, true, 0, d.omega, d.measured, d.weights, counter);
    EXPECT_FALSE(o.stderr_.has_value());
    EXPECT_EQ(o.chi_square, o.cost + o.cost);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AbsentStandardErrors,
    // Equal series resistances get identical columns; a resistance swamped
    // by a huge one gets an all-zero column.
    ::testing::Values(AbsentCase{"TwoEqualSeriesResistors", "R0-R1", {10.0, 10.0}, 10},
                      AbsentCase{"FiveEqualSeriesResistors", "R0-R1-R2-R3-R4", {3.0, 3.0, 3.0, 3.0, 3.0}, 10},
                      AbsentCase{"ParameterWithoutInfluence", "R0-(R1,C1)-R2", {1e20, 100.0, 1e-4, 1.0}, 10},
                      AbsentCase{"ParameterWithoutInfluenceLu", "R0-(R1,CPE1)-R2", {1e20, 100.0, 1e-4, 0.8, 1.0}, 10},
                      AbsentCase{"AsManyResidualsAsParameters", "R0-C1", {10.0, 1e-3}, 1},
                      AbsentCase{"FewerResidualsThanParameters", "R0-(R1,C1)", {10.0, 100.0, 1e-3}, 1}),
    [](const auto& info) { return info.param.name; });

TEST(PolishOrFallback, KeepsThePolishOnATieAndCountsEverything) {
    const Vec truth{10.0, 100.0, 1e-4};
    const OutcomeCase d = outcome_case("R0-(R1,C1)", truth, 20);
    EvalCounter counter;
    counter.add(1000);
    const auto kept = polish_or_fallback(d.nodes, truth, 777, d.frequencies, d.measured, true, d.omega, d.weights,
                                         counter);
    ASSERT_TRUE(kept);
    EXPECT_NE(kept->iterations, 777u);
    EXPECT_EQ(kept->impedance_evals, counter.value());
    EvalCounter scratch;
    const FitOutcome global = build_outcome(d.nodes, truth, true, 777, d.omega, d.measured, d.weights, scratch);
    EXPECT_LE(kept->cost, global.cost);
    const auto polished_alone = levenberg_marquardt_fit(rebuild_with_values(d.nodes, truth), d.frequencies, d.measured,
                                                         true, LmOptions{1e-8, 1e-8, 1e-8, 200});
    EXPECT_EQ(counter.value(), 1000 + (1 + 2 * truth.size()) + polished_alone->impedance_evals);
    EXPECT_EQ(kept->params, polished_alone->params);
}

TEST(PolishOrFallback, NaNCostFallsBackToTheGlobalPoint) {
    OutcomeCase d = outcome_case("R0-(R1,C1)", {10.0, 100.0, 1e-4}, 10);
    d.measured[3] = {NaN, NaN};
    d.weights = compute_weights(d.measured, true);
    const Vec best{12.0, 90.0, 2e-4};
    EvalCounter counter;
    const auto kept = polish_or_fallback(d.nodes, best, 55, d.frequencies, d.measured, true, d.omega, d.weights,
                                         counter);
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->success);  // a NaN cost is never a success
    EXPECT_EQ(kept->iterations, 55u);
    EXPECT_EQ(kept->params, best);
    EXPECT_TRUE(std::isnan(kept->cost));
    EXPECT_EQ(kept->impedance_evals, counter.value());
    EXPECT_GT(counter.value(), 1 + 2 * best.size());
}

TEST(PolishOrFallback, PassesOnTheInputErrorOfThePolish) {
    const OutcomeCase d = outcome_case("R0-(R1,C1)", {10.0, 100.0, 1e-4}, 10);
    EvalCounter counter;
    const Vec fewer_frequencies(d.frequencies.begin(), d.frequencies.end() - 1);
    const auto result = polish_or_fallback(d.nodes, Vec{10.0, 100.0, 1e-4}, 1, fewer_frequencies, d.measured, true,
                                           d.omega, d.weights, counter);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, FitError::Kind::LengthMismatch);
}

class MatrixInverse : public ::testing::TestWithParam<std::size_t> {};

TEST_P(MatrixInverse, TimesTheMatrixIsTheIdentity) {
    const std::size_t n = GetParam();
    Vec a(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) a[i * n + j] = std::sin(1.0 + 3.0 * i + 7.0 * j) + (i == j ? n : 0.0);
    // A zero leading entry forces a row exchange in the LU path.
    if (n > 4) a[0] = 0.0;
    const auto inv = invert_matrix(a, n);
    ASSERT_TRUE(inv.has_value());
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            double s = 0.0;
            for (std::size_t k = 0; k < n; ++k) s += a[i * n + k] * (*inv)[k * n + j];
            EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-13) << i << " " << j;
        }
    }
}

TEST_P(MatrixInverse, ExactlySingularGivesNothing) {
    const std::size_t n = GetParam();
    Vec a(n * n, 1.0);
    for (std::size_t i = 0; i < n; ++i) a[i * n + i] = 2.0 + i;
    for (std::size_t j = 0; j < n; ++j) a[(n - 1) * n + j] = 0.0;
    EXPECT_FALSE(invert_matrix(a, n).has_value());
}

INSTANTIATE_TEST_SUITE_P(Sizes, MatrixInverse, ::testing::Values(1u, 2u, 3u, 4u, 5u, 9u));

TEST(MatrixInverseEdges, EmptyAndShortInput) {
    EXPECT_EQ(invert_matrix(Vec{}, 0), Vec{});
    EXPECT_FALSE(invert_matrix(Vec{1.0, 0.0}, 2).has_value());
}

}  // namespace
}  // namespace vorlane
