// The working memory a fit needs, and the bound above which it is refused
// before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "fit/fit_dispatch.hpp"

namespace vorlane {

// Bytes the fit described by `options` needs at its peak for `points`
// frequencies and `params` parameters: the finite-difference Jacobian
// (held three times over: its columns, the solver-space matrix and the
// solver's copy padded to max(2 * points, params) rows), J^T J with its LU
// factors and inverse for the standard errors, and what the global method
// keeps per particle or vertex.
double fit_working_bytes(std::size_t points, std::size_t params, const FitOptions& options);

// Half the physical memory, at most 16 GB: a fit near that size takes hours
// (the covariance alone is cubic in the parameters), so anything larger is
// a mistake rather than a wish.
std::uint64_t fit_memory_limit();

// A TooLarge error saying how much the fit needs and why, when it needs
// more than fit_memory_limit().
std::optional<FitError> check_fit_size(std::size_t points, std::size_t params, const FitOptions& options);

}  // namespace vorlane
