// The production least-squares problem: residuals and the chain-rule
// Jacobian in solver space.
#include "fit/lm_problem.hpp"

#include <algorithm>
#include <utility>

#include "fit/jacobian.hpp"

namespace vorlane {

namespace {

constexpr double LN_10 = 2.302585092994046;

}  // namespace

LmProblem::LmProblem(FitModel model, std::span<const double> omega, std::span<const Complex> measured,
                     std::span<const double> weights, Bounds bounds, std::span<const double> start,
                     const std::vector<bool>& fixed, EvalCounter& counter)
    : model_(std::move(model)),
      omega_(omega),
      measured_(measured),
      weights_(weights),
      points_(std::min({omega.size(), measured.size(), weights.size()})),
      bounds_(std::move(bounds)),
      u_(start.begin(), start.end()),
      fixed_(fixed),
      counter_(counter),
      tree_(model_.fixed_values()),
      columns_(model_.param_count()) {
    physical_.reserve(bounds_.size());
    physical_.resize(std::min(u_.size(), bounds_.size()));
}

void LmProblem::restart(std::span<const double> start, const std::vector<bool>& fixed) {
    u_.assign(start.begin(), start.end());
    fixed_ = fixed;
    physical_.resize(std::min(u_.size(), bounds_.size()));
}

void LmProblem::set_params(std::span<const double> u) { u_.assign(u.begin(), u.end()); }

std::span<const double> LmProblem::tree_params() {
    physical_into(u_, bounds_, physical_);
    if (model_.all_free()) return physical_;
    model_.full_into(physical_, tree_);
    return tree_;
}

bool LmProblem::residuals(std::span<double> out) {
    if (out.size() != num_residuals()) return false;
    residuals_into(model_.tree(), tree_params(), omega_, measured_, weights_, counter_, out);
    return true;
}

bool LmProblem::jacobian(double* out, std::size_t ld) {
    const std::span<const double> params = tree_params();
    const std::size_t rows = num_residuals();
    std::fill(columns_.begin(), columns_.end(), nullptr);
    const std::vector<std::size_t>& free = model_.free_indices();
    for (std::size_t c = 0; c < physical_.size(); ++c) {
        double* column = out + c * ld;
        if (c < fixed_.size() && fixed_[c]) {
            std::fill_n(column, rows, 0.0);
        } else {
            columns_[model_.all_free() ? c : free[c]] = column;
        }
    }
    jacobian_into(model_.tree(), params, omega_, measured_, weights_, counter_, columns_);
    for (std::size_t c = 0; c < physical_.size(); ++c) {
        if ((c < fixed_.size() && fixed_[c]) || !unbounded_above(bounds_[c])) continue;
        // d p / d u of p = lower + 10^u, taken at the current point.
        const double factor = (physical_[c] - bounds_[c].first) * LN_10;
        double* column = out + c * ld;
        for (std::size_t k = 0; k < rows; ++k) column[k] *= factor;
    }
    return true;
}

}  // namespace vorlane
