// Ten self-adaptive differential evolutions in single precision (jDE:
// J. Brest et al., "Self-adapting control parameters in differential
// evolution", 2006; DE/rand/1/bin), each winner re-checked in double.
#include "fit/differential_evolution.hpp"

#include <algorithm>
#include <cmath>
#include <expected>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "circuit/layout.hpp"
#include "core/cancellation.hpp"
#include "core/number_format.hpp"
#include "core/quoting.hpp"
#include "fit/global_methods.hpp"
#include "fit/xorshift_rng.hpp"

namespace vorlane {

namespace {

constexpr int RUNS = 10;
constexpr std::uint32_t POPULATION = 100;
constexpr float CHANGE_PROBABILITY = 0.1f;
constexpr float F_LOW = 0.1f;
constexpr float F_WIDTH = 0.9f;

struct Individual {
    std::vector<float> position;
    float cost = 0.0f;
    bool has_cost = false;
    float cr = 0.0f;
    float f = 0.0f;
};

// One evolution: its own random source and population, evaluating through
// the shared problem (and so the shared counter).
class Evolution {
public:
    Evolution(const PsoProblem& problem, const SingleBox& box, XorShiftRng rng)
        : problem_(problem), rng_(rng), n_(box.min.size()), parents_(POPULATION), trials_(POPULATION),
          scratch_(n_) {
        for (Individual& trial : trials_) {
            trial.cr = rng_.unit_f32();
            trial.f = F_LOW + F_WIDTH * rng_.unit_f32();
            trial.position.resize(n_);
            for (std::size_t d = 0; d < n_; ++d) {
                trial.position[d] = box.min[d] + rng_.unit_f32() * (box.max[d] - box.min[d]);
            }
        }
        // Parents start as cost-less copies, so that a parent never displaced
        // by a trial still has a defined position.
        parents_ = trials_;
    }

    void step() {
        if (countdown_ == 0) next_generation();
        --countdown_;
        Individual& trial = trials_[countdown_];
        trial.cost = run_cost(trial.position);
        trial.has_cost = true;
        ++evaluations_;
        if (!std::isnan(trial.cost) && (!best_index_ || trial.cost < best_cost_)) {
            best_cost_ = trial.cost;
            best_index_ = countdown_;
        }
    }

    std::uint64_t evaluations() const { return evaluations_; }

    // The individual holding the best cost seen, if any cost was a number.
    const Individual* winner() const {
        if (!best_index_) return nullptr;
        const Individual& parent = parents_[*best_index_];
        const Individual& trial = trials_[*best_index_];
        const bool trial_better = trial.has_cost && trial.cost < parent.cost;
        return parent.has_cost && !trial_better ? &parent : &trial;
    }

private:
    float run_cost(const std::vector<float>& position) {
        for (std::size_t d = 0; d < n_; ++d) scratch_[d] = position[d];
        return static_cast<float>(problem_.cost(scratch_));
    }

    void next_generation() {
        for (std::uint32_t i = 0; i < POPULATION; ++i) {
            Individual& trial = trials_[i];
            Individual& parent = parents_[i];
            const bool trial_wins =
                trial.has_cost && !std::isnan(trial.cost) && (!parent.has_cost || trial.cost <= parent.cost);
            if (trial_wins) std::swap(trial, parent);
        }
        for (std::uint32_t i = 0; i < POPULATION; ++i) mutate(i);
        countdown_ = POPULATION;
    }

    void mutate(std::uint32_t i) {
        const std::uint32_t a = rng_.below(POPULATION);
        std::uint32_t b;
        do b = rng_.below(POPULATION);
        while (b == a);
        std::uint32_t c;
        do c = rng_.below(POPULATION);
        while (c == a || c == b);
        const Individual& parent = parents_[i];
        Individual& trial = trials_[i];
        trial.cr = rng_.unit_f32() < CHANGE_PROBABILITY ? rng_.unit_f32() : parent.cr;
        trial.f = rng_.unit_f32() < CHANGE_PROBABILITY ? F_LOW + F_WIDTH * rng_.unit_f32() : parent.f;
        const std::uint32_t forced = rng_.below(static_cast<std::uint32_t>(n_));
        const std::vector<float>& pa = parents_[a].position;
        const std::vector<float>& pb = parents_[b].position;
        const std::vector<float>& pc = parents_[c].position;
        for (std::size_t d = 0; d < n_; ++d) {
            const bool cross = d == forced || rng_.unit_f32() < trial.cr;
            trial.position[d] = cross ? pc[d] + trial.f * (pa[d] - pb[d]) : parent.position[d];
        }
        trial.has_cost = false;
    }

    const PsoProblem& problem_;
    XorShiftRng rng_;
    std::size_t n_;
    std::vector<Individual> parents_;
    std::vector<Individual> trials_;
    std::uint32_t countdown_ = POPULATION;
    std::uint64_t evaluations_ = 0;
    float best_cost_ = 0.0f;
    std::optional<std::uint32_t> best_index_;
    std::vector<double> scratch_;
};

}  // namespace

std::expected<SingleBox, FitError> single_precision_box(const SearchBox& box, const FitModel& model) {
    const std::size_t n = std::min(box.lower.size(), box.upper.size());
    SingleBox single{std::vector<float>(n), std::vector<float>(n)};
    for (std::size_t d = 0; d < n; ++d) {
        single.min[d] = static_cast<float>(box.lower[d]);
        single.max[d] = static_cast<float>(box.upper[d]);
        if (single.min[d] < single.max[d] && std::isfinite(single.max[d] - single.min[d])) continue;
        return std::unexpected(solver_error("cannot search parameter " + quote(model.names().at(d)) +
                                            " starting at " + format_table_number(model.start().at(d)) +
                                            ": its search range is empty in single precision"));
    }
    return single;
}

std::expected<SearchResult, FitError> differential_evolution_search(const PsoProblem& problem, const SingleBox& box,
                                                                    std::uint64_t evaluations) {
    const std::uint64_t steps = std::max<std::uint64_t>(evaluations, 1);
    SearchResult result;
    double best_cost = std::numeric_limits<double>::infinity();
    for (int run = 0; run < RUNS && !poll_stop(); ++run) {
        std::optional<XorShiftRng> rng = XorShiftRng::from_entropy();
        if (!rng) return std::unexpected(no_entropy_error());
        Evolution evolution(problem, box, *rng);
        for (std::uint64_t s = 0; s < steps && !poll_stop(); ++s) evolution.step();
        if (const Individual* winner = evolution.winner()) {
            std::vector<double> y(winner->position.begin(), winner->position.end());
            const double cost = problem.cost(y);
            if (result.best.empty() || improves(cost, best_cost)) {
                result.best = std::move(y);
                best_cost = cost;
            }
        }
        result.iterations += evolution.evaluations();
    }
    return result;
}

FitResultOr differential_evolution_fit(const FitModel& model, const SpectrumRef& spectrum,
                                       std::uint64_t evaluations) {
    if (auto error = check_fit_inputs(spectrum.frequencies_hz.size(), spectrum.measured.size(), model)) {
        return std::unexpected(*error);
    }
    const PsoProblem problem(model, spectrum);
    const SearchBox box = pso_search_box(problem.bounds(), problem.start());
    if (auto error = check_search_box(box, model)) return std::unexpected(*error);
    const auto single = single_precision_box(box, model);
    if (!single) return std::unexpected(single.error());
    const auto search = differential_evolution_search(problem, *single, evaluations);
    if (!search) return std::unexpected(search.error());
    return problem.finish(*search, "differential evolution found no best position");
}

}  // namespace vorlane
