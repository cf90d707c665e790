// Central-difference Jacobian of the residual vector over the worker pool.
#include "fit/jacobian.hpp"

#include <algorithm>
#include <cmath>

#include "core/worker_pool.hpp"

namespace vorlane {

namespace {

// cbrt(2^-52): the step that balances truncation against rounding error of a
// central difference in double precision.
constexpr double EPS_CBRT = 6.0554544523933395e-06;
constexpr double STEP_FLOOR = 1e-8;

}  // namespace

std::vector<std::vector<double>> jacobian_columns(const SeriesList& nodes, std::span<const double> params,
                                                  std::span<const double> omega,
                                                  std::span<const Complex> measured,
                                                  std::span<const double> weights, EvalCounter& counter) {
    auto column = [&](std::size_t j) {
        const double magnitude = std::fabs(params[j]);
        const double h = EPS_CBRT * (magnitude > STEP_FLOOR ? magnitude : STEP_FLOOR);
        std::vector<double> forward(params.begin(), params.end());
        std::vector<double> backward(params.begin(), params.end());
        forward[j] += h;
        backward[j] -= h;
        const std::vector<double> r_plus = residuals(nodes, forward, omega, measured, weights, counter);
        const std::vector<double> r_minus = residuals(nodes, backward, omega, measured, weights, counter);
        // The divisor comes from h itself, not from the perturbed values, so
        // it is the same number whatever rounding the two points suffered.
        const double two_h = h * 2.0;
        std::vector<double> c(std::min(r_plus.size(), r_minus.size()));
        for (std::size_t k = 0; k < c.size(); ++k) c[k] = (r_plus[k] - r_minus[k]) / two_h;
        return c;
    };
    return pool::parallel_map<std::vector<double>>(params.size(), column);
}

}  // namespace vorlane
