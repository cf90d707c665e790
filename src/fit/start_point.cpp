// Starting values the solver can move, and the comparisons with the start.
#include "fit/start_point.hpp"

#include <algorithm>
#include <cmath>

#include "circuit/layout.hpp"

namespace vorlane {

namespace {

constexpr double SAME_POINT_TOLERANCE = 1e-12;

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

MovedStart move_start_inside(const SeriesList& nodes, StartOrigin origin) {
    std::vector<double> values = param_values(nodes);
    const Bounds bounds = param_bounds(nodes);
    const std::vector<double> placeholders = placeholder_values(nodes);
    std::vector<std::size_t> moved;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto [lower, upper] = bounds[i];
        double start = values[i];
        if (!std::isfinite(start)) {
            start = placeholders[i];
        } else if (unbounded_above(bounds[i]) && start <= lower) {
            start = origin == StartOrigin::Guess && lower > 0.0 ? lower + lower : placeholders[i];
        } else if (start < lower) {
            start = lower;
        } else if (start > upper) {
            start = upper;
        }
        if (start != values[i] || std::isnan(values[i])) {
            values[i] = start;
            moved.push_back(i);
        }
    }
    if (moved.empty()) return {nodes, {}};
    return {rebuild_with_values(nodes, values), std::move(moved)};
}

}  // namespace vorlane
