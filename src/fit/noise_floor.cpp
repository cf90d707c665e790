// The noise floor of a spectrum from a linear least-squares ladder fit.
#include "fit/noise_floor.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/math.hpp"

namespace vorlane {
namespace {

constexpr double LADDER_PER_DECADE = 3.0;
constexpr double LADDER_MARGIN = 1.0;  // decades beyond each end of the window
constexpr std::size_t EXTRA_COLUMNS = 4;  // resistance, inductance, series capacitance, Warburg
constexpr double RANK_TOLERANCE = 1e-12;

// x . y over n entries in four interleaved partial sums: a fixed order, so
// the same bits on every run, without one long chain of dependent additions.
double dot(const double* x, const double* y, std::size_t n) {
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        for (std::size_t lane = 0; lane < 4; ++lane) partial[lane] += x[i + lane] * y[i + lane];
    }
    for (; i < n; ++i) partial[0] += x[i] * y[i];
    return (partial[0] + partial[1]) + (partial[2] + partial[3]);
}

// Sum of squared residuals of the least-squares solution of A x = b, with A
// stored column by column (m rows); Householder reflections, a column whose
// remaining norm is negligible is skipped. A and b are overwritten.
double least_squares_residual(std::vector<double>& a, std::vector<double>& b, std::size_t m, std::size_t n) {
    std::size_t row = 0;
    std::vector<double> v(m);
    for (std::size_t j = 0; j < n && row < m; ++j) {
        double* col = a.data() + j * m;
        const double full = dot(col, col, m);
        const std::size_t length = m - row;
        double norm = std::sqrt(dot(col + row, col + row, length));
        if (!(norm > RANK_TOLERANCE * std::sqrt(full))) continue;
        const double alpha = col[row] > 0.0 ? -norm : norm;
        std::copy(col + row, col + m, v.begin());
        v[0] -= alpha;
        const double vv = dot(v.data(), v.data(), length);
        if (!(vv > 0.0)) continue;
        auto reflect = [&](double* y) {
            const double k = 2.0 * dot(v.data(), y + row, length) / vv;
            for (std::size_t i = 0; i < length; ++i) y[row + i] -= k * v[i];
        };
        for (std::size_t k = j; k < n; ++k) reflect(a.data() + k * m);
        reflect(b.data());
        ++row;
    }
    return dot(b.data() + row, b.data() + row, m - row);
}

}  // namespace

double expected_optimum_cost(std::span<const double> omega, std::span<const Complex> measured,
                             std::span<const double> weights, std::size_t parameter_count) {
    constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::size_t> usable;
    double lo = std::numeric_limits<double>::infinity(), hi = 0.0;
    const std::size_t n_all = std::min({omega.size(), measured.size(), weights.size()});
    for (std::size_t i = 0; i < n_all; ++i) {
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

    std::vector<double> a(m * columns, 0.0), b(m);
    const double log_tau_low = -math::log10(hi) - LADDER_MARGIN;
    const double log_tau_high = -math::log10(lo) + LADDER_MARGIN;
    // The ladder's time constants, the same for every frequency.
    std::vector<double> tau(ladder);
    for (std::size_t k = 0; k < ladder; ++k) {
        const double t = static_cast<double>(k) / static_cast<double>(ladder - 1);
        tau[k] = math::pow(10.0, log_tau_low + (log_tau_high - log_tau_low) * t);
    }
    for (std::size_t r = 0; r < n; ++r) {
        const std::size_t i = usable[r];
        const double w = omega[i], inv = 1.0 / weights[i];
        b[2 * r] = measured[i].re * inv;
        b[2 * r + 1] = measured[i].im * inv;
        auto set = [&](std::size_t column, double re, double im) {
            a[column * m + 2 * r] = re * inv;
            a[column * m + 2 * r + 1] = im * inv;
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
    const double residual = least_squares_residual(a, b, m, columns);
    const double variance = residual / static_cast<double>(m - columns);
    return 0.5 * variance * static_cast<double>(m - parameter_count);
}

}  // namespace vorlane
