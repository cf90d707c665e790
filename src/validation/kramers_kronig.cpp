// The linear Kramers-Kronig test: input checks, the design matrix of the RC
// chain, the least-squares steps of each fit part and the mu criterion loop.
#include "validation/kramers_kronig.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/cancellation.hpp"
#include "core/math.hpp"
#include "core/number_format.hpp"
#include "validation/least_squares.hpp"

namespace vorlane {
namespace {

constexpr double TWO_PI = 6.283185307179586;
// The automatic search stops here even when mu never falls below the
// cut-off (noise-free data never over-fits): each step solves a problem of
// M columns, so the search would otherwise grow with the fourth power of
// the number of points. Real spectra stop far below it.
constexpr std::size_t MAX_AUTOMATIC_M = 100;

// The measured spectrum as the fit sees it.
struct Measurement {
    std::vector<double> omega;      // rad/s
    std::vector<Complex> impedance;
    std::vector<double> modulus;
    std::vector<double> weight;
    double omega_min = 0.0;
    double omega_max = 0.0;
};

// Column layout of the design matrix: R0, R_1 .. R_M, then the capacitance
// and inductance columns when asked for. Their coefficients are scaled so
// that every column has entries of at most the row weight: the capacitance
// column holds -omega_min / omega (coefficient 1 / (C omega_min)), the
// inductance column omega / omega_max (coefficient L omega_max).
struct Columns {
    std::size_t m;
    bool capacitance;
    bool inductance;
    std::size_t count() const { return 1 + m + capacitance + inductance; }
    std::size_t capacitance_index() const { return 1 + m; }
    std::size_t inductance_index() const { return 1 + m + capacitance; }
};

std::string part_name(KkPart part) {
    switch (part) {
        case KkPart::Real: return "real";
        case KkPart::Imaginary: return "imaginary";
        case KkPart::Complex: break;
    }
    return "complex";
}

std::optional<KkError> check_input(const std::vector<double>& frequencies, const std::vector<Complex>& impedances,
                                   const KkOptions& options) {
    if (frequencies.size() != impedances.size()) {
        return KkError{"frequencies and impedances must have the same length"};
    }
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        if (!(std::isfinite(frequencies[i]) && frequencies[i] > 0.0)) {
            return KkError{"frequencies must be finite and positive: frequency " + std::to_string(i) + " is " +
                           format_debug_float(frequencies[i])};
        }
    }
    for (std::size_t i = 0; i < impedances.size(); ++i) {
        const Complex z = impedances[i];
        if (!(std::isfinite(z.re) && std::isfinite(z.im)) || (z.re == 0.0 && z.im == 0.0)) {
            return KkError{"impedances must be finite and nonzero: impedance " + std::to_string(i) + " is (" +
                           format_debug_float(z.re) + ", " + format_debug_float(z.im) + ")"};
        }
    }
    if (!(options.mu_cutoff > 0.0 && options.mu_cutoff <= 1.0)) {
        return KkError{"mu_cutoff must lie in (0, 1], got " + format_debug_float(options.mu_cutoff)};
    }
    if (options.m && *options.m == 0) return KkError{"m must be at least 1"};
    const std::size_t points = frequencies.size();
    const std::size_t allowed = max_time_constants(points, options);
    if (allowed == 0) {
        std::size_t needed = points + 1;
        while (max_time_constants(needed, options) == 0) ++needed;
        return KkError{"a " + part_name(options.part) + " fit needs at least " + std::to_string(needed) +
                       " measured points, got " + std::to_string(points)};
    }
    if (options.m && *options.m > allowed) {
        return KkError{"m = " + std::to_string(*options.m) + " is too large: " + std::to_string(points) +
                       " measured points allow at most m = " + std::to_string(allowed) + " for a " +
                       part_name(options.part) + " fit"};
    }
    return std::nullopt;
}

Measurement measure(const std::vector<double>& frequencies, const std::vector<Complex>& impedances,
                    bool modulus_weights) {
    Measurement out;
    const std::size_t n = frequencies.size();
    out.impedance = impedances;
    out.omega.resize(n);
    out.modulus.resize(n);
    out.weight.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.omega[i] = TWO_PI * frequencies[i];
        out.modulus[i] = std::hypot(impedances[i].re, impedances[i].im);
        out.weight[i] = modulus_weights ? 1.0 / out.modulus[i] : 1.0;
    }
    const auto [lo, hi] = std::minmax_element(out.omega.begin(), out.omega.end());
    out.omega_min = *lo;
    out.omega_max = *hi;
    return out;
}

