#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/lm_solver.hpp"
#include "fit/minpack_routines.hpp"

namespace vorlane {
namespace {

using Vec = std::vector<double>;
using VecFn = std::function<Vec(const Vec&)>;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

// An analytic least-squares problem; the Jacobian is column-major.
class AnalyticProblem final : public LeastSquaresProblem {
public:
    AnalyticProblem(std::size_t m, Vec start, VecFn f, VecFn jac)
        : m_(m), x_(std::move(start)), f_(std::move(f)), jac_(std::move(jac)) {}

    std::size_t num_params() const override { return x_.size(); }
    std::size_t num_residuals() const override { return m_; }
    void set_params(std::span<const double> u) override { x_.assign(u.begin(), u.end()); }
    Vec params() const override { return x_; }
    Vec residuals() const override {
        ++evaluations;
        return f_(x_);
    }
    Vec jacobian() const override { return jac_(x_); }

    mutable std::size_t evaluations = 0;

private:
    std::size_t m_;
    Vec x_;
    VecFn f_, jac_;
};

struct Classic {
    std::string name;
    std::size_t m;
    Vec start;
    VecFn f, jac;
    double sum_of_squares;  // at the published minimum
    Vec solution;           // empty when only the norm is checked
};

std::vector<Classic> classics() {
    std::vector<Classic> out;
    out.push_back({"Rosenbrock", 2, {-1.2, 1.0},
                   [](const Vec& x) { return Vec{10.0 * (x[1] - x[0] * x[0]), 1.0 - x[0]}; },
                   [](const Vec& x) { return Vec{-20.0 * x[0], -1.0, 10.0, 0.0}; }, 0.0, {1.0, 1.0}});
    out.push_back({"FreudensteinRoth", 2, {0.5, -2.0},
                   [](const Vec& x) {
                       return Vec{-13.0 + x[0] + ((5.0 - x[1]) * x[1] - 2.0) * x[1],
                                  -29.0 + x[0] + ((x[1] + 1.0) * x[1] - 14.0) * x[1]};
                   },
                   [](const Vec& x) {
                       return Vec{1.0, 1.0, x[1] * (10.0 - 3.0 * x[1]) - 2.0, x[1] * (2.0 + 3.0 * x[1]) - 14.0};
                   },
                   48.98425367924, {11.41277900, -0.8968052755}});
    const double s5 = std::sqrt(5.0), s10 = std::sqrt(10.0);
    out.push_back({"PowellSingular", 4, {3.0, -1.0, 0.0, 1.0},
                   [=](const Vec& x) {
                       const double a = x[1] - 2.0 * x[2], b = x[0] - x[3];
                       return Vec{x[0] + 10.0 * x[1], s5 * (x[2] - x[3]), a * a, s10 * b * b};
                   },
                   [=](const Vec& x) {
                       const double a = x[1] - 2.0 * x[2], b = x[0] - x[3];
                       return Vec{1.0, 0.0, 0.0, 2.0 * s10 * b,  10.0, 0.0, 2.0 * a, 0.0,
                                  0.0, s5,  -4.0 * a, 0.0,       0.0,  -s5, 0.0,    -2.0 * s10 * b};
                   },
                   0.0, {0.0, 0.0, 0.0, 0.0}});
    const Vec bard_y{0.14, 0.18, 0.22, 0.25, 0.29, 0.32, 0.35, 0.39, 0.37, 0.58, 0.73, 0.96, 1.34, 2.10, 4.39};
    out.push_back({"Bard", 15, {1.0, 1.0, 1.0},
                   [=](const Vec& x) {
                       Vec r(15);
                       for (int i = 0; i < 15; ++i) {
                           const double u = i + 1, v = 15 - i, w = std::min(u, v);
                           r[i] = bard_y[i] - (x[0] + u / (v * x[1] + w * x[2]));
                       }
                       return r;
                   },
                   [](const Vec& x) {
                       Vec j(45);
                       for (int i = 0; i < 15; ++i) {
                           const double u = i + 1, v = 15 - i, w = std::min(u, v), d = v * x[1] + w * x[2];
                           j[i] = -1.0;
                           j[15 + i] = u * v / (d * d);
                           j[30 + i] = u * w / (d * d);
                       }
                       return j;
                   },
                   8.214877306578e-3, {0.08241056, 1.133036, 2.343695}});
    const Vec meyer_y{34780, 28610, 23650, 19630, 16370, 13720, 11540, 9744,
                      8261,  7030,  6005,  5147,  4427,  3820,  3307,  2872};
    out.push_back({"Meyer", 16, {0.02, 4000.0, 250.0},
                   [=](const Vec& x) {
                       Vec r(16);
                       for (int i = 0; i < 16; ++i) {
                           const double t = 45.0 + 5.0 * (i + 1);
                           r[i] = x[0] * std::exp(x[1] / (t + x[2])) - meyer_y[i];
                       }
                       return r;
                   },
                   [](const Vec& x) {
                       Vec j(48);
                       for (int i = 0; i < 16; ++i) {
                           const double t = 45.0 + 5.0 * (i + 1), d = t + x[2], e = std::exp(x[1] / d);
                           j[i] = e;
                           j[16 + i] = x[0] * e / d;
                           j[32 + i] = -x[0] * e * x[1] / (d * d);
                       }
                       return j;
                   },
                   87.94585517, {0.005609636, 6181.346, 345.2236}});
    out.push_back({"Box3D", 10, {0.0, 10.0, 20.0},
                   [](const Vec& x) {
                       Vec r(10);
                       for (int i = 0; i < 10; ++i) {
                           const double t = 0.1 * (i + 1);
                           r[i] = std::exp(-t * x[0]) - std::exp(-t * x[1]) - x[2] * (std::exp(-t) - std::exp(-10 * t));
                       }
                       return r;
                   },
                   [](const Vec& x) {
                       Vec j(30);
                       for (int i = 0; i < 10; ++i) {
                           const double t = 0.1 * (i + 1);
                           j[i] = -t * std::exp(-t * x[0]);
                           j[10 + i] = t * std::exp(-t * x[1]);
                           j[20 + i] = -(std::exp(-t) - std::exp(-10 * t));
                       }
                       return j;
                   },
                   0.0, {1.0, 10.0, 1.0}});
    return out;
}

double sum_of_squares(const Vec& r) {
    double s = 0.0;
    for (double v : r) s += v * v;
    return s;
}

class ClassicProblems : public ::testing::TestWithParam<Classic> {};

TEST_P(ClassicProblems, ReachThePublishedMinimum) {
    const Classic& c = GetParam();
    AnalyticProblem problem(c.m, c.start, c.f, c.jac);
    const auto report = lm_minimize(problem, LmOptions{1e-8, 1e-8, 1e-8, 1000});
    ASSERT_TRUE(report.has_value());
    EXPECT_TRUE(is_success(report->reason)) << static_cast<int>(report->reason);
    EXPECT_EQ(report->evaluations, problem.evaluations);
    const Vec x = problem.params();
    const double ss = sum_of_squares(c.f(x));
    if (c.sum_of_squares == 0.0) {
        EXPECT_LT(ss, 1e-20);
    } else {
        EXPECT_NEAR(ss, c.sum_of_squares, 1e-8 * c.sum_of_squares);
    }
    for (std::size_t i = 0; i < c.solution.size(); ++i) {
        EXPECT_NEAR(x[i], c.solution[i], 1e-4 * std::max(1.0, std::fabs(c.solution[i]))) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Minpack, ClassicProblems, ::testing::ValuesIn(classics()),
                         [](const auto& info) { return info.param.name; });

// r = x - target, Jacobian the identity.
AnalyticProblem shifted(Vec start, Vec target) {
    const std::size_t n = start.size();
    return AnalyticProblem(
        n, std::move(start),
        [target](const Vec& x) {
            Vec r(x.size());
            for (std::size_t i = 0; i < x.size(); ++i) r[i] = x[i] - target[i];
            return r;
        },
        [n](const Vec&) {
            Vec j(n * n, 0.0);
            for (std::size_t i = 0; i < n; ++i) j[i * n + i] = 1.0;
            return j;
        });
}

TEST(LmSolver, ExactStartEndsAtOnceWithZeroResiduals) {
    AnalyticProblem problem = shifted({1.0, 2.0}, {1.0, 2.0});
    const auto report = lm_minimize(problem, LmOptions{});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->reason, LmTermination::ZeroResiduals);
    EXPECT_EQ(report->evaluations, 1u);
    EXPECT_TRUE(is_success(report->reason));
}

TEST(LmSolver, ResidualsAtTheSmallestNormalCountAsZero) {
    AnalyticProblem problem = shifted({2.2250738585072014e-308}, {0.0});
    EXPECT_EQ(lm_minimize(problem, LmOptions{})->reason, LmTermination::ZeroResiduals);
    AnalyticProblem above = shifted({4.5e-308}, {0.0});
    EXPECT_NE(lm_minimize(above, LmOptions{})->reason, LmTermination::ZeroResiduals);
}

class NonFiniteStart : public ::testing::TestWithParam<double> {};

TEST_P(NonFiniteStart, FailsAtOnceAndReturnsTheStart) {
    AnalyticProblem problem = shifted({GetParam(), 5.0}, {1.0, 2.0});
    const auto report = lm_minimize(problem, LmOptions{});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->reason, LmTermination::NonFinite);
    EXPECT_FALSE(is_success(report->reason));
    EXPECT_EQ(report->evaluations, 1u);
    EXPECT_EQ(problem.params()[1], 5.0);
}

INSTANTIATE_TEST_SUITE_P(Values, NonFiniteStart, ::testing::Values(NaN, INF, -INF, 1e308));

TEST(LmSolver, DegenerateShapesStopBeforeIterating) {
    AnalyticProblem no_params(2, {}, [](const Vec&) { return Vec{1.0, 1.0}; }, [](const Vec&) { return Vec{}; });
    EXPECT_EQ(lm_minimize(no_params, LmOptions{})->reason, LmTermination::NoParameters);
    AnalyticProblem no_rows(0, {1.0}, [](const Vec&) { return Vec{}; }, [](const Vec&) { return Vec{}; });
    EXPECT_EQ(lm_minimize(no_rows, LmOptions{})->reason, LmTermination::NoResiduals);
    AnalyticProblem short_rows(3, {1.0}, [](const Vec& x) { return Vec{x[0]}; }, [](const Vec&) { return Vec{1, 1, 1}; });
    EXPECT_EQ(lm_minimize(short_rows, LmOptions{})->reason, LmTermination::ResidualsUnavailable);
    AnalyticProblem bad_jacobian(2, {1.0}, [](const Vec& x) { return Vec{x[0], x[0]}; },
                                 [](const Vec&) { return Vec{1.0}; });
    const auto report = lm_minimize(bad_jacobian, LmOptions{});
    EXPECT_EQ(report->reason, LmTermination::WrongDimensions);
    EXPECT_EQ(report->evaluations, 1u);
}

TEST(LmSolver, BudgetIsMaxIterationsTimesParametersPlusOne) {
    // Rosenbrock-like in three variables: never solved in three trials.
    for (const std::uint32_t max_iterations : {0u, 1u}) {
        AnalyticProblem problem(
            3, {-1.2, 1.0, 3.0},
            [](const Vec& x) { return Vec{10.0 * (x[1] - x[0] * x[0]), 1.0 - x[0], std::sin(x[2]) + 2.0}; },
            [](const Vec& x) { return Vec{-20.0 * x[0], -1.0, 0.0, 10.0, 0.0, 0.0, 0.0, 0.0, std::cos(x[2])}; });
        const auto report = lm_minimize(problem, LmOptions{1e-8, 1e-8, 1e-8, max_iterations});
        ASSERT_TRUE(report);
        EXPECT_LE(report->evaluations, 4u);
        EXPECT_EQ(report->evaluations, problem.evaluations);
        EXPECT_EQ(report->reason, LmTermination::BudgetExhausted);
        EXPECT_FALSE(is_success(report->reason));
    }
}

TEST(LmSolver, StationaryStartEndsOrthogonal) {
    // Inconsistent linear system x = 1, x = 3 started at its least-squares solution.
    AnalyticProblem problem(2, {2.0}, [](const Vec& x) { return Vec{x[0] - 1.0, x[0] - 3.0}; },
                            [](const Vec&) { return Vec{1.0, 1.0}; });
    const auto report = lm_minimize(problem, LmOptions{});
    EXPECT_EQ(report->reason, LmTermination::Orthogonal);
    EXPECT_EQ(problem.params()[0], 2.0);
}

TEST(LmSolver, ZeroTolerancesEndAsTooSmallOrConverged) {
    AnalyticProblem problem(2, {-1.2, 1.0}, [](const Vec& x) { return Vec{10.0 * (x[1] - x[0] * x[0]), 1.0 - x[0] + 0.5}; },
                            [](const Vec& x) { return Vec{-20.0 * x[0], -1.0, 10.0, 0.0}; });
    const auto report = lm_minimize(problem, LmOptions{0.0, 0.0, 0.0, 10000});
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->reason == LmTermination::ToleranceTooSmall || report->reason == LmTermination::Orthogonal ||
                report->reason == LmTermination::Converged)
        << static_cast<int>(report->reason);
    EXPECT_NEAR(problem.params()[0], 1.5, 1e-12);
}

