// Fixed parameters and own bounds: the bounds a fit uses, the checks that
// keep them physical, and their composition.
#include "circuit/constraints.hpp"

#include <cmath>

#include "circuit/layout.hpp"
#include "core/number_format.hpp"
#include "core/quoting.hpp"

namespace vorlane {

namespace {

}  // namespace

std::string range_text(Bound b) {
    std::string text = "(";
    text += format_table_number(b.first);
    text += ", ";
    text += format_table_number(b.second);
    text += ')';
    return text;
}

namespace {

// Why `value` cannot be held by the parameter named `name` within `bounds`.
std::optional<std::string> unholdable(const std::string& name, double value, Bound bounds) {
    if (!std::isfinite(value)) {
        return "cannot fix " + quote(name) + " at " + format_table_number(value) + ": a fixed value must be finite";
    }
    if (value < bounds.first || value > bounds.second) {
        return "cannot fix " + quote(name) + " at " + format_table_number(value) + ": it lies outside its bounds " +
               range_text(bounds);
    }
    return std::nullopt;
}

// Why the own bound `b` is refused for a parameter with default bounds
// `physical`; nothing when it is accepted.
std::optional<std::string> refused_bound(const std::string& name, Bound b, Bound physical) {
    const std::string head = "bounds " + range_text(b) + " for " + quote(name) + ": ";
    if (std::isnan(b.first) || std::isnan(b.second)) return head + "both ends must be numbers";
    if (!(b.first < b.second)) {
        return head + "the lower bound must be below the upper bound (use with_fixed to hold a value)";
    }
    if (b.first < physical.first) {
        return head + "the lower bound is below the physical range " + range_text(physical) + " of the parameter";
    }
    if (b.second > physical.second) {
        return head + "the upper bound is above the physical range " + range_text(physical) + " of the parameter";
    }
    return std::nullopt;
}

}  // namespace

std::vector<Bound> effective_bounds(const SeriesList& nodes, const Constraints& constraints) {
    std::vector<Bound> bounds = param_bounds(nodes);
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        if (const std::optional<Bound> own = constraints.own_bound(i)) bounds[i] = *own;
    }
    return bounds;
}

std::vector<std::size_t> free_indices(const Constraints& constraints, std::size_t param_count) {
    std::vector<std::size_t> free;
    free.reserve(param_count);
    for (std::size_t i = 0; i < param_count; ++i) {
        if (!constraints.is_fixed(i)) free.push_back(i);
    }
    return free;
}

std::expected<Constraints, std::string> fix_params(const SeriesList& nodes, Constraints constraints,
                                                   const std::vector<std::size_t>& indices,
                                                   const std::vector<double>& values) {
    const std::vector<std::string> names = param_names(nodes);
    const std::vector<Bound> bounds = effective_bounds(nodes, constraints);
    for (std::size_t k = 0; k < indices.size() && k < values.size(); ++k) {
        if (auto why = unholdable(names[indices[k]], values[k], bounds[indices[k]])) return std::unexpected(*why);
    }
    if (indices.empty()) return constraints;
    constraints.fixed.resize(names.size(), false);
    for (const std::size_t i : indices) constraints.fixed[i] = true;
    return constraints;
}

std::expected<Constraints, std::string> bound_params(const SeriesList& nodes, Constraints constraints,
                                                     const std::vector<std::size_t>& indices,
                                                     const std::vector<std::optional<Bound>>& bounds) {
    const std::vector<std::string> names = param_names(nodes);
    const std::vector<Bound> physical = param_bounds(nodes);
    const std::vector<double> values = param_values(nodes);
    for (std::size_t k = 0; k < indices.size() && k < bounds.size(); ++k) {
        const std::size_t i = indices[k];
        if (!bounds[k]) continue;
        if (auto why = refused_bound(names[i], *bounds[k], physical[i])) return std::unexpected(*why);
        if (constraints.is_fixed(i)) {
            if (auto why = unholdable(names[i], values[i], *bounds[k])) return std::unexpected(*why);
        }
    }
    if (indices.empty()) return constraints;
    constraints.bounds.resize(names.size());
    for (std::size_t k = 0; k < indices.size() && k < bounds.size(); ++k) constraints.bounds[indices[k]] = bounds[k];
    bool any = false;
    for (const auto& b : constraints.bounds) any = any || b.has_value();
    if (!any) constraints.bounds.clear();
    return constraints;
}

std::optional<std::string> check_fixed_values(const SeriesList& nodes, const Constraints& constraints,
                                              const std::vector<double>& values) {
    if (constraints.fixed.empty()) return std::nullopt;
    const std::vector<std::string> names = param_names(nodes);
    const std::vector<Bound> bounds = effective_bounds(nodes, constraints);
    for (std::size_t i = 0; i < values.size() && i < bounds.size(); ++i) {
        if (!constraints.is_fixed(i)) continue;
        if (auto why = unholdable(names[i], values[i], bounds[i])) return why;
    }
    return std::nullopt;
}

Constraints concatenate(const std::vector<Constraints>& parts, const std::vector<std::size_t>& counts) {
    Constraints out;
    bool any_fixed = false;
    bool any_bound = false;
    for (const Constraints& part : parts) {
        any_fixed = any_fixed || !part.fixed.empty();
        any_bound = any_bound || !part.bounds.empty();
        out.ordered_arcs = out.ordered_arcs || part.ordered_arcs;
    }
    for (std::size_t p = 0; p < parts.size() && p < counts.size(); ++p) {
        for (std::size_t i = 0; i < counts[p]; ++i) {
            if (any_fixed) out.fixed.push_back(parts[p].is_fixed(i));
            if (any_bound) out.bounds.push_back(parts[p].own_bound(i));
        }
    }
    return out;
}

}  // namespace vorlane
