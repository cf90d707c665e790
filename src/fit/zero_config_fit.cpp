// The global stage of a zero-configuration fit: the fit with arcs traded;
// on noisy spectra, and for a fit with an exponent at an end of its range,
// a simplex walk from the start, the fit with an exponent held at the end
// of its range and the fit with an arc moved to an end of the window; for a
// start that placed its arcs at the maxima of -Im Z only (or a network's
// start whose fit passes the check but lies above the expected optimum by
// more than half its spread), the fit with an arc put where it misses the
// data most and with a diffusion transition moved into the window; the
// data-scaled starts, the best fit so far with arcs traded and seeded random
// jumps from it; each followed by a least-squares fit, while the fit stays
// well above the noise floor; last, after a network's start whose fit lies
// above the expected optimum, a broad arc near the top of the window
// sharpened there.
#include "fit/zero_config_fit.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <optional>
#include <utility>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "core/cancellation.hpp"
#include "core/math.hpp"
#include "fit/arc_swaps.hpp"
#include "fit/chacha_rng.hpp"
#include "fit/data_scaled_start.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "fit/nelder_mead.hpp"
#include "fit/noise_floor.hpp"

namespace vorlane {
namespace {

// A fit is looked at again when its cost exceeds the noise floor by more
// than the floor's own statistical spread allows: SPREAD_WIDTHS standard
// deviations of a chi-square cost with the fit's degrees of freedom, within
// [MIN_FACTOR, MAX_FACTOR].
constexpr double SPREAD_WIDTHS = 2.0;
constexpr double MIN_FACTOR = 1.05;
constexpr double MAX_FACTOR = 1.5;
// Above this relative noise (the noise floor against the size of the
// weighted data) neighbouring minima differ by less than the check can
// tell: the stage then always tries NOISY_FITS more starts.
constexpr double NOISY = 0.015;
constexpr std::size_t NOISY_FITS = 8;
// On noisy spectra the least-squares fit from the start falls into the
// nearest of several shallow minima a few per cent apart. A simplex walk of
// SIMPLEX_ITERATIONS steps from the start takes another road and ends near
// another one; a minimum with an exponent at the end of its range (a CPE
// that is a pure capacitance) lies where no unconstrained run settles; and
// one may have an arc at an end of the window (or beyond) where the fit has
// it inside.
constexpr std::uint64_t SIMPLEX_ITERATIONS = 600;
// A fit above the expected optimum but within the check's spread may still
// sit in a neighbouring minimum: MILD_FITS more starts then.
constexpr std::size_t MILD_FITS = 3;
// An arc put back where the fit misses the data: the misfit is the weighted
// residual averaged over MISFIT_NEIGHBOURS points on either side (noise and
// single outliers average out, a missing arc does not), the arc gets twice
// its modulus as resistance (an arc's -Im Z peaks at half its resistance)
// and a CPE the exponent MISFIT_EXPONENT.
constexpr std::size_t MISFIT_NEIGHBOURS = 2;
constexpr double MISFIT_EXPONENT = 0.9;
// After a network's start the moves run only for a fit above the expected
// optimum by more than this share of the check's spread (and within it).
constexpr double NETWORK_MISS_SHARE = 0.5;
// A CPE exponent below this makes an arc broad.
constexpr double BROAD_EXPONENT = 0.6;
// A diffusion element may end with its transition far outside the window,
// acting as a plain Warburg there; it is tried with its diffusion time at
// DIFFUSION_LOW_END / omega_low (just inside the low end) and at the
// window's middle.
constexpr double DIFFUSION_LOW_END = 0.3;
constexpr std::uint64_t STAGE_SEED = 0x5eed;
constexpr std::size_t HOPS = 6;            // jumps from the best fit, each followed by a fit
constexpr double JUMP_DECADES = 2.0;       // half-width of a jump in log10 units
constexpr double REPAIR_DECADES = 3.0;
constexpr double LOST_DECADES = 6.0;
constexpr double EXPONENT_LOW = 0.3;       // range-bounded values drawn in [lower + this * range, upper]
// The multi-starts of the zero-configuration fit pass over repeated
// candidates (a circuit without range-bounded values has four copies of its
// start among them).
constexpr MultiStartPolicy FIRST_FIT{.skip_repeated = true, .stop_at_converged = false};
// After a run of the stage ends below the best fit, its end is finished as a
// fit whose multi-start ends with the first converged run: the stage itself
// searches further.
constexpr MultiStartPolicy FINISHING_FIT{.skip_repeated = true, .stop_at_converged = true};
// Runs that crawl along a flat valley (arcs sharing one feature of the
// spectrum, an element on its way to nothing) would use their whole budget:
// they stop when their cost falls by less than STALL_TOLERANCE of itself over
// a number of accepted steps, FIRST_STALL_STEPS in the first fit and
// STAGE_STALL_STEPS in the stage. A best fit that stalled goes on with the
// caller's options.
constexpr double STALL_TOLERANCE = 1e-5;
constexpr std::uint32_t FIRST_STALL_STEPS = 25;
constexpr std::uint32_t STAGE_STALL_STEPS = 10;

// Where a least-squares run ended, each with its cost.
using Ends = std::vector<std::pair<std::vector<double>, double>>;

LmOptions stalling(const LmOptions& options, std::uint32_t steps) {
    LmOptions out = options;
    out.stall_iterations = steps;
    out.stall_tolerance = STALL_TOLERANCE;
    return out;
}

class Stage {
public:
    Stage(const SeriesList& nodes, std::span<const double> frequencies_hz, std::span<const Complex> measured,
          bool modulus, const LmOptions& options)
        : nodes_(nodes), frequencies_(frequencies_hz), measured_(measured), modulus_(modulus), options_(options),
          searching_(stalling(options, STAGE_STALL_STEPS)), bounds_(param_bounds(nodes)),
          members_(member_param_ranges(nodes)), scales_(spectrum_scales(frequencies_hz, measured)) {
        omega_.resize(frequencies_hz.size());
        for (std::size_t i = 0; i < omega_.size(); ++i) omega_[i] = frequencies_hz[i] * TWO_PI;
        weights_ = compute_weights(measured, modulus);
        for (std::size_t i = 0; i < bounds_.size(); ++i) {
            if (!unbounded_above(bounds_[i])) range_bounded_.push_back(i);
        }
    }

