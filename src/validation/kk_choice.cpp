// The automatic choice of the ladder's shape.
#include "validation/kk_choice.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "core/cancellation.hpp"
#include "core/math.hpp"

namespace vorlane {
namespace {

// Beyond about six elements per decade the ladder follows any valid
// spectrum within its noise, and each further M costs a least-squares
// problem of M columns.
constexpr std::size_t LARGEST_M = 40;
// The choice is made on at most about this many points; the fit itself
// uses all of them.
constexpr std::size_t CHOICE_POINTS = 1000;
constexpr double WIDENED_DECADES = 1.0;
constexpr double WIDENING_PARAMETERS = 3.0;

KkPoints thinned(const KkPoints& points) {
    const std::size_t n = points.size();
    if (n <= CHOICE_POINTS) return points;
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return points.omega[a] < points.omega[b]; });
    const std::size_t step = (n + CHOICE_POINTS - 1) / CHOICE_POINTS;
    std::vector<std::size_t> rows;
    for (std::size_t k = 0; k < n; k += step) rows.push_back(order[k]);
    // Keep the window: the extreme frequencies set the time constants.
    if ((n - 1) % step != 0) rows.push_back(order[n - 1]);
    KkPoints out;
    for (std::size_t i : rows) {
        out.omega.push_back(points.omega[i]);
        out.impedance.push_back(points.impedance[i]);
        out.modulus.push_back(points.modulus[i]);
        out.weight.push_back(points.weight[i]);
    }
    out.omega_min = points.omega_min;
    out.omega_max = points.omega_max;
    return out;
}

std::vector<bool> choices(const std::optional<bool>& requested) {
    if (requested) return {*requested};
    return {false, true};
}

std::size_t largest_m(std::size_t points, KkPart part, const LadderShape& shape) {
    return std::min(max_time_constants(points, part, shape.capacitance, shape.inductance), LARGEST_M);
}

// The candidate shapes at their largest M, best first by the information
// criterion. Empty when no candidate fits.
LadderShape best_series(const KkPoints& points, const ShapeRequest& request) {
    struct Candidate {
        LadderShape shape;
        double residual;
    };
    const std::size_t n = points.size();
    std::vector<Candidate> candidates;
    std::vector<double> extensions{0.0};
    if (request.part == KkPart::Complex) extensions.push_back(WIDENED_DECADES);
    for (double extension : extensions) {
        for (bool capacitance : choices(request.capacitance)) {
            for (bool inductance : choices(request.inductance)) {
                LadderShape shape{1, extension, capacitance, inductance};
                shape.m = request.m ? *request.m : largest_m(n, request.part, shape);
                if (shape.m == 0 || shape.m > max_time_constants(n, request.part, capacitance, inductance)) continue;
                if (shape.columns() >= 2 * n || poll_stop()) continue;
                candidates.push_back({shape, ladder_residual_sum(points, shape)});
            }
        }
    }
    if (candidates.empty()) return LadderShape{};
    double variance = INFINITY;
    for (const Candidate& c : candidates) {
        variance = std::min(variance, c.residual / static_cast<double>(2 * n - c.shape.columns()));
    }
    // An exact fit leaves no noise to judge by: the smallest residual wins.
    variance = std::max(variance, 1e-300);
    const double log_rows = math::log(static_cast<double>(2 * n));
    const Candidate* best = nullptr;
    double best_score = INFINITY;
    for (const Candidate& c : candidates) {
        // A widened range counts as three more parameters: it follows both
        // ends at once, as a series inductance and capacitance do, and
        // follows more besides (negative resistances at the short end mimic
        // an inductance, long time constants a capacitance), so the series
        // elements win where they do as well.
        const double choices_made =
            static_cast<double>(c.shape.columns()) + (c.shape.extension > 0.0 ? WIDENING_PARAMETERS : 0.0);
        const double score = c.residual / variance + choices_made * log_rows;
        if (best == nullptr || score < best_score) {
            best = &c;
            best_score = score;
        }
    }
    return best->shape;
}

}  // namespace

LadderShape choose_shape(const KkPoints& all_points, const ShapeRequest& request) {
    const KkPoints points = thinned(all_points);
    const std::size_t n = points.size();
    LadderShape shape = best_series(points, request);
    if (request.m || shape.m == 0) {
        if (shape.m == 0) shape.m = 1;
        return shape;
    }
    const std::size_t top = shape.m;
    std::vector<double> reduced(top + 1, INFINITY);
    double lowest = INFINITY;
    for (std::size_t m = 1; m <= top && !poll_stop(); ++m) {
        shape.m = m;
        reduced[m] = ladder_residual_sum(points, shape) / static_cast<double>(2 * n - shape.columns());
        lowest = std::min(lowest, reduced[m]);
    }
    for (std::size_t m = 1; m <= top; ++m) {
        shape.m = m;
        const double dof = static_cast<double>(2 * n - shape.columns());
        if (reduced[m] <= lowest * (1.0 + 2.0 * std::sqrt(2.0 / dof))) return shape;
    }
    shape.m = top;
    return shape;
}

}  // namespace vorlane