TEST(LmSolver, RecoversFromTrialsIntoANonFiniteRegion) {
    // 1/x - 0.5 is undefined for x <= 0; the first Gauss-Newton step from
    // 10 lands at -30.
    AnalyticProblem problem(1, {10.0}, [](const Vec& x) { return Vec{x[0] > 0.0 ? 1.0 / x[0] - 0.5 : NaN}; },
                            [](const Vec& x) { return Vec{-1.0 / (x[0] * x[0])}; });
    const auto report = lm_minimize(problem, LmOptions{});
    ASSERT_TRUE(report);
    EXPECT_TRUE(is_success(report->reason));
    EXPECT_NEAR(problem.params()[0], 2.0, 1e-9);
}

TEST(LmSolver, NaNJacobianFailsWithoutClaimingConvergence) {
    AnalyticProblem problem(2, {1.0, 1.0}, [](const Vec& x) { return Vec{x[0] - 3.0, x[1] - 4.0}; },
                            [](const Vec&) { return Vec{1.0, 0.0, NaN, NaN}; });
    const auto report = lm_minimize(problem, LmOptions{});
    EXPECT_EQ(report->reason, LmTermination::NonFinite);
    EXPECT_EQ(problem.params(), (Vec{1.0, 1.0}));
}

TEST(LmSolver, ReturnsTheLastAcceptedIterate) {
    AnalyticProblem problem(2, {-1.2, 1.0}, [](const Vec& x) { return Vec{10.0 * (x[1] - x[0] * x[0]), 1.0 - x[0]}; },
                            [](const Vec& x) { return Vec{-20.0 * x[0], -1.0, 10.0, 0.0}; });
    const auto report = lm_minimize(problem, LmOptions{1e-8, 1e-8, 1e-8, 3});
    ASSERT_TRUE(report);
    // The cost at the returned vector never exceeds the start's.
    EXPECT_LE(sum_of_squares(problem.residuals()), sum_of_squares(Vec{10.0 * (1.0 - 1.44), 2.2}));
}

