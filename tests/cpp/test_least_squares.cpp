#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/least_squares.hpp"

namespace vorlane {
namespace {

ColumnMatrix from_rows(const std::vector<std::vector<double>>& rows) {
    ColumnMatrix a(rows.size(), rows.front().size());
    for (std::size_t i = 0; i < a.rows; ++i) {
        for (std::size_t j = 0; j < a.cols; ++j) a.at(i, j) = rows[i][j];
    }
    return a;
}

TEST(LeastSquares, RecoversExactSolutionOfConsistentSystem) {
    const ColumnMatrix a = from_rows({{1, 2, 0}, {0, 1, 3}, {4, 0, 1}, {1, 1, 1}, {2, -1, 5}});
    const std::vector<double> x_true{0.5, -2.0, 3.25};
    std::vector<double> b(a.rows, 0.0);
    for (std::size_t i = 0; i < a.rows; ++i) {
        for (std::size_t j = 0; j < a.cols; ++j) b[i] += a.at(i, j) * x_true[j];
    }
    const std::vector<double> x = solve_least_squares(a, b);
    for (std::size_t j = 0; j < 3; ++j) EXPECT_NEAR(x[j], x_true[j], 1e-13);
}

TEST(LeastSquares, ResidualIsOrthogonalToColumns) {
    // Fit of a line to four points: normal equations hold at the solution.
    const ColumnMatrix a = from_rows({{1, 0}, {1, 1}, {1, 2}, {1, 3}});
    const std::vector<double> b{1.0, 2.5, 2.0, 4.5};
    const std::vector<double> x = solve_least_squares(a, b);
    for (std::size_t j = 0; j < 2; ++j) {
        double dot = 0.0;
        for (std::size_t i = 0; i < 4; ++i) dot += a.at(i, j) * (b[i] - a.at(i, 0) * x[0] - a.at(i, 1) * x[1]);
        EXPECT_NEAR(dot, 0.0, 1e-13);
    }
    EXPECT_NEAR(x[1], 1.0, 1e-13);
}

TEST(LeastSquares, RankDeficientGivesMinimumNorm) {
    // Two identical columns: any x0 + x1 = 2 fits; the least norm splits it.
    const ColumnMatrix a = from_rows({{1, 1}, {2, 2}, {3, 3}});
    const std::vector<double> x = solve_least_squares(a, {2, 4, 6});
    EXPECT_NEAR(x[0], 1.0, 1e-13);
    EXPECT_NEAR(x[1], 1.0, 1e-13);
}

TEST(LeastSquares, ZeroMatrixGivesZero) {
    const std::vector<double> x = solve_least_squares(ColumnMatrix(3, 2), {1, 2, 3});
    EXPECT_EQ(x, (std::vector<double>{0.0, 0.0}));
}

}  // namespace
}  // namespace vorlane
