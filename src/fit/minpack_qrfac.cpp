// MINPACK qrfac, always with column pivoting.
//
// Contract: factorises the m x n matrix a as a * P = Q * R by Householder
// transformations, choosing at step j the remaining column of largest norm.
// On return the strict upper triangle of a holds R without its diagonal,
// the lower trapezoid holds the Householder vectors that define Q, rdiag
// holds the diagonal of R, acnorm the norms of the original columns and
// ipvt the permutation (column j of a * P is column ipvt[j] of a). wa is
// scratch of n values. A requested stop ends it early with a meaningless
// factorisation.
#include <algorithm>
#include <cmath>
#include <utility>

#include "core/cancellation.hpp"
#include "fit/minpack_routines.hpp"

namespace vorlane::minpack {

namespace {

constexpr double P05 = 0.05;

// Norm of rows [from, m) of column j.
double column_norm(ColumnMajor a, std::size_t m, std::size_t from, std::size_t j) {
    return enorm(std::span<const double>(a.data + from + j * a.ld, m - from));
}

}  // namespace

void qrfac(std::size_t m, std::size_t n, ColumnMajor a, std::span<std::size_t> ipvt, std::span<double> rdiag,
           std::span<double> acnorm, std::span<double> wa) {
    column_norms(a, m, n, acnorm);
    for (std::size_t j = 0; j < n; ++j) {
        rdiag[j] = acnorm[j];
        wa[j] = rdiag[j];
        ipvt[j] = j;
    }
    const std::size_t minmn = std::min(m, n);
    for (std::size_t j = 0; j < minmn; ++j) {
        if (poll_stop()) return;
        std::size_t kmax = j;
        for (std::size_t k = j; k < n; ++k) {
            if (rdiag[k] > rdiag[kmax]) kmax = k;
        }
        if (kmax != j) {
            for (std::size_t i = 0; i < m; ++i) std::swap(a(i, j), a(i, kmax));
            rdiag[kmax] = rdiag[j];
            wa[kmax] = wa[j];
            std::swap(ipvt[j], ipvt[kmax]);
        }

        double ajnorm = column_norm(a, m, j, j);
        if (ajnorm != 0.0) {
            if (a(j, j) < 0.0) ajnorm = -ajnorm;
            for (std::size_t i = j; i < m; ++i) a(i, j) /= ajnorm;
            a(j, j) += 1.0;

            // Apply the transformation to the remaining columns and update
            // their norms, recomputing a norm once cancellation has eaten
            // too much of it.
            for (std::size_t k = j + 1; k < n; ++k) {
                double sum = 0.0;
                for (std::size_t i = j; i < m; ++i) sum += a(i, j) * a(i, k);
                const double temp = sum / a(j, j);
                for (std::size_t i = j; i < m; ++i) a(i, k) -= temp * a(i, j);
                if (rdiag[k] != 0.0) {
                    const double ratio = a(j, k) / rdiag[k];
                    rdiag[k] *= std::sqrt(std::max(0.0, 1.0 - ratio * ratio));
                    const double shrink = rdiag[k] / wa[k];
                    if (P05 * (shrink * shrink) <= EPSMCH) {
                        rdiag[k] = column_norm(a, m, j + 1, k);
                        wa[k] = rdiag[k];
                    }
                }
            }
        }
        rdiag[j] = -ajnorm;
    }
}

}  // namespace vorlane::minpack
