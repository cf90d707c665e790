#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <functional>
#include <span>
#include <limits>
#include <string>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/lm_solver.hpp"
#include "fit/minpack_routines.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
namespace {

using Vec = std::vector<double>;
using VecFn = std::function<Vec(const Vec&)>;

// An analytic problem; its Jacobian (column-major) is given or taken by
// central differences of the formula.
class AnalyticProblem final : public LeastSquaresProblem {
public:
    AnalyticProblem(std::size_t m, Vec start, VecFn f, VecFn jac = nullptr)
        : m_(m), x_(std::move(start)), f_(std::move(f)), jac_(std::move(jac)) {}

    std::size_t num_params() const override { return x_.size(); }
    std::size_t num_residuals() const override { return m_; }
    void set_params(std::span<const double> u) override { x_.assign(u.begin(), u.end()); }
    std::span<const double> params() const override { return x_; }
    bool residuals(std::span<double> out) override {
        ++evaluations;
        return copied(f_(x_), out);
    }
    bool jacobian(double* out, std::size_t ld) override {
        const Vec j = jac_ ? jac_(x_) : differences();
        if (j.size() != m_ * x_.size()) return false;
        for (std::size_t c = 0; c < x_.size(); ++c) std::copy_n(j.data() + c * m_, m_, out + c * ld);
        return true;
    }

    const Vec& x() const { return x_; }
    Vec value() const { return f_(x_); }

    mutable std::size_t evaluations = 0;

private:
    static bool copied(const Vec& v, std::span<double> out) {
        if (v.size() != out.size()) return false;
        std::copy(v.begin(), v.end(), out.begin());
        return true;
    }

    Vec differences() const {
        Vec j;
        for (std::size_t c = 0; c < x_.size(); ++c) {
            const double h = 1e-7 * std::max(1.0, std::fabs(x_[c]));
            Vec plus = x_, minus = x_;
            plus[c] += h;
            minus[c] -= h;
            const Vec fp = f_(plus), fm = f_(minus);
            for (std::size_t k = 0; k < m_; ++k) j.push_back((fp[k] - fm[k]) / (2 * h));
        }
        return j;
    }

