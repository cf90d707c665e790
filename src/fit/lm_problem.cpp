// The production least-squares problem: residuals and the chain-rule
// Jacobian in solver space.
#include "fit/lm_problem.hpp"

#include <utility>

#include "fit/jacobian.hpp"

namespace vorlane {

namespace {

constexpr double LN_10 = 2.302585092994046;

}  // namespace

LmProblem::LmProblem(FitModel model, std::vector<double> omega, std::span<const Complex> measured,
                     std::vector<double> weights, Bounds bounds, std::vector<double> start,
                     std::vector<bool> fixed, EvalCounter& counter)
    : model_(std::move(model)),
      omega_(std::move(omega)),
      measured_(measured),
      weights_(std::move(weights)),
      bounds_(std::move(bounds)),
      u_(std::move(start)),
      fixed_(std::move(fixed)),
      counter_(counter) {}

void LmProblem::set_params(std::span<const double> u) { u_.assign(u.begin(), u.end()); }

std::vector<double> LmProblem::residuals() const {
    return vorlane::residuals(model_, physical(u_, bounds_), omega_, measured_, weights_, counter_);
}

std::vector<double> LmProblem::jacobian() const {
    const std::vector<double> p = physical(u_, bounds_);
    const std::vector<std::vector<double>> columns =
        jacobian_columns(model_, p, omega_, measured_, weights_, counter_);
    const std::size_t rows = num_residuals();
    std::vector<double> j(rows * columns.size(), 0.0);
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c < fixed_.size() && fixed_[c]) continue;
        // d p / d u of p = lower + 10^u, taken at the current point; a
        // factor of 1 leaves every entry, NaN included, as it is.
        const double factor = unbounded_above(bounds_[c]) ? (p[c] - bounds_[c].first) * LN_10 : 1.0;
        double* out = j.data() + c * rows;
        for (std::size_t k = 0; k < rows && k < columns[c].size(); ++k) out[k] = columns[c][k] * factor;
    }
    return j;
}

}  // namespace vorlane
