// The RC ladder: time constants, design matrix, least-squares fits of each
// part, and the fitted ladder's impedance.
#include "validation/kk_ladder.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/cancellation.hpp"
#include "core/math.hpp"

namespace vorlane {
namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double LN_10 = 2.302585092994046;

// Least squares over rows [first_row, first_row + rows) and the listed
// columns of `a`, for what the already known coefficients leave of `b`;
// writes the solution into `coefficients` at the listed columns.
void solve_part(const ColumnMatrix& a, const std::vector<double>& b, std::size_t first_row, std::size_t rows,
                const std::vector<std::size_t>& unknown, std::vector<double>& coefficients) {
    if (unknown.empty()) return;
    ColumnMatrix sub = ColumnMatrix::unfilled(rows, unknown.size());
    std::vector<double> rhs(b.begin() + static_cast<std::ptrdiff_t>(first_row),
                            b.begin() + static_cast<std::ptrdiff_t>(first_row + rows));
    for (std::size_t j = 0; j < a.cols && !poll_stop(); ++j) {
        if (std::find(unknown.begin(), unknown.end(), j) != unknown.end()) continue;
        for (std::size_t i = 0; i < rows; ++i) rhs[i] -= a.at(first_row + i, j) * coefficients[j];
    }
    for (std::size_t c = 0; c < unknown.size(); ++c) {
        if (poll_stop()) return;  // `sub` is not filled: no solve
        for (std::size_t i = 0; i < rows; ++i) sub.at(i, c) = a.at(first_row + i, unknown[c]);
    }
    const std::vector<double> x = solve_least_squares(std::move(sub), std::move(rhs));
    for (std::size_t c = 0; c < unknown.size(); ++c) coefficients[unknown[c]] = x[c];
}

}  // namespace

KkPoints kk_points(const std::vector<double>& frequencies, const std::vector<Complex>& impedances,
                   const std::vector<std::size_t>& rows, bool modulus_weights) {
    KkPoints out;
    out.omega.reserve(rows.size());
    for (std::size_t i : rows) {
        const double modulus = std::hypot(impedances[i].re, impedances[i].im);
        out.omega.push_back(TWO_PI * frequencies[i]);
        out.impedance.push_back(impedances[i]);
        out.modulus.push_back(modulus);
        out.weight.push_back(modulus_weights ? 1.0 / modulus : 1.0);
    }
    if (!rows.empty()) {
        const auto [lo, hi] = std::minmax_element(out.omega.begin(), out.omega.end());
        out.omega_min = *lo;
        out.omega_max = *hi;
    }
    return out;
}

std::vector<double> ladder_time_constants(const LadderShape& shape, const KkPoints& points) {
    const double widen = math::exp(shape.extension * LN_10);
    const double shortest = shape.extension == 0.0 ? 1.0 / points.omega_max : 1.0 / (points.omega_max * widen);
    const double longest = shape.extension == 0.0 ? 1.0 / points.omega_min : widen / points.omega_min;
    std::vector<double> tau(shape.m);
    const double first = math::log(shortest);
    const double last = math::log(longest);
    for (std::size_t k = 1; k + 1 < shape.m; ++k) {
        const double fraction = static_cast<double>(k) / static_cast<double>(shape.m - 1);
        tau[k] = math::exp(first + fraction * (last - first));
    }
    // The ends exactly, not through a rounded logarithm.
    tau.front() = shortest;
    if (shape.m > 1) tau.back() = longest;
    return tau;
}

