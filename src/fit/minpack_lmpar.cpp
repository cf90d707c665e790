// MINPACK lmpar.
//
// Contract: given the QR factorisation a * P = Q * R from qrfac (R in the
// upper triangle of r), the scaling diag, qtb = the first n entries of Q^T b
// and a trust-region radius delta > 0, finds the Levenberg-Marquardt
// parameter par >= 0 and the step x solving a * x = b, sqrt(par) * D * x = 0
// in the least-squares sense, such that either par = 0 and |D x| <= 1.1 delta
// (the Gauss-Newton step fits), or par > 0 and | |D x| - delta | <= 0.1 delta;
// at most ten iterations are spent on the search. par holds the starting
// estimate on entry. The strict lower triangle of r and sdiag receive the
// factor S of qrsolv; wa1 and wa2 are scratch of n values.
#include <algorithm>
#include <cmath>

#include "fit/minpack_routines.hpp"

namespace vorlane::minpack {

namespace {

constexpr double P1 = 0.1;
constexpr double P001 = 0.001;
constexpr int MAX_SEARCH_STEPS = 10;

}  // namespace

void lmpar(std::size_t n, ColumnMajor r, std::span<const std::size_t> ipvt, std::span<const double> diag,
           std::span<const double> qtb, double delta, double& par, std::span<double> x, std::span<double> sdiag,
           std::span<double> wa1, std::span<double> wa2) {
    // The Gauss-Newton direction; a rank-deficient R gives a least-squares
    // solution with the trailing components zero.
    std::size_t nsing = n;
    for (std::size_t j = 0; j < n; ++j) {
        wa1[j] = qtb[j];
        if (r(j, j) == 0.0 && nsing == n) nsing = j;
        if (nsing < n) wa1[j] = 0.0;
    }
    for (std::size_t j = nsing; j-- > 0;) {
        wa1[j] /= r(j, j);
        const double temp = wa1[j];
        for (std::size_t i = 0; i < j; ++i) wa1[i] -= r(i, j) * temp;
    }
    for (std::size_t j = 0; j < n; ++j) x[ipvt[j]] = wa1[j];

    // Accept the Gauss-Newton direction when it lies inside the region.
    int iter = 0;
    for (std::size_t j = 0; j < n; ++j) wa2[j] = diag[j] * x[j];
    double dxnorm = enorm(wa2.first(n));
    double fp = dxnorm - delta;
    if (fp <= P1 * delta) {
        par = 0.0;
        return;
    }

    // Lower bound parl from the Newton step, available only at full rank.
    double parl = 0.0;
    if (nsing >= n) {
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t l = ipvt[j];
            wa1[j] = diag[l] * (wa2[l] / dxnorm);
        }
        for (std::size_t j = 0; j < n; ++j) {
            double sum = 0.0;
            for (std::size_t i = 0; i < j; ++i) sum += r(i, j) * wa1[i];
            wa1[j] = (wa1[j] - sum) / r(j, j);
        }
        const double temp = enorm(wa1.first(n));
        parl = ((fp / delta) / temp) / temp;
    }

    // Upper bound paru from the scaled gradient.
    for (std::size_t j = 0; j < n; ++j) {
        double sum = 0.0;
        for (std::size_t i = 0; i <= j; ++i) sum += r(i, j) * qtb[i];
        wa1[j] = sum / diag[ipvt[j]];
    }
    const double gnorm = enorm(wa1.first(n));
    double paru = gnorm / delta;
    if (paru == 0.0) paru = DWARF / std::min(delta, P1);

    par = std::max(par, parl);
    par = std::min(par, paru);
    if (par == 0.0) par = gnorm / dxnorm;

    for (;;) {
        ++iter;
        if (par == 0.0) par = std::max(DWARF, P001 * paru);
        const double root = std::sqrt(par);
        for (std::size_t j = 0; j < n; ++j) wa1[j] = root * diag[j];
        qrsolv(n, r, ipvt, wa1.first(n), qtb, x, sdiag, wa2);
        for (std::size_t j = 0; j < n; ++j) wa2[j] = diag[j] * x[j];
        dxnorm = enorm(wa2.first(n));
        const double previous_fp = fp;
        fp = dxnorm - delta;
        if (std::fabs(fp) <= P1 * delta || (parl == 0.0 && fp <= previous_fp && previous_fp < 0.0) ||
            iter == MAX_SEARCH_STEPS) {
            return;
        }

        // Newton correction of par.
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t l = ipvt[j];
            wa1[j] = diag[l] * (wa2[l] / dxnorm);
        }
        for (std::size_t j = 0; j < n; ++j) {
            wa1[j] /= sdiag[j];
            const double temp = wa1[j];
            for (std::size_t i = j + 1; i < n; ++i) wa1[i] -= r(i, j) * temp;
        }
        const double temp = enorm(wa1.first(n));
        const double parc = ((fp / delta) / temp) / temp;
        if (fp > 0.0) parl = std::max(parl, par);
        if (fp < 0.0) paru = std::min(paru, par);
        par = std::max(parl, par + parc);
    }
}

}  // namespace vorlane::minpack
