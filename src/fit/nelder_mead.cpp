// The Nelder-Mead downhill simplex fit in solver space (J. A. Nelder and
// R. Mead, "A simplex method for function minimization", 1965).
#include "fit/nelder_mead.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/cancellation.hpp"
#include "fit/global_methods.hpp"

namespace vorlane {

namespace {

constexpr double REFLECTION = 1.0;
constexpr double EXPANSION = 2.0;
constexpr double CONTRACTION = 0.5;
constexpr double SHRINK = 0.5;
constexpr double SPREAD_TOLERANCE = 2.220446049250313e-16;

struct Vertex {
    std::vector<double> y;
    double cost;
};

// Vertices in ascending cost; NaN costs rank last, so the search moves away
// from them instead of building on them.
void sort_vertices(std::vector<Vertex>& simplex) {
    std::stable_sort(simplex.begin(), simplex.end(),
                     [](const Vertex& a, const Vertex& b) { return cost_before(a.cost, b.cost); });
}

// Sample standard deviation of the vertex costs; NaN when any cost is.
double cost_spread(const std::vector<Vertex>& simplex) {
    const double m = static_cast<double>(simplex.size());
    double sum = 0.0;
    for (const Vertex& v : simplex) sum += v.cost;
    const double mean = sum / m;
    double squares = 0.0;
    for (const Vertex& v : simplex) squares += (v.cost - mean) * (v.cost - mean);
    return std::sqrt(1.0 / (m - 1.0) * squares);
}

// out = from + factor * (to - from), coordinate by coordinate.
void move_along(const std::vector<double>& from, const std::vector<double>& to, double factor,
                std::vector<double>& out) {
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = from[i] + factor * (to[i] - from[i]);
}

class Simplex {
public:
    Simplex(const PsoProblem& problem, const std::vector<double>& y0) : problem_(problem), n_(y0.size()) {
        for (std::vector<double>& y : nelder_mead_initial_simplex(y0)) simplex_.push_back({std::move(y), 0.0});
        for (Vertex& v : simplex_) v.cost = problem_.cost(v.y);
        sort_vertices(simplex_);
        centroid_.resize(n_);
        reflected_.resize(n_);
        trial_.resize(n_);
    }

    const Vertex& best() const { return simplex_.front(); }
    bool converged() const { return cost_spread(simplex_) < SPREAD_TOLERANCE; }

    // One reflection, expansion, contraction or shrink. A cost that is not a
    // number ranks as the worst: a NaN reflection leads to an inside
    // contraction, and from there to a shrink toward the best vertex.
    void iterate() {
        Vertex& worst = simplex_.back();
        const double f_best = simplex_.front().cost;
        const double f_second_worst = simplex_[n_ - 1].cost;
        compute_centroid();
        for (std::size_t i = 0; i < n_; ++i) {
            reflected_[i] = centroid_[i] + REFLECTION * (centroid_[i] - worst.y[i]);
        }
        const double f_r = problem_.cost(reflected_);
        if (!cost_before(f_r, f_best) && cost_before(f_r, f_second_worst)) {
            replace_worst(reflected_, f_r);
        } else if (cost_before(f_r, f_best)) {
            move_along(centroid_, reflected_, EXPANSION, trial_);
            const double f_e = problem_.cost(trial_);
            if (cost_before(f_e, f_r)) {
                replace_worst(trial_, f_e);
            } else {
                replace_worst(reflected_, f_r);
            }
        } else if (cost_before(f_r, worst.cost)) {
            move_along(centroid_, reflected_, CONTRACTION, trial_);
            const double f_oc = problem_.cost(trial_);
            if (!cost_before(f_r, f_oc)) {
                replace_worst(trial_, f_oc);
            } else {
                shrink();
            }
        } else {
            move_along(centroid_, worst.y, CONTRACTION, trial_);
            const double f_ic = problem_.cost(trial_);
            if (cost_before(f_ic, worst.cost)) {
                replace_worst(trial_, f_ic);
            } else {
                shrink();
            }
        }
        sort_vertices(simplex_);
    }

private:
    // Sum of all vertices but the worst, in vertex order, times 1/n.
    void compute_centroid() {
        centroid_ = simplex_.front().y;
        for (std::size_t v = 1; v < n_; ++v) {
            for (std::size_t i = 0; i < n_; ++i) centroid_[i] += simplex_[v].y[i];
        }
        const double reciprocal = 1.0 / static_cast<double>(n_);
        for (double& c : centroid_) c *= reciprocal;
    }

    void replace_worst(std::vector<double>& y, double cost) {
        simplex_.back().y.swap(y);
        simplex_.back().cost = cost;
    }

    void shrink() {
        const std::vector<double>& y0 = simplex_.front().y;
        for (std::size_t v = 1; v < simplex_.size(); ++v) {
            move_along(y0, simplex_[v].y, SHRINK, simplex_[v].y);
            simplex_[v].cost = problem_.cost(simplex_[v].y);
        }
    }

    const PsoProblem& problem_;
    std::size_t n_;
    std::vector<Vertex> simplex_;
    std::vector<double> centroid_;
    std::vector<double> reflected_;
    std::vector<double> trial_;
};

}  // namespace

std::vector<std::vector<double>> nelder_mead_initial_simplex(std::span<const double> y0) {
    std::vector<std::vector<double>> vertices(y0.size() + 1, std::vector<double>(y0.begin(), y0.end()));
    for (std::size_t i = 0; i < y0.size(); ++i) {
        const double magnitude = std::fabs(y0[i]);
        vertices[i + 1][i] += magnitude > 1e-8 ? 0.1 * magnitude : 0.1;
    }
    return vertices;
}

std::expected<SearchResult, FitError> nelder_mead_search(const PsoProblem& problem, std::uint64_t max_iterations) {
    Simplex simplex(problem, problem.start_solver());
    RunBest best;
    best.offer(simplex.best().y, simplex.best().cost);
    std::uint64_t iterations = 0;
    while (!simplex.converged() && iterations < max_iterations && !poll_stop()) {
        simplex.iterate();
        best.offer(simplex.best().y, simplex.best().cost);
        ++iterations;
    }
    return SearchResult{std::move(best.point), iterations};
}

FitResultOr nelder_mead_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint64_t max_iterations) {
    if (auto error = check_fit_inputs(spectrum.frequencies_hz.size(), spectrum.measured.size(), model)) {
        return std::unexpected(*error);
    }
    const PsoProblem problem(model, spectrum);
    const auto search = nelder_mead_search(problem, max_iterations);
    if (!search) return std::unexpected(search.error());
    return problem.finish(*search, "nelder-mead found no best position");
}

}  // namespace vorlane