    double floor() const { return expected_optimum_cost(omega_, measured_, weights_, bounds_.size()); }

    // One least-squares run from `start` that stops when it stalls: its
    // ends with their costs, the best first. An end whose range-bounded
    // values left their range comes with a second end inside the bounds:
    // those values held at the end of their range while the others are
    // fitted once more. The end outside the bounds stays a candidate: a fit
    // from it, which starts inside, may still find a lower minimum.
    std::expected<Ends, FitError> run_from(std::span<const double> start) const {
        auto run = single_run(start, searching_, std::vector<bool>(bounds_.size(), false));
        if (!run) return std::unexpected(run.error());
        Ends ends;
        ends.emplace_back(run->params, cost_at(run->params));
        std::vector<bool> held(bounds_.size(), false);
        bool any_held = false;
        for (std::size_t i = 0; i < held.size() && i < run->params.size(); ++i) {
            const auto [lower, upper] = bounds_[i];
            held[i] = !unbounded_above(bounds_[i]) && !(run->params[i] > lower && run->params[i] < upper);
            any_held = any_held || held[i];
        }
        if (!any_held) return ends;
        auto refit = held_run(clamp_to_bounds(run->params, bounds_), held);
        if (!refit) return std::unexpected(refit.error());
        ends.insert(refit->second < ends.front().second ? ends.begin() : ends.end(), std::move(*refit));
        return ends;
    }

    // One least-squares run from `from` with the range-bounded value
    // `index` held at the upper end of its range: its end inside the bounds
    // and its cost.
    std::expected<Ends, FitError> run_pinned(std::span<const double> from, std::size_t index) const {
        std::vector<double> start(from.begin(), from.end());
        start[index] = bounds_[index].second;
        std::vector<bool> held(bounds_.size(), false);
        held[index] = true;
        auto run = held_run(start, held);
        if (!run) return std::unexpected(run.error());
        return Ends{std::move(*run)};
    }

    // Whether a range-bounded value of `params` sits at an end of its range.
    bool at_range_end(std::span<const double> params) const {
        return std::any_of(range_bounded_.begin(), range_bounded_.end(), [&](std::size_t i) {
            return i < params.size() && vorlane::at_range_end(params[i], bounds_[i].first, bounds_[i].second);
        });
    }

