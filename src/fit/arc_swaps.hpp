// Neighbouring minima of a circuit with arcs: the fit may hand the broad
// arc's values to the narrow one and the other way round, or fit an arc
// inside the window where another minimum has it at (or beyond) an end, or
// lose an arc altogether (a resistance gone to nothing, an exponent to 0)
// where the data still shows one. A start with two arcs' values traded, with
// one arc's time constant moved to an end of the window, or with one arc
// put back where the fit misses the data, lets the solver reach the other
// arrangement. A diffusion element (Wo, Ws) can likewise end with its
// transition far outside the window, where it acts as a plain Warburg.
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
// other arc's time constant (r c, or (r q)^(1 / alpha)), the CPE with the
// exponent 0.99 of a near-capacitance, as it takes a capacitance's place.
// Pairs in layout order.
std::vector<std::vector<double>> arc_swaps(const SeriesList& nodes, std::span<const double> values);

// For every top-level parallel member with a resistance and a C or CPE leaf,
// in layout order: `values` with that leaf's value giving the arc (with the
// member's first resistance, the CPE keeping its exponent) the time constant
// 1 / omega_low, then the same for 1 / omega_high. Starts with a value that
// is not finite and positive are left out.
std::vector<std::vector<double>> arc_edge_moves(const SeriesList& nodes, std::span<const double> values,
                                                double omega_low, double omega_high);

// For every top-level parallel member with a resistance and a CPE whose
// exponent lies below `below` and whose time constant lies within a decade
// of 1 / omega_high, in layout order: `values` with that CPE's exponent set
// to `alpha` and its q giving the arc (with the member's first resistance)
// the time constant 1 / omega_high. A broad arc at the top of the window may
// stand in for a sharper one just above it. Starts with a value that is not
// finite and positive are left out.
std::vector<std::vector<double>> broad_arcs_sharpened(const SeriesList& nodes, std::span<const double> values,
                                                      double omega_high, double below, double alpha);

// For every top-level parallel member with a resistance and a C or CPE leaf,
// in layout order: `values` with that member's first resistance set to `r`
// and its leaf giving the arc the time constant 1 / omega, a CPE with the
// exponent `alpha`. Arcs whose time constant lies within half a decade of
// 1 / omega are there already and left out, as are starts with a value that
// is not finite and positive.
std::vector<std::vector<double>> arc_moves_to(const SeriesList& nodes, std::span<const double> values, double r,
                                              double omega, double alpha);

// For every Wo and Ws leaf, in layout order: `values` with its diffusion
// time set to `tau` and its z0 scaled so that z0 / sqrt(tau), the Warburg
// coefficient it shows above its transition, stays. Leaves whose time lies
// within half a decade of `tau` are left out, as are starts with a value
// that is not finite and positive.
std::vector<std::vector<double>> diffusion_moves_to(const SeriesList& nodes, std::span<const double> values,
                                                    double tau);

}  // namespace vorlane