    std::size_t m_;
    Vec x_;
    VecFn f_, jac_;
};

double sum_of_squares(const Vec& r) {
    double s = 0.0;
    for (double v : r) s += v * v;
    return s;
}

struct Classic {
    std::string name;
    std::size_t m;
    Vec start;
    VecFn f;
    double sum_of_squares;  // at the published minimum
    Vec solution;
    // How this solver gets there: its stop, and the evaluations this build
    // takes (another compiler or libm may take a few more or fewer).
    LmTermination reason;
    std::size_t evaluations;
};

// Test problems of Moré, Garbow and Hillstrom, from their standard starts.
std::vector<Classic> classics() {
    const Vec bard_y{0.14, 0.18, 0.22, 0.25, 0.29, 0.32, 0.35, 0.39, 0.37, 0.58, 0.73, 0.96, 1.34, 2.10, 4.39};
    const Vec meyer_y{34780, 28610, 23650, 19630, 16370, 13720, 11540, 9744,
                      8261,  7030,  6005,  5147,  4427,  3820,  3307,  2872};
    auto rows = [](std::size_t m, auto row) {
        return [=](const Vec& x) {
            Vec r(m);
            for (std::size_t i = 0; i < m; ++i) r[i] = row(x, static_cast<double>(i + 1), i);
            return r;
        };
    };
    return {
        {"Rosenbrock", 2, {-1.2, 1.0}, [](const Vec& x) { return Vec{10 * (x[1] - x[0] * x[0]), 1 - x[0]}; }, 0.0,
         {1.0, 1.0}, LmTermination::Converged, 22},
        {"FreudensteinRoth", 2, {0.5, -2.0},
         [](const Vec& x) {
             return Vec{-13 + x[0] + ((5 - x[1]) * x[1] - 2) * x[1], -29 + x[0] + ((x[1] + 1) * x[1] - 14) * x[1]};
         },
         48.98425367924, {11.4128, -0.896805}, LmTermination::Converged, 14},
        {"PowellSingular", 4, {3.0, -1.0, 0.0, 1.0},
         [](const Vec& x) {
             const double a = x[1] - 2 * x[2], b = x[0] - x[3];
             return Vec{x[0] + 10 * x[1], std::sqrt(5.0) * (x[2] - x[3]), a * a, std::sqrt(10.0) * b * b};
         },
         0.0, {0.0, 0.0, 0.0, 0.0}, LmTermination::Orthogonal, 34},
        {"Bard", 15, {1.0, 1.0, 1.0}, rows(15, [=](const Vec& x, double u, std::size_t i) {
             const double v = 16 - u;
             return bard_y[i] - (x[0] + u / (v * x[1] + std::min(u, v) * x[2]));
         }),
         8.214877306578e-3, {0.0824106, 1.13304, 2.34370}, LmTermination::Converged, 6},
        {"Meyer", 16, {0.02, 4000.0, 250.0}, rows(16, [=](const Vec& x, double u, std::size_t i) {
             return x[0] * std::exp(x[1] / (45 + 5 * u + x[2])) - meyer_y[i];
         }),
         87.94585517, {0.00560964, 6181.35, 345.224}, LmTermination::Converged, 126},
        {"Box3D", 10, {0.0, 10.0, 20.0}, rows(10, [](const Vec& x, double u, std::size_t) {
             const double t = 0.1 * u;
             return std::exp(-t * x[0]) - std::exp(-t * x[1]) - x[2] * (std::exp(-t) - std::exp(-10 * t));
         }),
         0.0, {1.0, 10.0, 1.0}, LmTermination::Converged, 7},
    };
}

class ClassicProblems : public ::testing::TestWithParam<Classic> {};

TEST_P(ClassicProblems, ReachThePublishedMinimum) {
    const Classic& c = GetParam();
    AnalyticProblem problem(c.m, c.start, c.f);
    const auto report = lm_minimize(problem, LmOptions{1e-8, 1e-8, 1e-8, 1000});
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->reason, c.reason) << static_cast<int>(report->reason);
    // A path rounded another way moves the count by a few evaluations; a stop
    // that comes far too early, or a convergence test that never fires (the
    // run goes on to its budget of 1000 iterations), leaves this range.
    EXPECT_GE(report->evaluations, c.evaluations / 2);
    EXPECT_LE(report->evaluations, c.evaluations + c.evaluations / 2 + 2);
    EXPECT_EQ(report->evaluations, problem.evaluations);
    const Vec x = problem.x();
    const double ss = sum_of_squares(c.f(x));
    EXPECT_NEAR(ss, c.sum_of_squares, c.sum_of_squares == 0.0 ? 1e-20 : 1e-8 * c.sum_of_squares);
    for (std::size_t i = 0; i < c.solution.size(); ++i) {
        EXPECT_NEAR(x[i], c.solution[i], 1e-4 * std::max(1.0, std::fabs(c.solution[i]))) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Minpack, ClassicProblems, ::testing::ValuesIn(classics()),
                         [](const auto& info) { return info.param.name; });

Vec rosenbrock(const Vec& x) { return {10 * (x[1] - x[0] * x[0]), 1 - x[0]}; }

struct Stop {
    std::string name;
    std::size_t m;
    Vec start;
    VecFn f;
    VecFn jac;
    LmOptions options;
    LmTermination reason;
    std::size_t evaluations;  // 0: not checked
};

class Termination : public ::testing::TestWithParam<Stop> {};

TEST_P(Termination, ReportsItsReason) {
    const Stop& s = GetParam();
    AnalyticProblem problem(s.m, s.start, s.f, s.jac);
    const auto report = lm_minimize(problem, s.options);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->reason, s.reason);
    EXPECT_EQ(report->evaluations, problem.evaluations);
    if (s.evaluations != 0) {
        EXPECT_EQ(report->evaluations, s.evaluations);
    }
}

const VecFn BAD_JACOBIAN = [](const Vec&) { return Vec{1.0}; };
const VecFn NAN_JACOBIAN = [](const Vec&) { return Vec{1.0, 0.0, NaN, NaN}; };
const VecFn IDENTITY = [](const Vec& x) { return x; };
const VecFn SHIFT = [](const Vec& x) { return Vec{x[0] - 3.0, x[1] - 4.0}; };

