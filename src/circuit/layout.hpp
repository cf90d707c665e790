// The flat parameter vector of a circuit: layout order, names, units,
// bounds, values, and rebuilding a tree with new values.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "circuit/tree.hpp"

namespace vorlane {

// Calls visit(leaf) on the element leaves in layout order (depth first,
// branches in order).
template <class Visit>
void for_each_leaf(const Node& node, Visit&& visit) {
    if (const Leaf* leaf = node.leaf()) {
        visit(*leaf);
        return;
    }
    for (const SeriesList& branch : node.parallel()->branches) {
        for (const Node& member : branch) for_each_leaf(member, visit);
    }
}
template <class Visit>
void for_each_leaf(const SeriesList& nodes, Visit&& visit) {
    for (const Node& node : nodes) for_each_leaf(node, visit);
}

// Those leaves in a vector.
std::vector<const Leaf*> collect_leaves(const SeriesList& nodes);

// Levels of nested parallel nodes: 0 for a plain series, 1 for "R0-(R1,C1)".
std::size_t parallel_depth(const SeriesList& nodes);

std::size_t param_count(const SeriesList& nodes);
// The parameter index range (first, count) of each member of the series
// list, in written order.
std::vector<std::pair<std::size_t, std::size_t>> member_param_ranges(const SeriesList& nodes);
// Each leaf's label in layout order; an unlabeled leaf gets the canonical
// name of its kind and a counter per kind ("R0", "R1", "Cpe0").
std::vector<std::string> leaf_labels(const SeriesList& nodes);
std::vector<std::string> param_names(const SeriesList& nodes);
std::vector<std::string> param_units(const SeriesList& nodes);
std::vector<std::pair<double, double>> param_bounds(const SeriesList& nodes);
std::vector<double> param_values(const SeriesList& nodes);
// The values the elements get when written in a circuit string.
std::vector<double> placeholder_values(const SeriesList& nodes);

// Same shape, labels and kinds; values taken in layout order. The caller
// guarantees values.size() == param_count(nodes).
SeriesList rebuild_with_values(const SeriesList& nodes, std::span<const double> values);

}  // namespace vorlane