TEST(LmSolver, FewerResidualsThanParameters) {
    AnalyticProblem problem(1, {0.0, 0.0, 0.0}, [](const Vec& x) { return Vec{x[0] + 2.0 * x[1] - x[2] - 3.0}; },
                            [](const Vec&) { return Vec{1.0, 2.0, -1.0}; });
    const auto report = lm_minimize(problem, LmOptions{});
    ASSERT_TRUE(report);
    EXPECT_TRUE(is_success(report->reason));
    const Vec x = problem.params();
    EXPECT_NEAR(x[0] + 2.0 * x[1] - x[2], 3.0, 1e-12);
}

TEST(LmSolver, RankDeficientJacobian) {
    AnalyticProblem problem(2, {0.0, 0.0}, [](const Vec& x) { return Vec{x[0] + x[1] - 3.0, 2.0 * (x[0] + x[1]) - 6.0}; },
                            [](const Vec&) { return Vec{1.0, 2.0, 1.0, 2.0}; });
    const auto report = lm_minimize(problem, LmOptions{});
    ASSERT_TRUE(report);
    EXPECT_TRUE(is_success(report->reason));
    EXPECT_NEAR(problem.params()[0] + problem.params()[1], 3.0, 1e-12);
}

struct ToleranceCase {
    LmOptions options;
    std::string message;
};

