// MINPACK qrsolv.
//
// Contract: given the QR factorisation a * P = Q * R from qrfac (R in the
// upper triangle of r, n x n), a diagonal matrix D (diag) and qtb = the first
// n entries of Q^T b, solves a * x = b, D * x = 0 in the least-squares sense.
// Givens rotations eliminate D, giving the upper triangular S with
// P^T (a^T a + D D) P = S^T S; the strict lower triangle of r receives S
// transposed without its diagonal, sdiag receives the diagonal of S, and the
// upper triangle and diagonal of r are kept. A singular S yields the
// least-squares solution with the trailing components set to zero. wa is
// scratch of n values.
#include <cmath>

#include "fit/minpack_routines.hpp"

namespace vorlane::minpack {

namespace {

constexpr double P5 = 0.5;
constexpr double P25 = 0.25;

}  // namespace

void qrsolv(std::size_t n, ColumnMajor r, std::span<const std::size_t> ipvt, std::span<const double> diag,
            std::span<const double> qtb, std::span<double> x, std::span<double> sdiag, std::span<double> wa) {
    // Keep R and qtb: copy R's upper triangle into the lower one and save its diagonal in x.
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t i = j; i < n; ++i) r(i, j) = r(j, i);
        x[j] = r(j, j);
        wa[j] = qtb[j];
    }

    for (std::size_t j = 0; j < n; ++j) {
        const double d = diag[ipvt[j]];
        if (d != 0.0) {
            for (std::size_t k = j; k < n; ++k) sdiag[k] = 0.0;
            sdiag[j] = d;
            // The rotations that eliminate row j of D modify only a single
            // element of Q^T b beyond the first n, held in qtbpj.
            double qtbpj = 0.0;
            for (std::size_t k = j; k < n; ++k) {
                if (sdiag[k] == 0.0) continue;
                double sin, cos;
                if (std::fabs(r(k, k)) < std::fabs(sdiag[k])) {
                    const double cotan = r(k, k) / sdiag[k];
                    sin = P5 / std::sqrt(P25 + P25 * (cotan * cotan));
                    cos = sin * cotan;
                } else {
                    const double tan = sdiag[k] / r(k, k);
                    cos = P5 / std::sqrt(P25 + P25 * (tan * tan));
                    sin = cos * tan;
                }
                r(k, k) = cos * r(k, k) + sin * sdiag[k];
                const double temp = cos * wa[k] + sin * qtbpj;
                qtbpj = -sin * wa[k] + cos * qtbpj;
                wa[k] = temp;
                for (std::size_t i = k + 1; i < n; ++i) {
                    const double t = cos * r(i, k) + sin * sdiag[i];
                    sdiag[i] = -sin * r(i, k) + cos * sdiag[i];
                    r(i, k) = t;
                }
            }
        }
        sdiag[j] = r(j, j);
        r(j, j) = x[j];
    }

    // Back substitution in S; a zero diagonal entry ends the regular part.
    std::size_t nsing = n;
    for (std::size_t j = 0; j < n; ++j) {
        if (sdiag[j] == 0.0 && nsing == n) nsing = j;
        if (nsing < n) wa[j] = 0.0;
    }
    for (std::size_t j = nsing; j-- > 0;) {
        double sum = 0.0;
        for (std::size_t i = j + 1; i < nsing; ++i) sum += r(i, j) * wa[i];
        wa[j] = (wa[j] - sum) / sdiag[j];
    }
    for (std::size_t j = 0; j < n; ++j) x[ipvt[j]] = wa[j];
}

}  // namespace vorlane::minpack
