// The MINPACK building blocks of the Levenberg-Marquardt solver (lmder's
// helpers enorm, qrfac, qrsolv and lmpar), on column-major matrices with
// 0-based indices. Internal to the solver.
#pragma once

#include <cstddef>
#include <span>

namespace vorlane::minpack {

// Machine epsilon and the smallest positive normal double (MINPACK dpmpar 1, 2).
inline constexpr double EPSMCH = 2.220446049250313e-16;
inline constexpr double DWARF = 2.2250738585072014e-308;

// A column-major matrix view: element (i, j) at data[i + j * ld].
struct ColumnMajor {
    double* data;
    std::size_t ld;
    double& operator()(std::size_t i, std::size_t j) const { return data[i + j * ld]; }
};

double enorm(std::span<const double> x);
// norms[j] = enorm of rows [0, m) of column j, for j < n, bit for bit.
void column_norms(ColumnMajor a, std::size_t m, std::size_t n, std::span<double> norms);

void qrfac(std::size_t m, std::size_t n, ColumnMajor a, std::span<std::size_t> ipvt, std::span<double> rdiag,
           std::span<double> acnorm, std::span<double> wa);

void qrsolv(std::size_t n, ColumnMajor r, std::span<const std::size_t> ipvt, std::span<const double> diag,
            std::span<const double> qtb, std::span<double> x, std::span<double> sdiag, std::span<double> wa);

void lmpar(std::size_t n, ColumnMajor r, std::span<const std::size_t> ipvt, std::span<const double> diag,
           std::span<const double> qtb, double delta, double& par, std::span<double> x, std::span<double> sdiag,
           std::span<double> wa1, std::span<double> wa2);

}  // namespace vorlane::minpack
