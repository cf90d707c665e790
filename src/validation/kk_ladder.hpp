// The RC ladder of the linear Kramers-Kronig test: an ohmic resistance, M
// RC elements with fixed time constants and optionally a series capacitance
// and inductance, fitted to a spectrum by linear least squares.
#pragma once

#include <cstddef>
#include <vector>

#include "core/complex.hpp"
#include "validation/kramers_kronig.hpp"
#include "core/least_squares.hpp"

namespace vorlane {

// The points a ladder is fitted to.
struct KkPoints {
    std::vector<double> omega;  // rad/s
    std::vector<Complex> impedance;
    std::vector<double> modulus;
    std::vector<double> weight;
    double omega_min = 0.0;
    double omega_max = 0.0;
    std::size_t size() const { return omega.size(); }
};

// The shape of a ladder: M time constants spread evenly in log(tau) from
// 1/omega_max to 1/omega_min, each end moved `extension` decades outwards,
// and which series elements it has.
struct LadderShape {
    std::size_t m = 1;
    double extension = 0.0;
    bool capacitance = false;
    bool inductance = false;
    std::size_t columns() const { return 1 + m + capacitance + inductance; }
};

// The points of `frequencies` and `impedances` listed in `rows`.
KkPoints kk_points(const std::vector<double>& frequencies, const std::vector<Complex>& impedances,
                   const std::vector<std::size_t>& rows, bool modulus_weights);

std::vector<double> ladder_time_constants(const LadderShape& shape, const KkPoints& points);

// The weighted design matrix: rows 0 .. N-1 match the real parts, rows
// N .. 2N-1 the imaginary parts. Columns: R0, R_1 .. R_M, then the
// capacitance and inductance when the shape has them, scaled so that no
// entry exceeds the row weight: the capacitance column holds
// -omega_min / omega (coefficient 1 / (C omega_min)), the inductance column
// omega / omega_max (coefficient L omega_max). Once a stop is requested, a
// zero matrix of twice as many rows as columns.
ColumnMatrix ladder_design(const KkPoints& points, const std::vector<double>& tau, const LadderShape& shape);

// The weighted measured parts, in the rows of the design matrix.
std::vector<double> ladder_target(const KkPoints& points);

// The least-squares coefficients of `part`.
std::vector<double> fit_ladder(ColumnMatrix a, const std::vector<double>& b, const LadderShape& shape,
                               KkPart part);

// The smallest weighted sum of squares a complex fit of the shape reaches
// (from the QR factorisation alone, without solving for the coefficients).
double ladder_residual_sum(const KkPoints& points, const LadderShape& shape);

// A fitted ladder in physical units.
struct FittedLadder {
    std::vector<double> time_constants;
    double ohmic_resistance = 0.0;
    std::vector<double> resistances;
    double inverse_capacitance = 0.0;  // 1/C, 0 without a capacitance
    double inductance = 0.0;           // 0 without an inductance
};

FittedLadder fitted_ladder(const KkPoints& points, std::vector<double> tau, const std::vector<double>& coefficients,
                           const LadderShape& shape);

// The ladder's impedance at angular frequency omega.
Complex ladder_impedance(const FittedLadder& ladder, double omega);

}  // namespace vorlane