INSTANTIATE_TEST_SUITE_P(
    Reasons, Termination,
    ::testing::Values(
        Stop{"ExactStart", 2, {3.0, 4.0}, SHIFT, nullptr, {}, LmTermination::ZeroResiduals, 1},
        Stop{"SmallestNormalIsZero", 1, {2.2250738585072014e-308}, IDENTITY, nullptr, {},
             LmTermination::ZeroResiduals, 1},
        Stop{"AboveTheSmallestNormal", 1, {4.5e-308}, IDENTITY, nullptr, {}, LmTermination::Orthogonal, 2},
        Stop{"NaNStart", 2, {NaN, 4.0}, SHIFT, nullptr, {}, LmTermination::NonFinite, 1},
        Stop{"InfiniteStart", 2, {3.0, Inf}, SHIFT, nullptr, {}, LmTermination::NonFinite, 1},
        Stop{"OverflowingNorm", 2, {1e308, 1e308}, SHIFT, nullptr, {}, LmTermination::NonFinite, 1},
        Stop{"NoParameters", 2, {}, [](const Vec&) { return Vec{1.0, 1.0}; }, nullptr, {},
             LmTermination::NoParameters, 1},
        Stop{"NoResiduals", 0, {1.0}, [](const Vec&) { return Vec{}; }, nullptr, {}, LmTermination::NoResiduals, 1},
        Stop{"ShortResiduals", 3, {1.0}, [](const Vec& x) { return Vec{x[0]}; }, nullptr, {},
             LmTermination::ResidualsUnavailable, 1},
        Stop{"WrongJacobianShape", 2, {1.0, 1.0}, SHIFT, BAD_JACOBIAN, {}, LmTermination::WrongDimensions, 1},
        Stop{"NaNJacobianIsNotConvergence", 2, {1.0, 1.0}, SHIFT, NAN_JACOBIAN, {}, LmTermination::NonFinite, 0},
        // x = 1 and x = 3 started at their least-squares solution.
        Stop{"StationaryStart", 2, {2.0}, [](const Vec& x) { return Vec{x[0] - 1, x[0] - 3}; }, nullptr, {},
             LmTermination::Orthogonal, 1},
        // The first step lands on the mirror point, r = +0.8 from r = -0.8: no
        // actual reduction although a large one was predicted. The step is
        // refused and the run goes on; it has not converged.
        Stop{"StepWithoutReductionIsNotConvergence", 1, {std::sqrt(0.2)},
             [](const Vec& x) { return Vec{x[0] * x[0] - 1}; }, nullptr, {}, LmTermination::Converged, 7},
        // max(max_iterations, 1) * (P + 1) evaluations: 3 for Rosenbrock.
        Stop{"BudgetOfOneIteration", 2, {-1.2, 1.0}, rosenbrock, nullptr, {1e-8, 1e-8, 1e-8, 1},
             LmTermination::BudgetExhausted, 3},
        Stop{"ZeroIterationsActAsOne", 2, {-1.2, 1.0}, rosenbrock, nullptr, {1e-8, 1e-8, 1e-8, 0},
             LmTermination::BudgetExhausted, 3},
        // Every accepted step checked, and no decrease is enough.
        Stop{"StallAfterTheFirstAcceptedStep", 2, {-1.2, 1.0}, rosenbrock, nullptr,
             {1e-8, 1e-8, 1e-8, 1000, 1, 1e300}, LmTermination::Stalled, 0},
        // A stall test that no step of a converging run fails leaves the run
        // as it is without one (compared bit for bit below).
        Stop{"StallTestNeverMet", 2, {-1.2, 1.0}, rosenbrock, nullptr, {1e-8, 1e-8, 1e-8, 1000, 3, 1e-12},
             LmTermination::Converged, 0}),
    [](const auto& info) { return info.param.name; });

TEST(LmSolver, AStallTestNeverMetLeavesTheRunAsItIs) {
    AnalyticProblem plain(2, {-1.2, 1.0}, rosenbrock);
    AnalyticProblem watched(2, {-1.2, 1.0}, rosenbrock);
    const auto a = lm_minimize(plain, LmOptions{1e-8, 1e-8, 1e-8, 1000});
    const auto b = lm_minimize(watched, LmOptions{1e-8, 1e-8, 1e-8, 1000, 3, 1e-12});
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->reason, a->reason);
    EXPECT_EQ(b->evaluations, a->evaluations);
    EXPECT_EQ(watched.x(), plain.x());
}

TEST(LmSolver, BudgetCountsTrialsOnly) {
    // P = 3 and max_iterations = 1: at most 4 residual evaluations by the solver.
    AnalyticProblem problem(3, {-1.2, 1.0, 3.0}, [](const Vec& x) {
        return Vec{10 * (x[1] - x[0] * x[0]), 1 - x[0], std::sin(x[2]) + 2};
    });
    const auto report = lm_minimize(problem, LmOptions{1e-8, 1e-8, 1e-8, 1});
    EXPECT_LE(report->evaluations, 4u);
    EXPECT_EQ(report->evaluations, problem.evaluations);
}

TEST(LmSolver, NonFiniteResultsLeaveTheStartInPlace) {
    AnalyticProblem problem(2, {1.0, 1.0}, SHIFT, NAN_JACOBIAN);
    lm_minimize(problem, LmOptions{});
    EXPECT_EQ(problem.x(), (Vec{1.0, 1.0}));
}

