// Starting values the solver can move, and the comparisons with the start.
#include "fit/start_point.hpp"

#include <algorithm>
#include <cmath>

#include "circuit/arc_order.hpp"
#include "circuit/layout.hpp"


namespace vorlane {

namespace {

constexpr double SAME_POINT_TOLERANCE = 1e-12;

// The placeholder, or a point strictly inside an own range that leaves it
// out: twice an open range's lower bound (which is positive), the middle of
// a finite one.
double placeholder_inside(double placeholder, const std::pair<double, double>& bound) {
    const auto [lower, upper] = bound;
    if (unbounded_above(bound)) return placeholder > lower ? placeholder : 2.0 * lower;
    if (placeholder >= lower && placeholder <= upper) return placeholder;
    return lower + 0.5 * (upper - lower);
}

}  // namespace

bool within_bounds(std::span<const double> values, const Bounds& bounds) {
    if (values.size() != bounds.size()) return false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i]) || values[i] < bounds[i].first || values[i] > bounds[i].second) return false;
    }
    return true;
}

bool same_point(std::span<const double> a, std::span<const double> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double scale = std::max(std::fabs(a[i]), std::fabs(b[i]));
        if (!(std::fabs(a[i] - b[i]) <= SAME_POINT_TOLERANCE * scale)) return false;
    }
    return true;
}

MovedStart move_start_inside(const FitModel& model, StartOrigin origin) {
    std::vector<double> values = model.start();
    const Bounds& bounds = model.bounds();
    const std::vector<double> placeholders = model.placeholders();
    std::vector<std::size_t> moved;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto [lower, upper] = bounds[i];
        double start = values[i];
        if (!std::isfinite(start)) {
            start = placeholder_inside(placeholders[i], bounds[i]);
        } else if (unbounded_above(bounds[i]) && start <= lower) {
            start = origin == StartOrigin::Guess && lower > 0.0 ? lower + lower
                                                                 : placeholder_inside(placeholders[i], bounds[i]);
        } else if (start < lower) {
            start = lower;
        } else if (start > upper) {
            start = upper;
        }
        if (start != values[i] || std::isnan(values[i])) {
            values[i] = start;
            moved.push_back(model.free_indices()[i]);
        }
    }
    if (moved.empty()) return {model, {}};
    return {model.with_start(values), std::move(moved)};
}

std::vector<double> constrained_guess(const SeriesList& nodes, const Constraints& constraints,
                                      std::vector<double> guessed) {
    if (constraints.empty() || guessed.size() != param_count(nodes)) return guessed;
    const std::vector<double> own = param_values(nodes);
    for (std::size_t i = 0; i < guessed.size(); ++i) {
        if (constraints.is_fixed(i)) guessed[i] = own[i];
    }
    const FitModel model(rebuild_with_values(nodes, guessed), constraints);
    std::vector<double> start = model.full(move_start_inside(model, StartOrigin::Guess).model.start());
    if (!constraints.ordered_arcs) return start;
    return permuted(start, arc_order(nodes, start, constraints));
}

}  // namespace vorlane
