// The particle-swarm fit over the search box in solver space, with the
// standard coefficients of M. Clerc's SPSO (w = 1/(2 ln 2), c = 1/2 + ln 2).
#include "fit/particle_swarm.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/cancellation.hpp"
#include "fit/global_methods.hpp"

namespace vorlane {

namespace {

constexpr double INERTIA = 0.7213475204444817;
constexpr double COGNITIVE = 1.1931471805599454;
constexpr double SOCIAL = 1.1931471805599454;

// Bounds the swarm's memory whatever num_particles a caller passes: at
// most five coordinate and four per-particle arrays of 2^22 entries, 300 MB.
constexpr std::uint64_t MAX_SWARM_COORDINATES = std::uint64_t{1} << 22;

// Particle j's coordinates are [j * n, (j + 1) * n) of each flat array.
struct SwarmState {
    std::vector<double> position;
    std::vector<double> velocity;
    std::vector<double> cost;
    std::vector<double> best_position;
    std::vector<double> best_cost;
};

class Swarm {
public:
    Swarm(const PsoProblem& problem, const SearchBox& box, std::size_t size, ChaChaRng& rng)
        : problem_(problem), box_(box), rng_(rng), n_(box_.lower.size()), size_(size),
          pull_cognitive_(n_), pull_social_(n_) {
        std::vector<double> position(size_ * n_);
        for (std::size_t k = 0; k < position.size(); ++k) {
            position[k] = rng_.between(box_.lower[k % n_], box_.upper[k % n_]);
        }
        std::vector<double> velocity(size_ * n_);
        for (std::size_t k = 0; k < velocity.size(); ++k) {
            const double width = box_.upper[k % n_] - box_.lower[k % n_];
            velocity[k] = rng_.between(-width, width);
        }
        std::vector<double> cost(size_);
        for (std::size_t j = 0; j < size_; ++j) cost[j] = problem_.cost(coordinates(position, j));
        // NaN costs rank last so that a number, if there is one, leads.
        std::vector<std::size_t> order(size_);
        for (std::size_t j = 0; j < size_; ++j) order[j] = j;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return cost_before(cost[a], cost[b]); });
        s_.position.resize(size_ * n_);
        s_.velocity.resize(size_ * n_);
        s_.cost.resize(size_);
        for (std::size_t j = 0; j < size_; ++j) {
            std::copy_n(position.begin() + offset(order[j]), n_, s_.position.begin() + offset(j));
            std::copy_n(velocity.begin() + offset(order[j]), n_, s_.velocity.begin() + offset(j));
            s_.cost[j] = cost[order[j]];
        }
        s_.best_position = s_.position;
        s_.best_cost = s_.cost;
        global_position_.assign(s_.position.begin(), s_.position.begin() + offset(1));
        global_cost_ = s_.cost[0];
    }

    const std::vector<double>& global_position() const { return global_position_; }
    double global_cost() const { return global_cost_; }

    void fly() {
        for (std::size_t j = 0; j < size_; ++j) {
            double* position = s_.position.data() + offset(j);
            double* velocity = s_.velocity.data() + offset(j);
            const double* best = s_.best_position.data() + offset(j);
            for (std::size_t i = 0; i < n_; ++i) pull_cognitive_[i] = rng_.between(0.0, best[i] - position[i]);
            for (std::size_t i = 0; i < n_; ++i) {
                pull_social_[i] = rng_.between(0.0, global_position_[i] - position[i]);
            }
            for (std::size_t i = 0; i < n_; ++i) {
                velocity[i] = INERTIA * velocity[i] + COGNITIVE * pull_cognitive_[i] + SOCIAL * pull_social_[i];
                // fmax first: a NaN coordinate lands on the lower limit.
                position[i] = std::fmin(std::fmax(position[i] + velocity[i], box_.lower[i]), box_.upper[i]);
            }
        }
        for (std::size_t j = 0; j < size_; ++j) {
            const std::span<const double> position = coordinates(s_.position, j);
            const double cost = problem_.cost(position);
            s_.cost[j] = cost;
            if (!improves(cost, s_.best_cost[j])) continue;
            std::copy(position.begin(), position.end(), s_.best_position.begin() + offset(j));
            s_.best_cost[j] = cost;
            if (improves(cost, global_cost_)) {
                std::copy(position.begin(), position.end(), global_position_.begin());
                global_cost_ = cost;
            }
        }
    }

private:
    std::ptrdiff_t offset(std::size_t particle) const { return static_cast<std::ptrdiff_t>(particle * n_); }
    std::span<const double> coordinates(const std::vector<double>& flat, std::size_t particle) const {
        return std::span<const double>(flat).subspan(particle * n_, n_);
    }

    const PsoProblem& problem_;
    const SearchBox& box_;
    ChaChaRng& rng_;
    std::size_t n_;
    std::size_t size_;
    SwarmState s_;
    std::vector<double> global_position_;
    double global_cost_ = 0.0;
    std::vector<double> pull_cognitive_;
    std::vector<double> pull_social_;
};

}  // namespace

std::optional<FitError> check_swarm_size(std::uint64_t num_particles, std::size_t dimension) {
    if (num_particles == 0) return solver_error("num_particles must be at least 1");
    if (num_particles > MAX_SWARM_COORDINATES / dimension) {
        return solver_error("num_particles is too large: " + std::to_string(num_particles) + " particles of " +
                            std::to_string(dimension) + " parameters exceed " +
                            std::to_string(MAX_SWARM_COORDINATES) + " swarm coordinates");
    }
    return std::nullopt;
}

SearchResult particle_swarm_search(const PsoProblem& problem, const SearchBox& box, std::uint64_t num_particles,
                                   std::uint64_t generations, ChaChaRng& rng) {
    Swarm swarm(problem, box, static_cast<std::size_t>(num_particles), rng);
    RunBest best;
    best.offer(swarm.global_position(), swarm.global_cost());
    for (std::uint64_t g = 0; g < generations && !poll_stop(); ++g) {
        swarm.fly();
        best.offer(swarm.global_position(), swarm.global_cost());
    }
    return SearchResult{std::move(best.point), generations};
}

FitResultOr particle_swarm_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint64_t num_particles,
                               std::uint64_t generations, std::optional<std::uint64_t> seed) {
    if (auto error = check_fit_inputs(spectrum.frequencies_hz.size(), spectrum.measured.size(), model)) {
        return std::unexpected(*error);
    }
    const PsoProblem problem(model, spectrum);
    if (auto error = check_swarm_size(num_particles, problem.dimension())) return std::unexpected(*error);
    const SearchBox box = pso_search_box(problem.bounds(), problem.start());
    if (auto error = check_search_box(box, model)) return std::unexpected(*error);
    std::optional<ChaChaRng> rng = ChaChaRng::from_seed_or_entropy(seed);
    if (!rng) return std::unexpected(no_entropy_error());
    return problem.finish(particle_swarm_search(problem, box, num_particles, generations, *rng),
                          "particle swarm found no best position");
}

}  // namespace vorlane
