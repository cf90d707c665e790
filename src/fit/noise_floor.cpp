// The noise floor of a spectrum from a linear least-squares ladder fit.
#include "fit/noise_floor.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/cancellation.hpp"
#include "core/least_squares.hpp"
#include "core/math.hpp"

namespace vorlane {
namespace {

constexpr double LADDER_PER_DECADE = 3.0;
constexpr double LADDER_MARGIN = 1.0;  // decades beyond each end of the window
constexpr std::size_t EXTRA_COLUMNS = 4;  // resistance, inductance, series capacitance, Warburg
}  // namespace

double expected_optimum_cost(std::span<const double> omega, std::span<const Complex> measured,
                             std::span<const double> weights, std::size_t parameter_count) {
    constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::size_t> usable;
    double lo = std::numeric_limits<double>::infinity(), hi = 0.0;
    const std::size_t n_all = std::min({omega.size(), measured.size(), weights.size()});
    for (std::size_t i = 0; i < n_all; ++i) {
        if (poll_stop_at_point(i)) return NAN_VALUE;
        const double w = omega[i];
        if (!(w > 0.0) || !std::isfinite(w) || !std::isfinite(measured[i].re) || !std::isfinite(measured[i].im) ||
            !(weights[i] > 0.0) || !std::isfinite(weights[i])) {
            continue;
        }
        usable.push_back(i);
        lo = std::min(lo, w);
        hi = std::max(hi, w);
    }
    const std::size_t n = usable.size();
    const double decades = math::log10(hi / lo) + 2.0 * LADDER_MARGIN;
    std::size_t ladder = static_cast<std::size_t>(std::ceil(LADDER_PER_DECADE * decades));
    const std::size_t m = 2 * n;
    // The ladder must leave degrees of freedom to measure the noise with.
    ladder = std::min(ladder, n > EXTRA_COLUMNS ? n - EXTRA_COLUMNS : 0);
    const std::size_t columns = ladder + EXTRA_COLUMNS;
    if (ladder < 2 || m <= columns || m <= parameter_count) return NAN_VALUE;

    ColumnMatrix a(m, columns);
    std::vector<double> b(m);
    const double log_tau_low = -math::log10(hi) - LADDER_MARGIN;
    const double log_tau_high = -math::log10(lo) + LADDER_MARGIN;
    // The ladder's time constants, the same for every frequency.
    std::vector<double> tau(ladder);
    for (std::size_t k = 0; k < ladder; ++k) {
        const double t = static_cast<double>(k) / static_cast<double>(ladder - 1);
        tau[k] = math::pow(10.0, log_tau_low + (log_tau_high - log_tau_low) * t);
    }
    for (std::size_t r = 0; r < n; ++r) {
        if (poll_stop_at_point(r)) return NAN_VALUE;
        const std::size_t i = usable[r];
        const double w = omega[i], inv = 1.0 / weights[i];
        b[2 * r] = measured[i].re * inv;
        b[2 * r + 1] = measured[i].im * inv;
        auto set = [&](std::size_t column, double re, double im) {
            a.at(2 * r, column) = re * inv;
            a.at(2 * r + 1, column) = im * inv;
        };
        set(0, 1.0, 0.0);
        set(1, 0.0, w);
        set(2, 0.0, -1.0 / w);
        set(3, 1.0 / std::sqrt(w), -1.0 / std::sqrt(w));
        for (std::size_t k = 0; k < ladder; ++k) {
            const double x = w * tau[k];
            const double d = 1.0 + x * x;
            set(EXTRA_COLUMNS + k, 1.0 / d, -x / d);
        }
    }
    const double residual = least_squares_residual(a, b);
    const double variance = residual / static_cast<double>(m - columns);
    return 0.5 * variance * static_cast<double>(m - parameter_count);
}

}  // namespace vorlane