ColumnMatrix ladder_design(const KkPoints& points, const std::vector<double>& tau, const LadderShape& shape) {
    const std::size_t n = points.size();
    const std::size_t capacitance_column = 1 + shape.m;
    const std::size_t inductance_column = 1 + shape.m + shape.capacitance;
    ColumnMatrix a = ColumnMatrix::unfilled(2 * n, shape.columns());
    for (std::size_t i = 0; i < n; ++i) {
        // Stopped: a small zero matrix that every fit takes (and whose
        // result the caller discards).
        if (poll_stop_at_point(i)) return ColumnMatrix(2 * shape.columns(), shape.columns());
        const double w = points.weight[i];
        const double omega = points.omega[i];
        a.at(i, 0) = w;
        a.at(n + i, 0) = 0.0;
        for (std::size_t k = 0; k < tau.size(); ++k) {
            const double x = omega * tau[k];
            const double d = 1.0 + x * x;
            a.at(i, 1 + k) = w / d;
            a.at(n + i, 1 + k) = -w * x / d;
        }
        for (std::size_t j = 1 + shape.m; j < shape.columns(); ++j) a.at(i, j) = 0.0;
        if (shape.capacitance) a.at(n + i, capacitance_column) = -w * points.omega_min / omega;
        if (shape.inductance) a.at(n + i, inductance_column) = w * omega / points.omega_max;
    }
    return a;
}

std::vector<double> ladder_target(const KkPoints& points) {
    const std::size_t n = points.size();
    std::vector<double> b(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = points.weight[i] * points.impedance[i].re;
        b[n + i] = points.weight[i] * points.impedance[i].im;
    }
    return b;
}

std::vector<double> fit_ladder(ColumnMatrix a, const std::vector<double>& b, const LadderShape& shape,
                               KkPart part) {
    const std::size_t n = a.rows / 2;
    std::vector<double> coefficients(shape.columns(), 0.0);
    std::vector<std::size_t> resistors(1 + shape.m);
    std::iota(resistors.begin(), resistors.end(), std::size_t{0});
    std::vector<std::size_t> reactive;
    for (std::size_t j = 1 + shape.m; j < shape.columns(); ++j) reactive.push_back(j);
    switch (part) {
        case KkPart::Complex:
            coefficients = solve_least_squares(std::move(a), b);
            break;
        case KkPart::Real:
            solve_part(a, b, 0, n, resistors, coefficients);
            solve_part(a, b, n, n, reactive, coefficients);
            break;
        case KkPart::Imaginary: {
            std::vector<std::size_t> unknown(resistors.begin() + 1, resistors.end());
            unknown.insert(unknown.end(), reactive.begin(), reactive.end());
            solve_part(a, b, n, n, unknown, coefficients);
            solve_part(a, b, 0, n, {0}, coefficients);
            break;
        }
    }
    return coefficients;
}

double ladder_residual_sum(const KkPoints& points, const LadderShape& shape) {
    const std::vector<double> tau = ladder_time_constants(shape, points);
    ColumnMatrix a = ladder_design(points, tau, shape);
    std::vector<double> b = ladder_target(points);
    return least_squares_residual(a, b);
}

FittedLadder fitted_ladder(const KkPoints& points, std::vector<double> tau, const std::vector<double>& coefficients,
                           const LadderShape& shape) {
    FittedLadder out;
    out.time_constants = std::move(tau);
    out.ohmic_resistance = coefficients[0];
    out.resistances.assign(coefficients.begin() + 1, coefficients.begin() + 1 + static_cast<std::ptrdiff_t>(shape.m));
    if (shape.capacitance) out.inverse_capacitance = coefficients[1 + shape.m] * points.omega_min;
    if (shape.inductance) out.inductance = coefficients[1 + shape.m + shape.capacitance] / points.omega_max;
    return out;
}

Complex ladder_impedance(const FittedLadder& ladder, double omega) {
    Complex z{ladder.ohmic_resistance, omega * ladder.inductance - ladder.inverse_capacitance / omega};
    for (std::size_t k = 0; k < ladder.resistances.size(); ++k) {
        const double x = omega * ladder.time_constants[k];
        const double d = 1.0 + x * x;
        z.re += ladder.resistances[k] / d;
        z.im -= ladder.resistances[k] * x / d;
    }
    return z;
}

}  // namespace vorlane
