// Central-difference Jacobian of the residual vector, one column per pool task.
#pragma once

#include <span>
#include <vector>

#include "fit/residuals.hpp"

namespace vorlane {

// P columns of 2N entries, d r / d p_j at the physical `params`, in
// parameter order; costs 2P counted residual evaluations. Bit-identical
// whatever the number of workers.
std::vector<std::vector<double>> jacobian_columns(const SeriesList& nodes, std::span<const double> params,
                                                  std::span<const double> omega,
                                                  std::span<const Complex> measured,
                                                  std::span<const double> weights, EvalCounter& counter);

// The same columns written in place: column j to columns[j] (2N entries),
// skipped where columns[j] is null; counts 2P evaluations whatever is
// skipped. Allocates nothing once the calling thread has run a Jacobian of
// as many parameters.
void jacobian_into(const SeriesList& nodes, std::span<const double> params, std::span<const double> omega,
                   std::span<const Complex> measured, std::span<const double> weights, EvalCounter& counter,
                   std::span<double* const> columns);

}  // namespace vorlane