    // The range-bounded values, by index.
    const std::vector<std::size_t>& range_bounded() const { return range_bounded_; }

    // Where a Nelder-Mead walk of `iterations` steps from `start` ends; the
    // start itself when the walk found no point with a cost.
    std::vector<double> simplex_end(std::span<const double> start, std::uint64_t iterations) const {
        const PsoProblem problem(FitModel(rebuild_with_values(nodes_, start)),
                                 SpectrumRef{frequencies_, measured_, modulus_});
        auto search = nelder_mead_search(problem, iterations);
        simplex_evaluations_ += problem.counter().value();
        if (!search || search->best.empty()) return {start.begin(), start.end()};
        runs_evaluations_ += search->iterations;
        return physical(search->best, bounds_);
    }

    // A fit whose runs stopped short of convergence, with one more run that
    // does not stop when it stalls: the better of the two.
    FitResultOr finished(FitOutcome fit) const {
        if (fit.success || poll_stop()) return fit;
        auto run = single_run(fit.params, options_, std::vector<bool>(bounds_.size(), false));
        if (!run) return std::unexpected(run.error());
        const std::vector<double> inside = clamp_to_bounds(run->params, bounds_);
        const std::vector<double> r = residuals(nodes_, inside, omega_, measured_, weights_, counter_);
        if (!(cost_of(r) < fit.cost)) return fit;
        return build_outcome(nodes_, inside, run->success, fit.iterations, omega_, measured_, weights_, counter_, r);
    }

    std::uint64_t run_iterations() const { return runs_evaluations_; }

    FitResultOr fit_from(std::span<const double> params) const {
        return levenberg_marquardt_fit(rebuild_with_values(nodes_, params), frequencies_, measured_, modulus_,
                                       searching_, FINISHING_FIT);
    }

    // `from` with one arc at a time put where it misses the data most: where
    // the misfit averaged over neighbours peaks, then where a single point's
    // does (an arc at an end of the window shows in a few points only).
    std::vector<std::vector<double>> misfit_moves(std::span<const double> from) const {
        const std::vector<double> r = residuals(nodes_, from, omega_, measured_, weights_, counter_);
        // Point indices from the lowest frequency up; a NaN frequency (the
        // fit accepts one) sorts after every number.
        std::vector<std::size_t> by_frequency(omega_.size());
        std::iota(by_frequency.begin(), by_frequency.end(), std::size_t{0});
        std::stable_sort(by_frequency.begin(), by_frequency.end(), [&](std::size_t a, std::size_t b) {
            return std::isnan(omega_[b]) ? !std::isnan(omega_[a]) : omega_[a] < omega_[b];
        });
        std::vector<std::vector<double>> out;
        std::optional<std::size_t> smoothed_point;
        for (const std::size_t neighbours : {MISFIT_NEIGHBOURS, std::size_t{0}}) {
            const auto [size, point] = misfit_peak(r, by_frequency, neighbours);
            if (!(size > 0.0) || point == smoothed_point) continue;
            smoothed_point = point;
            std::vector<std::vector<double>> moved =
                arc_moves_to(nodes_, from, 2.0 * size * weights_[point], omega_[point], MISFIT_EXPONENT);
            std::move(moved.begin(), moved.end(), std::back_inserter(out));
        }
        return out;
    }

    // `from` with each broad arc (a CPE exponent below BROAD_EXPONENT) near
    // the top of the window sharpened to MISFIT_EXPONENT and put at its top.
    std::vector<std::vector<double>> sharpened_broad_arcs(std::span<const double> from) const {
        if (!scales_.usable) return {};
        return broad_arcs_sharpened(nodes_, from, scales_.omega_high, BROAD_EXPONENT, MISFIT_EXPONENT);
    }

    // `from` with each diffusion element's transition moved into the window:
    // near its low end and to its middle.
    std::vector<std::vector<double>> diffusion_moves(std::span<const double> from) const {
        std::vector<std::vector<double>> out;
        if (!scales_.usable) return out;
        for (const double tau : {DIFFUSION_LOW_END / scales_.omega_low,
                                 1.0 / std::sqrt(scales_.omega_low * scales_.omega_high)}) {
            std::vector<std::vector<double>> moved = diffusion_moves_to(nodes_, from, tau);
            std::move(moved.begin(), moved.end(), std::back_inserter(out));
        }
        return out;
    }