// tau_1 = 1 / omega_max to tau_M = 1 / omega_min, evenly spaced in log(tau).
std::vector<double> time_constants(std::size_t m, const Measurement& data) {
    const double first = math::log(1.0 / data.omega_max);
    const double last = math::log(1.0 / data.omega_min);
    std::vector<double> tau(m);
    for (std::size_t k = 1; k + 1 < m; ++k) {
        const double fraction = static_cast<double>(k) / static_cast<double>(m - 1);
        tau[k] = math::exp(first + fraction * (last - first));
    }
    // The ends exactly, not through a rounded logarithm.
    tau.front() = 1.0 / data.omega_max;
    if (m > 1) tau.back() = 1.0 / data.omega_min;
    return tau;
}

// Rows 0 .. N-1 match the weighted real parts, rows N .. 2N-1 the weighted
// imaginary parts.
ColumnMatrix design_matrix(const Measurement& data, const std::vector<double>& tau, const Columns& columns) {
    const std::size_t n = data.omega.size();
    ColumnMatrix a(2 * n, columns.count());
    for (std::size_t i = 0; i < n && !poll_stop(); ++i) {
        const double w = data.weight[i];
        const double omega = data.omega[i];
        a.at(i, 0) = w;
        for (std::size_t k = 0; k < tau.size(); ++k) {
            const double x = omega * tau[k];
            const double d = 1.0 + x * x;
            a.at(i, 1 + k) = w / d;
            a.at(n + i, 1 + k) = -w * x / d;
        }
        if (columns.capacitance) a.at(n + i, columns.capacitance_index()) = -w * data.omega_min / omega;
        if (columns.inductance) a.at(n + i, columns.inductance_index()) = w * omega / data.omega_max;
    }
    return a;
}

std::vector<double> weighted_target(const Measurement& data) {
    const std::size_t n = data.omega.size();
    std::vector<double> b(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = data.weight[i] * data.impedance[i].re;
        b[n + i] = data.weight[i] * data.impedance[i].im;
    }
    return b;
}

// Least squares over rows [first_row, first_row + rows) and the listed
// columns of `a`, for what the already known coefficients `known` leave of
// `b`; writes the solution into `coefficients` at the listed columns.
void solve_part(const ColumnMatrix& a, const std::vector<double>& b, std::size_t first_row, std::size_t rows,
                const std::vector<std::size_t>& unknown, std::vector<double>& coefficients) {
    if (unknown.empty()) return;
    ColumnMatrix sub(rows, unknown.size());
    std::vector<double> rhs(b.begin() + static_cast<std::ptrdiff_t>(first_row),
                            b.begin() + static_cast<std::ptrdiff_t>(first_row + rows));
    for (std::size_t j = 0; j < a.cols; ++j) {
        const bool is_unknown = std::find(unknown.begin(), unknown.end(), j) != unknown.end();
        for (std::size_t i = 0; i < rows; ++i) {
            if (!is_unknown) rhs[i] -= a.at(first_row + i, j) * coefficients[j];
        }
    }
    for (std::size_t c = 0; c < unknown.size(); ++c) {
        for (std::size_t i = 0; i < rows; ++i) sub.at(i, c) = a.at(first_row + i, unknown[c]);
    }
    const std::vector<double> x = solve_least_squares(std::move(sub), std::move(rhs));
    for (std::size_t c = 0; c < unknown.size(); ++c) coefficients[unknown[c]] = x[c];
}

