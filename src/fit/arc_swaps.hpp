// Neighbouring minima of a circuit with several arcs: the fit may hand the
// broad arc's values to the narrow one and the other way round. A start with
// two arcs' values traded lets the solver reach the other arrangement.
#pragma once

#include <span>
#include <vector>

#include "circuit/tree.hpp"

namespace vorlane {

// For every pair of top-level parallel members that share at least one
// element kind and are not the same shape (trading identical arcs changes
// nothing): `values` with the k-th leaf of each kind in one member and the
// k-th leaf of that kind in the other trading values. Leaves without a
// partner of their kind keep theirs, except a C facing a CPE when the
// resistances traded: each then takes the value that gives its arc the
// other arc's time constant (r c, or (r q)^(1 / alpha), the CPE keeping its
// exponent). Pairs in layout order.
std::vector<std::vector<double>> arc_swaps(const SeriesList& nodes, std::span<const double> values);

}  // namespace vorlane
