// Inverse of a small dense square matrix, for the covariance of a fit.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace vorlane {

// Inverse of the n x n row-major matrix `a`: cofactor formulas for n <= 4,
// LU with partial pivoting (the first entry of largest magnitude in the
// column) above. Nothing when the determinant (n <= 4) or a pivot (n > 4)
// is exactly zero, or when a stop is requested (core/cancellation.hpp).
// NaN and infinity propagate.
std::optional<std::vector<double>> invert_matrix(std::span<const double> a, std::size_t n);

}  // namespace vorlane
