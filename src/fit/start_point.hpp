// What a fit's start means for its end: starting values are moved where the
// solver can move them, and no fit ends above the start it was given.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "circuit/tree.hpp"
#include "fit/fit_model.hpp"
#include "fit/residuals.hpp"

namespace vorlane {

// Every value finite and within [lower, upper] of its bounds.
bool within_bounds(std::span<const double> values, const Bounds& bounds);

// The same point up to rounding (1e-12 relative in every coordinate).
bool same_point(std::span<const double> a, std::span<const double> b);

struct MovedStart {
    FitModel model;                    // the model starting from the moved values
    std::vector<std::size_t> moved;    // parameter indices (in the whole tree) that moved
};

enum class StartOrigin { User, Guess };

// A start the solver can work from. A value that is not finite starts at
// its placeholder; a value beyond an end of a finite range starts at that
// end. An open-ended parameter at or below its lower bound (which the
// solver's logarithmic coordinate would pin there) starts at its placeholder
// when the user gave it, and just above the bound (twice it) when a network
// guessed it: a guess that small says the element is negligible. An own
// range that leaves the placeholder out takes a point inside it instead.
// Only free parameters move, within their effective bounds.
MovedStart move_start_inside(const FitModel& model, StartOrigin origin);

// A guess made a start for a constrained circuit: fixed parameters keep the
// tree's values, free ones outside their bounds move inside by the rule of
// move_start_inside for a guess, and interchangeable arcs are ordered when
// the constraints ask for it.
std::vector<double> constrained_guess(const SeriesList& nodes, const Constraints& constraints,
                                      std::vector<double> guessed);

}  // namespace vorlane
