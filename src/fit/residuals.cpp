// Weights, the weighted residual vector, its cost and the solver-space mapping.
#include "fit/residuals.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "circuit/batch_impedance.hpp"
#include "core/cancellation.hpp"
#include "core/math.hpp"

namespace vorlane {

namespace {

constexpr double WEIGHT_FLOOR = 1e-30;
constexpr double LOG_FLOOR = 1e-300;

// max(x, floor) where a NaN x counts as below the floor.
double at_least(double x, double floor) { return x > floor ? x : floor; }

}  // namespace

std::vector<double> compute_weights(std::span<const Complex> measured, bool modulus) {
    std::vector<double> w(measured.size(), 1.0);
    if (modulus) {
        for (std::size_t i = 0; i < measured.size(); ++i) {
            w[i] = at_least(std::hypot(measured[i].re, measured[i].im), WEIGHT_FLOOR);
        }
    }
    return w;
}

std::vector<double> residuals(const SeriesList& nodes, std::span<const double> params,
                              std::span<const double> omega, std::span<const Complex> measured,
                              std::span<const double> weights, EvalCounter& counter) {
    std::vector<double> r(2 * std::min({omega.size(), measured.size(), weights.size()}));
    residuals_into(nodes, params, omega, measured, weights, counter, r);
    return r;
}

void residuals_into(const SeriesList& nodes, std::span<const double> params, std::span<const double> omega,
                    std::span<const Complex> measured, std::span<const double> weights, EvalCounter& counter,
                    std::span<double> r) {
    counter.add();
    // The lengths agree for every caller; the minimum only guards the reads.
    const std::size_t n = std::min({omega.size(), measured.size(), weights.size(), r.size() / 2});
    std::array<Complex, IMPEDANCE_BLOCK> model;
    for (std::size_t first = 0; first < n; first += IMPEDANCE_BLOCK) {
        if (poll_stop()) break;
        const std::size_t count = std::min(IMPEDANCE_BLOCK, n - first);
        block_impedance(nodes, params, omega.data() + first, count, model.data());
        for (std::size_t i = 0; i < count; ++i) {
            const Complex ri = weighted_residual(model[i], measured[first + i], weights[first + i]);
            r[2 * (first + i)] = ri.re;
            r[2 * (first + i) + 1] = ri.im;
        }
    }
}

double cost_of(std::span<const double> r) {
    double sum = 0.0;
    for (const double v : r) sum += v * v;
    return 0.5 * sum;
}

std::vector<double> to_solver_space(std::span<const double> physical_values, const Bounds& bounds) {
    const std::size_t n = std::min(physical_values.size(), bounds.size());
    std::vector<double> u(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double p = physical_values[i];
        u[i] = unbounded_above(bounds[i]) ? math::log10(at_least(p - bounds[i].first, LOG_FLOOR)) : p;
    }
    return u;
}

std::vector<double> physical(std::span<const double> solver_values, const Bounds& bounds) {
    std::vector<double> p(std::min(solver_values.size(), bounds.size()));
    physical_into(solver_values, bounds, p);
    return p;
}

void physical_into(std::span<const double> solver_values, const Bounds& bounds, std::span<double> p) {
    const std::size_t n = std::min({solver_values.size(), bounds.size(), p.size()});
    for (std::size_t i = 0; i < n; ++i) {
        const double u = solver_values[i];
        p[i] = unbounded_above(bounds[i]) ? bounds[i].first + math::pow(10.0, u) : u;
    }
}

std::vector<double> clamp_to_bounds(std::span<const double> values, const Bounds& bounds) {
    const std::size_t n = std::min(values.size(), bounds.size());
    std::vector<double> c(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        if (c[i] < bounds[i].first) {
            c[i] = bounds[i].first;
        } else if (c[i] > bounds[i].second) {
            c[i] = bounds[i].second;
        }
    }
    return c;
}

}  // namespace vorlane