    // The data-scaled starts, one per arc placement.
    std::vector<std::vector<double>> scaled_starts() const {
        std::vector<std::vector<double>> starts;
        for (std::size_t p = 0; p < ARC_PLACEMENT_COUNT; ++p) {
            starts.push_back(data_scaled_values(nodes_, scales_, static_cast<ArcPlacement>(p)));
        }
        return starts;
    }

    // `from` with one arc at a time moved to either end of the window.
    std::vector<std::vector<double>> edge_moves(std::span<const double> from) const {
        if (!scales_.usable) return {};
        return arc_edge_moves(nodes_, from, scales_.omega_low, scales_.omega_high);
    }

    // A random jump from `from`: each value, with probability one half, a
    // log-scaled one moved by up to JUMP_DECADES and a range-bounded one
    // drawn anew; the last value moves when no other did.
    std::vector<double> jump(std::span<const double> from, ChaChaRng& rng) const {
        std::vector<double> y = to_solver_space(from, bounds_);
        bool moved = false;
        for (std::size_t i = 0; i < y.size(); ++i) {
            if (rng.unit() < 0.5 && (moved || i + 1 < y.size())) continue;
            moved = true;
            const auto [lower, upper] = bounds_[i];
            if (unbounded_above(bounds_[i])) {
                y[i] += JUMP_DECADES * (2.0 * rng.unit() - 1.0);
            } else {
                y[i] = rng.between(lower + EXPONENT_LOW * (upper - lower), upper);
            }
        }
        return physical(y, bounds_);
    }

    std::size_t points() const { return omega_.size(); }

    // A fit that lost an element (a capacitance grown without limit, a
    // resistance gone to nothing) sits in a degenerate minimum: `fitted`
    // with every log-scaled value more than REPAIR_DECADES away from the
    // data-scaled `scaled` put back there, and a series member with a value
    // more than LOST_DECADES away put back as a whole (an arc's resistance
    // alone would meet its lost capacitance). Nothing when no value is that
    // far.
    std::optional<std::vector<double>> repaired(std::span<const double> fitted, std::span<const double> scaled) const {
        std::vector<double> out(fitted.begin(), fitted.end());
        bool changed = false;
        auto beyond = [&](std::size_t i, double decades) { return decades_apart(i, fitted[i], scaled[i], decades); };
        for (const auto& [first, count] : members_) {
            const std::size_t end = std::min({first + count, out.size(), scaled.size()});
            bool lost = false;
            for (std::size_t i = first; i < end; ++i) lost = lost || beyond(i, LOST_DECADES);
            for (std::size_t i = first; i < end; ++i) {
                if (!lost && !beyond(i, REPAIR_DECADES)) continue;
                out[i] = scaled[i];
                changed = true;
            }
        }
        if (!changed) return std::nullopt;
        return out;
    }

    // A fit that lost an element: a log-scaled value more than LOST_DECADES
    // away from its value in every data-scaled start (an arc placed
    // elsewhere in the window moves a value by a few decades, a lost element
    // by many).
    bool lost_element(std::span<const double> fitted, const std::vector<std::vector<double>>& scaled) const {
        for (std::size_t i = 0; i < fitted.size(); ++i) {
            if (!unbounded_above(bounds_[i])) continue;
            const bool far_from_all = std::all_of(scaled.begin(), scaled.end(), [&](const std::vector<double>& start) {
                return i < start.size() && decades_apart(i, fitted[i], start[i], LOST_DECADES);
            });
            if (far_from_all) return true;
        }
        return false;
    }

    // The noise per residual component as a share of the root mean square
    // of the weighted data, from the expected optimum cost `floor`.
    double relative_noise(double floor) const {
        const double freedom = 2.0 * static_cast<double>(omega_.size()) - static_cast<double>(bounds_.size());
        double sum = 0.0;
        std::size_t n = 0;
        for (std::size_t i = 0; i < measured_.size() && i < weights_.size(); ++i) {
            const double re = measured_[i].re / weights_[i], im = measured_[i].im / weights_[i];
            if (!std::isfinite(re) || !std::isfinite(im)) continue;
            sum += re * re + im * im;
            ++n;
        }
        const double size = std::sqrt(sum / static_cast<double>(n > 0 ? n : 1));
        return std::sqrt(2.0 * floor / freedom) / size;
    }

