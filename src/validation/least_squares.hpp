// Minimum-norm linear least squares for small dense problems.
#pragma once

#include <cstddef>
#include <vector>

namespace vorlane {

// A dense matrix stored column by column.
struct ColumnMatrix {
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<double> values;  // rows * cols, column j at [j * rows, (j + 1) * rows)

    ColumnMatrix(std::size_t r, std::size_t c) : rows(r), cols(c), values(r * c, 0.0) {}
    double& at(std::size_t i, std::size_t j) { return values[j * rows + i]; }
    double at(std::size_t i, std::size_t j) const { return values[j * rows + i]; }
};

// The x of least norm among those minimising |a x - b|, for rows >= cols and
// finite entries. Singular values below eps * max(rows, cols) times the
// largest count as zero, so rank-deficient problems give the same answer as
// a pseudo-inverse. Householder QR reduces the problem to the triangular
// factor, whose singular value decomposition comes from one-sided Jacobi
// rotations (Hestenes), accurate to the small singular values and
// deterministic, with a fixed rotation order. Columns of very different
// sizes should be scaled by the caller: the cut-off is relative.
std::vector<double> solve_least_squares(ColumnMatrix a, std::vector<double> b);

// min |a x - b|^2 from the Householder QR factorisation alone: the squares
// of the entries of Q^T b below the first `cols` rows. Cheaper than solving,
// and the same for every minimiser, so nearly dependent columns do not
// disturb it.
double least_squares_residual(ColumnMatrix a, std::vector<double> b);

}  // namespace vorlane
