// The free parameters of a fit and the residuals seen through them.
#include "fit/fit_model.hpp"

#include "circuit/layout.hpp"
#include "fit/jacobian.hpp"

namespace vorlane {

namespace {

template <class T>
std::vector<T> pick(const std::vector<T>& all, const std::vector<std::size_t>& indices) {
    std::vector<T> out;
    out.reserve(indices.size());
    for (const std::size_t i : indices) out.push_back(all[i]);
    return out;
}

}  // namespace

FitModel::FitModel(const SeriesList& nodes) : FitModel(nodes, Constraints{}) {}

FitModel::FitModel(const SeriesList& nodes, const Constraints& constraints) {
    auto state = std::make_shared<State>();
    state->nodes = nodes;
    state->constraints = constraints;
    state->param_count = vorlane::param_count(nodes);
    state->free = vorlane::free_indices(constraints, state->param_count);
    state->bounds = pick(effective_bounds(nodes, constraints), state->free);
    state->values = param_values(nodes);
    state->start = pick(state->values, state->free);
    state_ = std::move(state);
}

std::vector<double> FitModel::placeholders() const { return pick(placeholder_values(tree()), free_indices()); }

std::vector<std::string> FitModel::names() const { return pick(param_names(tree()), free_indices()); }

std::vector<double> FitModel::full(std::span<const double> free) const {
    if (all_free()) return {free.begin(), free.end()};
    std::vector<double> all = state_->values;
    full_into(free, all);
    return all;
}

void FitModel::full_into(std::span<const double> free, std::span<double> all) const {
    for (std::size_t k = 0; k < free.size() && k < state_->free.size(); ++k) {
        if (state_->free[k] < all.size()) all[state_->free[k]] = free[k];
    }
}

std::vector<double> FitModel::free_part(std::span<const double> all) const {
    std::vector<double> free;
    free.reserve(size());
    for (const std::size_t i : state_->free) free.push_back(i < all.size() ? all[i] : 0.0);
    return free;
}

FitModel FitModel::with_start(std::span<const double> free) const {
    return FitModel(rebuild_with_values(tree(), full(free)), constraints());
}

std::vector<double> residuals(const FitModel& model, std::span<const double> free, std::span<const double> omega,
                              std::span<const Complex> measured, std::span<const double> weights,
                              EvalCounter& counter) {
    if (model.all_free()) return residuals(model.tree(), free, omega, measured, weights, counter);
    return residuals(model.tree(), model.full(free), omega, measured, weights, counter);
}

void residuals_into(const FitModel& model, std::span<const double> free, std::span<const double> omega,
                    std::span<const Complex> measured, std::span<const double> weights, EvalCounter& counter,
                    std::span<double> out) {
    if (model.all_free()) return residuals_into(model.tree(), free, omega, measured, weights, counter, out);
    residuals_into(model.tree(), model.full(free), omega, measured, weights, counter, out);
}

std::vector<std::vector<double>> jacobian_columns(const FitModel& model, std::span<const double> free,
                                                  std::span<const double> omega, std::span<const Complex> measured,
                                                  std::span<const double> weights, EvalCounter& counter) {
    if (model.all_free()) return jacobian_columns(model.tree(), free, omega, measured, weights, counter);
    std::vector<std::vector<double>> all =
        jacobian_columns(model.tree(), model.full(free), omega, measured, weights, counter);
    std::vector<std::vector<double>> columns;
    columns.reserve(model.size());
    for (const std::size_t i : model.free_indices()) columns.push_back(std::move(all[i]));
    return columns;
}

}  // namespace vorlane
