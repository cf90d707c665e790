// Weights, the weighted residual vector, its cost, the evaluation counter and
// the mapping between physical values and the solver space.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "circuit/tree.hpp"
#include "core/complex.hpp"

namespace vorlane {

// One per fit (or per residuals/jacobian call), shared by all its threads.
struct EvalCounter {
    std::atomic<std::uint64_t> n{0};
    void add(std::uint64_t k = 1) { n.fetch_add(k, std::memory_order_relaxed); }
    std::uint64_t value() const { return n.load(std::memory_order_relaxed); }
};

// modulus: max(|Z_i|, 1e-30) (NaN counts as below the floor); unit: 1.0.
std::vector<double> compute_weights(std::span<const Complex> measured, bool modulus);

// Interleaved [re0, im0, re1, im1, ...] of (model - measured) / weight at the
// physical `params`; adds 1 to `counter`.
std::vector<double> residuals(const SeriesList& nodes, std::span<const double> params,
                              std::span<const double> omega, std::span<const Complex> measured,
                              std::span<const double> weights, EvalCounter& counter);
// The same into `out`, which holds 2 * min(lengths) entries; allocates nothing.
void residuals_into(const SeriesList& nodes, std::span<const double> params, std::span<const double> omega,
                    std::span<const Complex> measured, std::span<const double> weights, EvalCounter& counter,
                    std::span<double> out);

// One point of the residual vector, model minus measurement over the weight
// in both parts; the Jacobian columns difference the same numbers.
inline Complex weighted_residual(Complex model, Complex measured, double weight) {
    return {(model.re - measured.re) / weight, (model.im - measured.im) / weight};
}

// Half the plain left-to-right sum of squares.
double cost_of(std::span<const double> r);

using Bounds = std::vector<std::pair<double, double>>;

// Unbounded above (upper not finite): u = log10(max(p - lower, 1e-300));
// otherwise u = p. Both apply over the shorter of the two inputs.
std::vector<double> to_solver_space(std::span<const double> physical_values, const Bounds& bounds);
std::vector<double> physical(std::span<const double> solver_values, const Bounds& bounds);
// physical() into `out`, which holds min(lengths) entries.
void physical_into(std::span<const double> solver_values, const Bounds& bounds, std::span<double> out);

// Each value forced into [lower, upper]; a NaN stays NaN. Over the shorter input.
std::vector<double> clamp_to_bounds(std::span<const double> values, const Bounds& bounds);

inline bool unbounded_above(const std::pair<double, double>& b) { return !(b.second - b.second == 0.0); }

}  // namespace vorlane
