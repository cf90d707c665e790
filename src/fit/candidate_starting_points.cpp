// The nine deterministic starting points of the multi-start fit.
#include "fit/levenberg_marquardt.hpp"

#include <array>

namespace vorlane {

namespace {

// Log-scaled parameters are tried a factor away in both directions...
constexpr std::array<double, 4> UNBOUNDED_FACTORS = {3.0, 0.3333333333333333, 8.0, 0.125};
// ...and range-bounded ones (exponents) at fixed fractions of their range.
constexpr std::array<double, 4> RANGE_FRACTIONS = {0.2, 0.4, 0.6, 0.8};

}  // namespace

std::vector<std::vector<double>> candidate_starting_points(std::span<const double> x0, const Bounds& bounds) {
    std::vector<std::vector<double>> candidates;
    candidates.reserve(1 + UNBOUNDED_FACTORS.size() + RANGE_FRACTIONS.size());
    candidates.emplace_back(x0.begin(), x0.end());
    for (const double factor : UNBOUNDED_FACTORS) {
        std::vector<double>& c = candidates.emplace_back(x0.begin(), x0.end());
        for (std::size_t i = 0; i < c.size() && i < bounds.size(); ++i) {
            if (unbounded_above(bounds[i])) c[i] *= factor;
        }
    }
    for (const double t : RANGE_FRACTIONS) {
        std::vector<double>& c = candidates.emplace_back(x0.begin(), x0.end());
        for (std::size_t i = 0; i < c.size() && i < bounds.size(); ++i) {
            const auto [lower, upper] = bounds[i];
            if (!unbounded_above(bounds[i])) c[i] = lower + (upper - lower) * t;
        }
    }
    return candidates;
}

}  // namespace vorlane