TEST(LmSolver, RecoversFromTrialsIntoANonFiniteRegion) {
    // 1/x - 0.5 is undefined for x <= 0; the first Gauss-Newton step from 10 lands at -30.
    AnalyticProblem problem(1, {10.0}, [](const Vec& x) { return Vec{x[0] > 0 ? 1 / x[0] - 0.5 : NaN}; },
                            [](const Vec& x) { return Vec{-1 / (x[0] * x[0])}; });
    const auto report = lm_minimize(problem, LmOptions{});
    EXPECT_TRUE(is_success(report->reason));
    EXPECT_NEAR(problem.x()[0], 2.0, 1e-9);
}

TEST(LmSolver, RankDeficientAndUnderdeterminedProblemsConverge) {
    AnalyticProblem wide(1, {0.0, 0.0, 0.0}, [](const Vec& x) { return Vec{x[0] + 2 * x[1] - x[2] - 3}; });
    EXPECT_TRUE(is_success(lm_minimize(wide, LmOptions{})->reason));
    EXPECT_NEAR(wide.value()[0], 0.0, 1e-12);
    AnalyticProblem twin(2, {0.0, 0.0}, [](const Vec& x) { return Vec{x[0] + x[1] - 3, 2 * (x[0] + x[1]) - 6}; });
    EXPECT_TRUE(is_success(lm_minimize(twin, LmOptions{})->reason));
    EXPECT_NEAR(twin.x()[0] + twin.x()[1], 3.0, 1e-12);
}

struct ToleranceCase {
    LmOptions options;
    std::string message;
};

class NegativeTolerance : public ::testing::TestWithParam<ToleranceCase> {};

TEST_P(NegativeTolerance, IsRefusedBeforeAnyEvaluation) {
    AnalyticProblem problem(2, {0.0, 0.0}, SHIFT);
    const auto report = lm_minimize(problem, GetParam().options);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error(), GetParam().message);
    EXPECT_EQ(problem.evaluations, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    SignBit, NegativeTolerance,
    ::testing::Values(ToleranceCase{{-1e-8, 1e-8, 1e-8, 10}, "ftol must be >= 0"},
                      ToleranceCase{{-0.0, 1e-8, 1e-8, 10}, "ftol must be >= 0"},
                      ToleranceCase{{1e-8, -0.0, 1e-8, 10}, "xtol must be >= 0"},
                      ToleranceCase{{1e-8, 1e-8, -0.0, 10}, "gtol must be >= 0"},
                      ToleranceCase{{1e-8, -1.0, -1.0, 10}, "xtol must be >= 0"},
                      ToleranceCase{{-1.0, -1.0, -1.0, 10}, "ftol must be >= 0"},
                      ToleranceCase{{1e-8, 1e-8, -NaN, 10}, "gtol must be >= 0"}));

TEST(LmSolver, FixedParameterKeepsItsStartToTheLastBit) {
    const SeriesList nodes = *parse("R0-(R1,CPE1)");
    Vec omega, weights;
    std::vector<Complex> measured;
    for (int i = 0; i < 30; ++i) {
        omega.push_back(std::pow(10.0, -1.0 + 0.2 * i));
        measured.push_back(impedance_with_params(nodes, Vec{10.0, 100.0, 1e-4, 0.8}, omega.back()));
        weights.push_back(1.0);
    }
    const double alpha = 0.7123456789012345;
    EvalCounter counter;
    LmProblem problem(nodes, omega, measured, weights, param_bounds(nodes), Vec{1.0, 2.0, -3.0, alpha},
                      std::vector<bool>{false, false, false, true}, counter);
    ASSERT_TRUE(lm_minimize(problem, LmOptions{}));
    EXPECT_EQ(problem.params()[3], alpha);
    EXPECT_NE(problem.params()[0], 1.0);
}

TEST(Enorm, AvoidsOverflowAndUnderflowAndPropagatesNaN) {
    using minpack::enorm;
    EXPECT_EQ(enorm(Vec{}), 0.0);
    EXPECT_EQ(enorm(Vec{3.0, 4.0}), 5.0);
    EXPECT_DOUBLE_EQ(enorm(Vec{3e200, 4e200}), 5e200);
    EXPECT_DOUBLE_EQ(enorm(Vec{3e-200, 4e-200}), 5e-200);
    EXPECT_DOUBLE_EQ(enorm(Vec{1e-30, 1e25, 1.0}), 1e25);
    EXPECT_TRUE(std::isnan(enorm(Vec{1.0, NaN, 2.0})));
    EXPECT_FALSE(std::isfinite(enorm(Vec{1.0, Inf})));
}

}  // namespace
}  // namespace vorlane
