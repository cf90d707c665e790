// Arcs that keep their identity: series members of the same shape can trade
// places without changing the impedance, so a fit may hand back either
// order. Ordering them by time constant, fastest first, makes a label mean
// the same process in every spectrum of a series.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "circuit/constraints.hpp"
#include "circuit/tree.hpp"

namespace vorlane {

// Members of one series list that share a shape with a time constant:
//   (R,C) and (C,R)       tau = r * c
//   (R,CPE) and (CPE,R)   tau = (r * q)^(1 / alpha)
//   (R,L) and (L,R)       tau = l / r
//   K, Zarc               tau = tau_k
//   Wo, Ws                tau = tau
//   G, Gs                 tau = tg
// A pair and the same pair written in the other order are two shapes,
// and a member of a parallel node with other branches is none. Each member is
// given by the index of its first parameter; all have `width` parameters.
struct ArcGroup {
    std::size_t width = 0;
    std::vector<std::size_t> firsts;  // layout order, at least two
};

// Every group of interchangeable members of the tree, in layout order.
std::vector<ArcGroup> interchangeable_arcs(const SeriesList& nodes);

// The permutation of parameter positions that orders the members of every
// group by time constant, fastest first (a NaN time constant last, ties in
// layout order): the ordered vector holds values[order[i]] at position i.
// A group whose members carry different constraints (fixed values or own
// bounds) keeps its order, since trading places would move a constraint.
std::vector<std::size_t> arc_order(const SeriesList& nodes, std::span<const double> values,
                                   const Constraints& constraints);

// `values` taken in `order`.
std::vector<double> permuted(std::span<const double> values, const std::vector<std::size_t>& order);

}  // namespace vorlane
