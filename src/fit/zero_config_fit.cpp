// The global stage of a zero-configuration fit: starts scaled from the
// spectrum and seeded random jumps around the fit and its start, sorted by
// cost; least-squares fits from the few best.
#include "fit/zero_config_fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "fit/chacha_rng.hpp"
#include "fit/data_scaled_start.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "fit/noise_floor.hpp"

namespace vorlane {
namespace {

// A fit whose cost exceeds the noise floor by this factor is looked at again.
constexpr double POOR_FIT_FACTOR = 1.5;
constexpr std::uint64_t STAGE_SEED = 0x5eed;
constexpr std::size_t JUMPS = 96;           // random points per round
constexpr double JUMP_DECADES = 1.5;        // half-width of a jump in log10 units
constexpr double EXPONENT_LOW = 0.3;        // range-bounded values drawn in [lower + this * range, upper]
constexpr std::size_t FITS_PER_ROUND = 3;   // least-squares fits from the best points
constexpr std::size_t ROUNDS = 2;

struct Scored {
    std::vector<double> params;
    double cost;
};

class Stage {
public:
    Stage(const SeriesList& nodes, std::span<const double> frequencies_hz, std::span<const Complex> measured,
          bool modulus, const LmOptions& options)
        : nodes_(nodes), frequencies_(frequencies_hz), measured_(measured), modulus_(modulus), options_(options),
          bounds_(param_bounds(nodes)) {
        omega_.resize(frequencies_hz.size());
        for (std::size_t i = 0; i < omega_.size(); ++i) omega_[i] = frequencies_hz[i] * TWO_PI;
        weights_ = compute_weights(measured, modulus);
    }

    double floor() const { return expected_optimum_cost(omega_, measured_, weights_, bounds_.size()); }

    double cost(std::span<const double> params) const {
        const double c = cost_of(residuals(nodes_, params, omega_, measured_, weights_, counter_));
        return std::isfinite(c) ? c : std::numeric_limits<double>::infinity();
    }

    FitResultOr fit_from(std::span<const double> params) const {
        return levenberg_marquardt_fit(rebuild_with_values(nodes_, params), frequencies_, measured_, modulus_,
                                       options_);
    }

    // Starting points of one round, the cheapest first.
    std::vector<Scored> candidates(std::span<const double> best, std::span<const double> start, ChaChaRng& rng) const {
        std::vector<Scored> pool;
        const SpectrumScales scales = spectrum_scales(frequencies_, measured_);
        for (std::size_t p = 0; p < ARC_PLACEMENT_COUNT; ++p) {
            std::vector<double> values = data_scaled_values(nodes_, scales, static_cast<ArcPlacement>(p));
            pool.push_back({values, cost(values)});
        }
        const std::vector<double> centres[2] = {to_solver_space(best, bounds_), to_solver_space(start, bounds_)};
        for (std::size_t j = 0; j < JUMPS; ++j) {
            std::vector<double> y = centres[j % 2];
            for (std::size_t i = 0; i < y.size(); ++i) {
                const auto [lower, upper] = bounds_[i];
                if (unbounded_above(bounds_[i])) {
                    y[i] += JUMP_DECADES * (2.0 * rng.unit() - 1.0);
                } else {
                    y[i] = rng.between(lower + EXPONENT_LOW * (upper - lower), upper);
                }
            }
            std::vector<double> params = physical(y, bounds_);
            const double c = cost(params);
            pool.push_back({std::move(params), c});
        }
        std::stable_sort(pool.begin(), pool.end(), [](const Scored& a, const Scored& b) { return a.cost < b.cost; });
        return pool;
    }

    std::uint64_t evaluations() const { return counter_.value(); }

private:
    const SeriesList& nodes_;
    std::span<const double> frequencies_;
    std::span<const Complex> measured_;
    bool modulus_;
    const LmOptions& options_;
    Bounds bounds_;
    std::vector<double> omega_;
    std::vector<double> weights_;
    mutable EvalCounter counter_;
};

bool poor(double cost, double floor) { return std::isfinite(floor) && !(cost <= POOR_FIT_FACTOR * floor); }

}  // namespace

FitResultOr zero_config_fit(const SeriesList& nodes, std::span<const double> frequencies_hz,
                            std::span<const Complex> measured, bool modulus, const LmOptions& options) {
    FitResultOr first = levenberg_marquardt_fit(nodes, frequencies_hz, measured, modulus, options);
    if (!first) return first;
    const Stage stage(nodes, frequencies_hz, measured, modulus, options);
    const double floor = stage.floor();
    if (!poor(first->cost, floor)) return first;

    const std::vector<double> start = param_values(nodes);
    FitOutcome best = std::move(*first);
    std::uint64_t iterations = best.iterations, evaluations = best.impedance_evals;
    ChaChaRng rng = ChaChaRng::from_seed(STAGE_SEED);
    for (std::size_t round = 0; round < ROUNDS && poor(best.cost, floor); ++round) {
        const std::vector<Scored> pool = stage.candidates(best.params, start, rng);
        for (std::size_t k = 0; k < FITS_PER_ROUND && k < pool.size(); ++k) {
            FitResultOr next = stage.fit_from(pool[k].params);
            if (!next) return next;
            iterations += next->iterations;
            evaluations += next->impedance_evals;
            if (next->cost < best.cost) best = std::move(*next);
        }
    }
    best.iterations = iterations;
    best.impedance_evals = evaluations + stage.evaluations();
    return best;
}

}  // namespace vorlane
