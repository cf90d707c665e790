// What a fit may do with a circuit's parameters beyond its default bounds:
// parameters held at their values, bounds of the user's own, and arcs that
// come out ordered by time constant. A circuit without any keeps the empty
// record, and everything behaves as if the record did not exist.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "circuit/tree.hpp"

namespace vorlane {

using Bound = std::pair<double, double>;

struct Constraints {
    // One flag per parameter, or empty when none is fixed. A fixed
    // parameter keeps the value the tree holds for it.
    std::vector<bool> fixed;
    // Own bounds per parameter (nothing: the default bounds), or empty.
    std::vector<std::optional<Bound>> bounds;
    bool ordered_arcs = false;

    bool empty() const { return fixed.empty() && bounds.empty() && !ordered_arcs; }
    bool is_fixed(std::size_t i) const { return i < fixed.size() && fixed[i]; }
    std::optional<Bound> own_bound(std::size_t i) const { return i < bounds.size() ? bounds[i] : std::nullopt; }
};

// "(lo, hi)" in the numbers of the circuit table.
std::string range_text(Bound b);

// The default bounds with the own bounds put in their place.
std::vector<Bound> effective_bounds(const SeriesList& nodes, const Constraints& constraints);

// Indices of the parameters a fit varies, in layout order.
std::vector<std::size_t> free_indices(const Constraints& constraints, std::size_t param_count);

// `constraints` with the parameters at `indices` fixed at `values` (the
// tree's values are set by the caller), or the message saying which value
// cannot be held and why: it must be finite and inside the parameter's
// bounds.
std::expected<Constraints, std::string> fix_params(const SeriesList& nodes, Constraints constraints,
                                                   const std::vector<std::size_t>& indices,
                                                   const std::vector<double>& values);

// `constraints` with own bounds at `indices` (nothing: back to the
// default), or the message saying which bound is refused and why: both ends
// numbers, lower below upper, inside the default (physical) range, and
// holding the value of a fixed parameter.
std::expected<Constraints, std::string> bound_params(const SeriesList& nodes, Constraints constraints,
                                                     const std::vector<std::size_t>& indices,
                                                     const std::vector<std::optional<Bound>>& bounds);

// The message for the first fixed parameter whose value in `values` is not
// finite or lies outside its bounds; nothing when every one can be held.
std::optional<std::string> check_fixed_values(const SeriesList& nodes, const Constraints& constraints,
                                              const std::vector<double>& values);

// The constraints of a circuit composed of `parts` whose parameter counts
// are `counts`, in order: the parameters keep theirs, and arcs are ordered
// when any part asked for it.
Constraints concatenate(const std::vector<Constraints>& parts, const std::vector<std::size_t>& counts);

}  // namespace vorlane