    std::uint64_t evaluations() const { return counter_.value() + simplex_evaluations_; }

private:
    // The largest modulus of the weighted residuals `r` averaged over
    // `neighbours` points on either side in the order `by_frequency`, and the
    // point where it lies; 0 when no average is finite and positive.
    static std::pair<double, std::size_t> misfit_peak(const std::vector<double>& r,
                                                      const std::vector<std::size_t>& by_frequency,
                                                      std::size_t neighbours) {
        const std::size_t n = by_frequency.size();
        double largest = 0.0;
        std::size_t peak = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t first = k > neighbours ? k - neighbours : 0;
            const std::size_t end = std::min(n, k + neighbours + 1);
            double re = 0.0, im = 0.0;
            for (std::size_t j = first; j < end; ++j) {
                re += r[2 * by_frequency[j]];
                im += r[2 * by_frequency[j] + 1];
            }
            const double size = std::hypot(re, im) / static_cast<double>(end - first);
            if (size > largest && std::isfinite(size)) {
                largest = size;
                peak = by_frequency[k];
            }
        }
        return {largest, peak};
    }

    // Whether the log-scaled value i lies more than `decades` from `reference`.
    bool decades_apart(std::size_t i, double value, double reference, double decades) const {
        return unbounded_above(bounds_[i]) && std::fabs(math::log10(value / reference)) > decades;
    }

    double cost_at(std::span<const double> params) const {
        return cost_of(residuals(nodes_, params, omega_, measured_, weights_, counter_));
    }

    // One stalling run from `start` with the `held` values fixed: its end
    // inside the bounds and the cost there.
    std::expected<Ends::value_type, FitError> held_run(std::span<const double> start,
                                                       const std::vector<bool>& held) const {
        auto run = single_run(start, searching_, held);
        if (!run) return std::unexpected(run.error());
        std::vector<double> inside = clamp_to_bounds(run->params, bounds_);
        const double cost = cost_at(inside);
        return Ends::value_type{std::move(inside), cost};
    }

    // One least-squares run from `start` with `fixed` values held, counted.
    std::expected<SingleStartResult, FitError> single_run(std::span<const double> start, const LmOptions& options,
                                                          const std::vector<bool>& fixed) const {
        auto run = levenberg_marquardt_single_start(nodes_, omega_, measured_, weights_, bounds_,
                                                    to_solver_space(start, bounds_), fixed, options, counter_);
        if (!run) return std::unexpected(FitError{FitError::Kind::Solver, run.error()});
        runs_evaluations_ += run->evaluations;
        return std::move(*run);
    }

    const SeriesList& nodes_;
    std::span<const double> frequencies_;
    std::span<const Complex> measured_;
    bool modulus_;
    const LmOptions& options_;
    LmOptions searching_;
    Bounds bounds_;
    std::vector<std::size_t> range_bounded_;
    std::vector<std::pair<std::size_t, std::size_t>> members_;
    SpectrumScales scales_;
    std::vector<double> omega_;
    std::vector<double> weights_;
    mutable EvalCounter counter_;
    mutable std::uint64_t runs_evaluations_ = 0;
    mutable std::uint64_t simplex_evaluations_ = 0;
};

double poor_fit_factor(std::size_t points, std::size_t parameters) {
    const double freedom = 2.0 * static_cast<double>(points) - static_cast<double>(parameters);
    if (!(freedom > 0.0)) return MAX_FACTOR;
    return std::clamp(1.0 + SPREAD_WIDTHS * std::sqrt(2.0 / freedom), MIN_FACTOR, MAX_FACTOR);
}

}  // namespace

