// Impedance of a circuit tree at one angular frequency or over a spectrum.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "circuit/tree.hpp"
#include "core/complex.hpp"

namespace vorlane {

inline constexpr double TWO_PI = 6.283185307179586;

// The reciprocal a parallel node sums (a branch's admittance) and the one it
// returns (the node's impedance). A short circuit (exactly 0) conducts
// without limit, so it makes the node 0; an open branch (an infinite part,
// no NaN) carries no current, so it drops out of the sum, and a node whose
// branches are all open is open itself. Everything else is the plain 1/z.
inline Complex parallel_reciprocal(Complex z) {
    if (z.re == 0.0 && z.im == 0.0) return {std::numeric_limits<double>::infinity(), 0.0};
    const bool infinite = std::isinf(z.re) || std::isinf(z.im);
    if (infinite && !std::isnan(z.re) && !std::isnan(z.im)) return {0.0, 0.0};
    return Complex{1.0, 0.0} / z;
}

// The only element of a parallel branch when the node can take its
// admittance directly (see has_direct_admittance), else nothing.
const Leaf* direct_admittance_leaf(const SeriesList& branch);

// What such a leaf adds to its node's sum: the direct admittance where it is
// usable, parallel_reciprocal of the impedance otherwise (zero, infinite and
// NaN cases keep their meaning).
Complex leaf_admittance(Kind kind, const double* params, double omega);

// Forward-only stream over a flat parameter vector. Reading past the end
// yields NaN and marks the cursor exhausted, so a short vector can never
// read out of bounds; callers that accept user vectors check the length
// beforehand and report "impedance_from_iter: not enough values supplied".
struct ParamCursor {
    const double* data;
    std::size_t size;
    std::size_t pos = 0;
    bool exhausted = false;
};

// The next `count` parameters of the cursor: a pointer into the vector when
// it holds enough values, otherwise the rest padded with NaN in `spare`.
const double* read_leaf_params(ParamCursor& cursor, std::size_t count,
                               std::array<double, MAX_ELEMENT_PARAMS>& spare);

// Impedance from the leaves' own values.
Complex impedance(const SeriesList& nodes, double omega);

// Impedance with parameters read from `cursor` in layout order.
Complex series_impedance_with_params(const SeriesList& nodes, ParamCursor& cursor, double omega);
Complex parallel_impedance_with_params(const ParallelNode& node, ParamCursor& cursor, double omega);

// Convenience: a fresh cursor over `params` for one frequency.
Complex impedance_with_params(const SeriesList& nodes, std::span<const double> params, double omega);

// One impedance per frequency (hertz), in input order; sequential below
// PARALLEL_SPECTRUM_THRESHOLD frequencies, over the worker pool from there
// on, identical either way. A point of a cheap circuit (R0-(R1,C1)) costs
// about 12 ns and the hand-over at least 6 us, more when the other processor
// is busy (then a worker that took a share may be preempted inside it):
// measured on a loaded two-core machine the pool only paid for such a
// circuit from about 5000 points, for R0-(R1,CPE1) from a few thousand.
inline constexpr std::size_t PARALLEL_SPECTRUM_THRESHOLD = 4096;
std::vector<Complex> spectrum_impedance(const SeriesList& nodes, std::span<const double> frequencies_hz);
// The same into out[0 .. frequencies_hz.size()).
void spectrum_impedance_into(const SeriesList& nodes, std::span<const double> frequencies_hz, Complex* out);

}  // namespace vorlane