std::vector<double> fit_coefficients(const ColumnMatrix& a, const std::vector<double>& b, const Columns& columns,
                                     KkPart part) {
    const std::size_t n = a.rows / 2;
    std::vector<double> coefficients(columns.count(), 0.0);
    std::vector<std::size_t> resistors(1 + columns.m);
    std::iota(resistors.begin(), resistors.end(), std::size_t{0});
    std::vector<std::size_t> reactive;
    if (columns.capacitance) reactive.push_back(columns.capacitance_index());
    if (columns.inductance) reactive.push_back(columns.inductance_index());
    switch (part) {
        case KkPart::Complex: {
            std::vector<std::size_t> all(columns.count());
            std::iota(all.begin(), all.end(), std::size_t{0});
            solve_part(a, b, 0, 2 * n, all, coefficients);
            break;
        }
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

KkResult evaluate(const Measurement& data, std::vector<double> tau, const std::vector<double>& coefficients,
                  const Columns& columns) {
    KkResult out;
    out.m = columns.m;
    out.time_constants = std::move(tau);
    out.ohmic_resistance = coefficients[0];
    out.resistances.assign(coefficients.begin() + 1, coefficients.begin() + 1 + static_cast<std::ptrdiff_t>(columns.m));
    out.mu = mu_criterion(out.resistances);
    const double inverse_capacitance =
        columns.capacitance ? coefficients[columns.capacitance_index()] * data.omega_min : 0.0;
    const double inductance = columns.inductance ? coefficients[columns.inductance_index()] / data.omega_max : 0.0;
    if (columns.capacitance) out.capacitance = 1.0 / inverse_capacitance;
    if (columns.inductance) out.inductance = inductance;
    const std::size_t n = data.omega.size();
    out.impedance.resize(n);
    out.residuals_real.resize(n);
    out.residuals_imag.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double omega = data.omega[i];
        Complex z{out.ohmic_resistance, omega * inductance - inverse_capacitance / omega};
        for (std::size_t k = 0; k < columns.m; ++k) {
            const double x = omega * out.time_constants[k];
            const double d = 1.0 + x * x;
            z.re += out.resistances[k] / d;
            z.im -= out.resistances[k] * x / d;
        }
        out.impedance[i] = z;
        out.residuals_real[i] = (data.impedance[i].re - z.re) / data.modulus[i];
        out.residuals_imag[i] = (data.impedance[i].im - z.im) / data.modulus[i];
        out.pseudo_chi_square += out.residuals_real[i] * out.residuals_real[i] +
                                 out.residuals_imag[i] * out.residuals_imag[i];
    }
    return out;
}

KkResult fit_with(const Measurement& data, std::size_t m, const KkOptions& options) {
    const Columns columns{m, options.capacitance, options.inductance};
    std::vector<double> tau = time_constants(m, data);
    const ColumnMatrix a = design_matrix(data, tau, columns);
    const std::vector<double> coefficients = fit_coefficients(a, weighted_target(data), columns, options.part);
    return evaluate(data, std::move(tau), coefficients, columns);
}

}  // namespace

std::size_t max_time_constants(std::size_t points, const KkOptions& options) {
    const std::size_t reactive = std::size_t{options.capacitance} + std::size_t{options.inductance};
    std::size_t limit = points;  // one time constant per frequency
    auto at_most = [&](std::size_t unknown_besides_m, std::size_t equations) {
        limit = equations >= unknown_besides_m ? std::min(limit, equations - unknown_besides_m) : 0;
    };
    switch (options.part) {
        case KkPart::Complex: at_most(1 + reactive, 2 * points); break;
        case KkPart::Real:
            at_most(1, points);
            if (reactive > points) limit = 0;
            break;
        case KkPart::Imaginary: at_most(reactive, points); break;
    }
    return limit;
}

double mu_criterion(const std::vector<double>& resistances) {
    double negative = 0.0, positive = 0.0;
    for (double r : resistances) {
        if (r < 0.0) {
            negative -= r;
        } else {
            positive += r;
        }
    }
    if (negative == 0.0) return 1.0;
    return 1.0 - negative / positive;
}

std::expected<KkResult, KkError> kramers_kronig(const std::vector<double>& frequencies,
                                                const std::vector<Complex>& impedances, const KkOptions& options) {
    if (auto refused = check_input(frequencies, impedances, options)) return std::unexpected(*refused);
    const Measurement data = measure(frequencies, impedances, options.modulus_weights);
    if (options.m) return fit_with(data, *options.m, options);
    const std::size_t limit = std::min(max_time_constants(frequencies.size(), options), MAX_AUTOMATIC_M);
    KkResult result;
    for (std::size_t m = 1; m <= limit && !poll_stop(); ++m) {
        result = fit_with(data, m, options);
        // One element cannot over-fit: its resistance may come out negative
        // only because a single time constant misses the spectrum.
        if (m >= 2 && result.mu < options.mu_cutoff) break;
    }
    return result;
}

}  // namespace vorlane