class NegativeTolerance : public ::testing::TestWithParam<ToleranceCase> {};

TEST_P(NegativeTolerance, IsRefusedBeforeAnyEvaluation) {
    AnalyticProblem problem = shifted({0.0}, {1.0});
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
    const Vec truth{10.0, 100.0, 1e-4, 0.8};
    Vec omega, weights;
    std::vector<Complex> measured;
    for (int i = 0; i < 30; ++i) {
        omega.push_back(std::pow(10.0, -1.0 + 0.2 * i));
        measured.push_back(impedance_with_params(nodes, truth, omega.back()));
        weights.push_back(1.0);
    }
    const double alpha = 0.7123456789012345;
    EvalCounter counter;
    LmProblem problem(nodes, omega, measured, weights, param_bounds(nodes), {1.0, 2.0, -3.0, alpha},
                      {false, false, false, true}, counter);
    const auto report = lm_minimize(problem, LmOptions{});
    ASSERT_TRUE(report);
    EXPECT_EQ(problem.params()[3], alpha);
    EXPECT_NE(problem.params()[0], 1.0);
}

TEST(Enorm, AvoidsOverflowAndUnderflowAndPropagatesNaN) {
    using minpack::enorm;
    EXPECT_EQ(enorm(Vec{}), 0.0);
    EXPECT_EQ(enorm(Vec{3.0, 4.0}), 5.0);
    EXPECT_DOUBLE_EQ(enorm(Vec{3e200, 4e200}), 5e200);
    EXPECT_DOUBLE_EQ(enorm(Vec{3e-200, 4e-200}), 5e-200);
    EXPECT_DOUBLE_EQ(enorm(Vec{3e-200, 4e-200, 1.0}), 1.0);
    EXPECT_DOUBLE_EQ(enorm(Vec{1e-30, 1e25, 1.0}), 1e25);
    EXPECT_TRUE(std::isnan(enorm(Vec{1.0, NaN, 2.0})));
    EXPECT_TRUE(std::isnan(enorm(Vec{NaN})));
    EXPECT_FALSE(std::isfinite(enorm(Vec{1.0, INF})));
    EXPECT_FALSE(std::isfinite(enorm(Vec{INF, INF})));
}

}  // namespace
}  // namespace vorlane