FitResultOr zero_config_fit(const SeriesList& nodes, std::span<const double> frequencies_hz,
                            std::span<const Complex> measured, bool modulus, const LmOptions& options,
                            ArcsPlaced placed) {
    const Stage stage(nodes, frequencies_hz, measured, modulus, options);
    FitResultOr first = levenberg_marquardt_fit(nodes, frequencies_hz, measured, modulus,
                                                stalling(options, FIRST_STALL_STEPS), FIRST_FIT);
    if (!first) return first;
    const double floor = stage.floor();

    const double factor = poor_fit_factor(stage.points(), param_count(nodes));
    const double limit = factor * floor;
    auto poor = [&](double cost) { return std::isfinite(floor) && !(cost <= limit); };
    // A fit at the noise floor (within its spread on either side) with an
    // exponent at an end of its range (an arc turned into a pure
    // capacitance, or sent to an end of the window with nothing left to fit)
    // often sits in a neighbouring minimum a few per cent above the optimum,
    // which the check cannot tell apart: it is searched like the fit of a
    // noisy spectrum. A fit far below the floor (a circuit with more arcs
    // than the spectrum shows) is not, nor one well above it, which the stage
    // searches anyway.
    const bool pinned_at_floor =
        !poor(first->cost) && first->cost * factor >= floor && stage.at_range_end(first->params);
    const bool noisy = stage.relative_noise(floor) > NOISY || pinned_at_floor;
    // Neighbouring minima come from several arcs and from exponents that can
    // end at their range's end: a single arc of resistors, capacitors and
    // inductors has none to look for.
    const bool mild = first->cost > floor && (arc_count(nodes) > 1 || !stage.range_bounded().empty());
    const std::vector<std::vector<double>> scaled = stage.scaled_starts();
    const bool degenerate = stage.lost_element(first->params, scaled);
    const std::vector<std::vector<double>> swaps = arc_swaps(nodes, first->params);
    // The counts of every run go into the outcome.
    auto done = [&](FitOutcome fit, std::uint64_t iterations, std::uint64_t evaluations) -> FitResultOr {
        FitResultOr out = stage.finished(std::move(fit));
        if (!out) return out;
        out->iterations = iterations + stage.run_iterations();
        out->impedance_evals = evaluations + stage.evaluations();
        return out;
    };
    if (swaps.empty() && !poor(first->cost) && !noisy && !mild && !degenerate) {
        return done(std::move(*first), first->iterations, first->impedance_evals);
    }

    FitOutcome best = std::move(*first);
    std::uint64_t iterations = best.iterations, evaluations = best.impedance_evals;
    std::size_t fits = 0;
    auto wanted = [&] {
        if (poll_stop()) return false;
        return poor(best.cost) || ((noisy || degenerate) && fits < NOISY_FITS) || (mild && fits < MILD_FITS);
    };
    // A start is followed by one least-squares run; only a run that ends
    // below the best is finished as a complete fit. A start offered before
    // would end where it did then: it is passed over.
    std::vector<std::vector<double>> offered;
    // The extra starts (of a noisy spectrum, the best fit's arcs traded) come
    // on top of the stage's count.
    // A lower cost wins, except that a fit that did not converge takes the
    // place of one that did only when it is lower by more than the solver's
    // own tolerance: a gain at the level of rounding is no reason to report
    // a failure.
    auto replaces = [&](const FitOutcome& next) {
        if (!(next.cost < best.cost)) return false;
        return next.success || !best.success || next.cost < best.cost * (1.0 - options.ftol);
    };
    // A complete fit from `end`, kept when it does better.
    auto finish = [&](std::span<const double> end) -> std::optional<FitError> {
        FitResultOr next = stage.fit_from(end);
        if (!next) return next.error();
        iterations += next->iterations;
        evaluations += next->impedance_evals;
        if (replaces(*next)) best = std::move(*next);
        return std::nullopt;
    };
    auto follow = [&](const std::expected<Ends, FitError>& ends, bool counted = true) -> std::optional<FitError> {
        if (!ends) return ends.error();
        fits += counted ? 1 : 0;
        // A run that ends lower than the best only by rounding is in the
        // same minimum: finishing it would cost a complete fit for nothing.
        for (const auto& [end, cost] : *ends) {
            if (!(cost < best.cost * (1.0 - options.ftol))) continue;
            if (auto error = finish(end)) return error;
        }
        return std::nullopt;
    };
    // Whether `start` is offered for the first time; it is then recorded.
    auto unseen = [&](std::span<const double> start) {
        const auto same = [&](const std::vector<double>& earlier) {
            return std::equal(earlier.begin(), earlier.end(), start.begin(), start.end());
        };
        if (std::any_of(offered.begin(), offered.end(), same)) return false;
        offered.emplace_back(start.begin(), start.end());
        return true;
    };
    auto offer = [&](std::span<const double> start, bool counted = true) -> std::optional<FitError> {
        if (!unseen(start)) return std::nullopt;
        return follow(stage.run_from(start), counted);
    };
    // The nearest neighbouring minima, always: the fit with two arcs traded.
    for (const std::vector<double>& start : swaps) {
        if (poll_stop()) break;
        if (auto error = offer(start)) return std::unexpected(*error);
    }
    if (noisy && wanted()) {
        if (auto error = offer(stage.simplex_end(param_values(nodes), SIMPLEX_ITERATIONS), false)) {
            return std::unexpected(*error);
        }
    }
    // Every exponent pinned in turn in the best fit before any of them.
    const std::vector<double> unpinned = best.params;
    for (const std::size_t index : stage.range_bounded()) {
        if (!noisy || !wanted()) break;
        if (auto error = follow(stage.run_pinned(unpinned, index), false)) return std::unexpected(*error);
    }
    for (const std::vector<double>& start : stage.edge_moves(unpinned)) {
        if (!noisy || !wanted()) break;
        if (auto error = offer(start, false)) return std::unexpected(*error);
    }
    // A start that placed its arcs at the maxima of -Im Z only (and its
    // diffusion elements by the low end alone): an arc where the best fit
    // misses the data most, a diffusion transition moved into the window.
    // A network places them where the data shows them, but may still miss
    // one (an arc at an end of the window): the moves then run when the best
    // fit lies above the expected optimum by more than NETWORK_MISS_SHARE of
    // the check's spread, which a fit at the optimum seldom does, and within
    // it (a poor fit, a real cell's model error often, is searched anyway).
    // The other values have far to go from such a start, where a single
    // stalling run stops short: each is finished as a complete fit.
    auto passed_above = [&](double share) {
        return std::isfinite(floor) && best.cost > floor * (1.0 + share * (factor - 1.0)) && !poor(best.cost);
    };
    if (placed == ArcsPlaced::ByStart || passed_above(NETWORK_MISS_SHARE)) {
        std::vector<std::vector<double>> moves = stage.misfit_moves(unpinned);
        std::vector<std::vector<double>> diffusion = stage.diffusion_moves(unpinned);
        std::move(diffusion.begin(), diffusion.end(), std::back_inserter(moves));
        for (const std::vector<double>& start : moves) {
            if (!wanted()) break;
            if (!unseen(start)) continue;
            if (auto error = finish(start)) return std::unexpected(*error);
        }
    }
    // The start itself: the first fit tries it only when none of its
    // rescaled neighbours starts closer to the data, and may end elsewhere.
    if (wanted()) {
        if (auto error = offer(param_values(nodes))) return std::unexpected(*error);
    }
    for (const std::vector<double>& start : scaled) {
        if (!wanted()) break;
        if (auto repaired = stage.repaired(best.params, start)) {
            if (auto error = offer(*repaired)) return std::unexpected(*error);
        }
        if (!wanted()) break;
        if (auto error = offer(start)) return std::unexpected(*error);
    }
    // The arcs of the best fit traded, when the search moved it.
    for (const std::vector<double>& start : arc_swaps(nodes, best.params)) {
        if (!wanted()) break;
        if (auto error = offer(start, false)) return std::unexpected(*error);
    }
    ChaChaRng rng = ChaChaRng::from_seed(STAGE_SEED);
    for (std::size_t hop = 0; hop < HOPS && wanted(); ++hop) {
        if (auto error = offer(stage.jump(best.params, rng))) return std::unexpected(*error);
    }
    // A network may put a broad CPE at the top of the window where a sharper
    // arc lies just above it, a minimum a few per cent above the optimum that
    // the check cannot tell from noise; while the best fit stays above the
    // expected optimum (within the check's spread), that arc is tried
    // sharpened. Last, so that the search above takes the same path whatever
    // these starts find.
    if (placed == ArcsPlaced::ByNetwork && passed_above(0.0)) {
        for (const std::vector<double>& start : stage.sharpened_broad_arcs(best.params)) {
            if (poll_stop()) break;
            if (auto error = offer(start, false)) return std::unexpected(*error);
        }
    }
    return done(std::move(best), iterations, evaluations);
}

}  // namespace vorlane
