// The parameters a fit varies. Every method works on the free parameters
// only, within their effective bounds (own bounds where the circuit has
// them, the default ones otherwise); fixed parameters keep the values the
// tree holds and never reach a solver. An unconstrained circuit is a model
// whose free parameters are all of them, read straight from the tree.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "circuit/constraints.hpp"
#include "circuit/tree.hpp"
#include "fit/residuals.hpp"

namespace vorlane {

class FitModel {
public:
    // Every parameter free within its default bounds.
    FitModel(const SeriesList& nodes);  // NOLINT: an unconstrained tree is a model
    FitModel(const SeriesList& nodes, const Constraints& constraints);

    const SeriesList& tree() const { return state_->nodes; }
    const Constraints& constraints() const { return state_->constraints; }
    // Number of free parameters.
    std::size_t size() const { return state_->free.size(); }
    bool all_free() const { return state_->free.size() == state_->param_count; }
    std::size_t param_count() const { return state_->param_count; }
    const std::vector<std::size_t>& free_indices() const { return state_->free; }

    // Effective bounds, starting values, placeholders and names of the free
    // parameters, in layout order.
    const Bounds& bounds() const { return state_->bounds; }
    const std::vector<double>& start() const { return state_->start; }
    std::vector<double> placeholders() const;
    std::vector<std::string> names() const;

    // Every parameter as the tree holds it.
    const std::vector<double>& fixed_values() const { return state_->values; }
    // Every parameter: `free` in the free places, the fixed values elsewhere.
    std::vector<double> full(std::span<const double> free) const;
    // The same into `all`, which holds every parameter (the fixed ones
    // already in place, as full() left them).
    void full_into(std::span<const double> free, std::span<double> all) const;
    // The free entries of a full parameter vector.
    std::vector<double> free_part(std::span<const double> all) const;
    // The same model starting from `free`.
    FitModel with_start(std::span<const double> free) const;

private:
    struct State {
        SeriesList nodes;
        Constraints constraints;
        std::size_t param_count = 0;
        std::vector<std::size_t> free;
        Bounds bounds;
        std::vector<double> start;
        std::vector<double> values;
    };
    std::shared_ptr<const State> state_;  // shared: models are copied into every solver run
};

// The residual vector and its Jacobian columns over the free parameters.
std::vector<double> residuals(const FitModel& model, std::span<const double> free, std::span<const double> omega,
                              std::span<const Complex> measured, std::span<const double> weights,
                              EvalCounter& counter);
// The same into `out` (2 * min(lengths) entries).
void residuals_into(const FitModel& model, std::span<const double> free, std::span<const double> omega,
                    std::span<const Complex> measured, std::span<const double> weights, EvalCounter& counter,
                    std::span<double> out);
std::vector<std::vector<double>> jacobian_columns(const FitModel& model, std::span<const double> free,
                                                  std::span<const double> omega, std::span<const Complex> measured,
                                                  std::span<const double> weights, EvalCounter& counter);

}  // namespace vorlane
