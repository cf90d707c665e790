// Minimum-norm linear least squares: Householder QR, then a one-sided Jacobi
// singular value decomposition of the triangular factor.
#include "core/least_squares.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/cancellation.hpp"

namespace vorlane {
namespace {

constexpr double EPSILON = std::numeric_limits<double>::epsilon();
// Jacobi sweeps converge quadratically; a few dozen is far beyond what any
// finite matrix needs and only bounds the loop.
constexpr int MAX_SWEEPS = 60;
// least_squares_residual skips a column whose remaining norm is below this
// fraction of its full norm: it depends on the columns before it.
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

// Overwrites `a` with R in its upper triangle (below it: unspecified) and `b`
// with Q^T b.
void householder_qr(ColumnMatrix& a, std::vector<double>& b) {
    const std::size_t m = a.rows;
    std::vector<double> v(m);
    for (std::size_t j = 0; j < a.cols && !poll_stop(); ++j) {
        double norm2 = 0.0;
        for (std::size_t i = j; i < m; ++i) norm2 += a.at(i, j) * a.at(i, j);
        if (norm2 == 0.0) continue;
        const double norm = std::sqrt(norm2);
        const double alpha = a.at(j, j) > 0.0 ? -norm : norm;
        for (std::size_t i = j; i < m; ++i) v[i] = a.at(i, j);
        v[j] -= alpha;
        // v.v = norm2 - 2 alpha a_jj + alpha^2, without cancellation since
        // alpha has the sign opposite to a_jj.
        const double vv = 2.0 * (norm2 - alpha * a.at(j, j));
        auto reflect = [&](auto&& entry) {
            double dot = 0.0;
            for (std::size_t i = j; i < m; ++i) dot += v[i] * entry(i);
            const double scale = 2.0 * dot / vv;
            for (std::size_t i = j; i < m; ++i) entry(i) -= scale * v[i];
        };
        // One reflected column of a tall matrix is milliseconds of work.
        for (std::size_t k = j + 1; k < a.cols && !poll_stop(); ++k) {
            reflect([&](std::size_t i) -> double& { return a.at(i, k); });
        }
        reflect([&](std::size_t i) -> double& { return b[i]; });
        a.at(j, j) = alpha;
        for (std::size_t i = j + 1; i < m; ++i) a.at(i, j) = 0.0;
    }
}

// Rotates columns p and q of `u` (n rows) and of `v` until they are
// orthogonal; true when a rotation was applied.
bool orthogonalise_pair(ColumnMatrix& u, ColumnMatrix& v, std::size_t p, std::size_t q) {
    double alpha = 0.0, beta = 0.0, gamma = 0.0;
    for (std::size_t i = 0; i < u.rows; ++i) {
        alpha += u.at(i, p) * u.at(i, p);
        beta += u.at(i, q) * u.at(i, q);
        gamma += u.at(i, p) * u.at(i, q);
    }
    if (!(std::fabs(gamma) > EPSILON * std::sqrt(alpha * beta))) return false;
    const double zeta = (beta - alpha) / (2.0 * gamma);
    const double t = std::copysign(1.0, zeta) / (std::fabs(zeta) + std::sqrt(1.0 + zeta * zeta));
    const double c = 1.0 / std::sqrt(1.0 + t * t);
    const double s = c * t;
    for (ColumnMatrix* m : {&u, &v}) {
        for (std::size_t i = 0; i < m->rows; ++i) {
            const double x = m->at(i, p), y = m->at(i, q);
            m->at(i, p) = c * x - s * y;
            m->at(i, q) = s * x + c * y;
        }
    }
    return true;
}

}  // namespace

double least_squares_residual(ColumnMatrix& a, std::vector<double>& b) {
    const std::size_t m = a.rows;
    std::size_t row = 0;
    std::vector<double> v(m);
    for (std::size_t j = 0; j < a.cols && row < m && !poll_stop(); ++j) {
        double* column = a.values.data() + j * m;
        const double full = dot(column, column, m);
        const std::size_t length = m - row;
        const double norm = std::sqrt(dot(column + row, column + row, length));
        if (!(norm > RANK_TOLERANCE * std::sqrt(full))) continue;
        const double alpha = column[row] > 0.0 ? -norm : norm;
        std::copy(column + row, column + m, v.begin());
        v[0] -= alpha;
        const double vv = dot(v.data(), v.data(), length);
        if (!(vv > 0.0)) continue;
        auto reflect = [&](double* y) {
            const double k = 2.0 * dot(v.data(), y + row, length) / vv;
            for (std::size_t i = 0; i < length; ++i) y[row + i] -= k * v[i];
        };
        for (std::size_t k = j; k < a.cols && !poll_stop(); ++k) reflect(a.values.data() + k * m);
        reflect(b.data());
        ++row;
    }
    return dot(b.data() + row, b.data() + row, m - row);
}

std::vector<double> solve_least_squares(ColumnMatrix a, std::vector<double> b) {
    const std::size_t n = a.cols;
    householder_qr(a, b);
    ColumnMatrix u(n, n);
    ColumnMatrix v(n, n);
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t i = 0; i <= j; ++i) u.at(i, j) = a.at(i, j);
        v.at(j, j) = 1.0;
    }
    for (int sweep = 0; sweep < MAX_SWEEPS; ++sweep) {
        bool rotated = false;
        for (std::size_t p = 0; p + 1 < n; ++p) {
            for (std::size_t q = p + 1; q < n; ++q) rotated |= orthogonalise_pair(u, v, p, q);
        }
        if (!rotated) break;
    }
    // Now R = U V^T with orthogonal columns in U: sigma_j = |U_j|.
    std::vector<double> sigma(n);
    for (std::size_t j = 0; j < n; ++j) {
        double norm2 = 0.0;
        for (std::size_t i = 0; i < n; ++i) norm2 += u.at(i, j) * u.at(i, j);
        sigma[j] = std::sqrt(norm2);
    }
    const double largest = n == 0 ? 0.0 : *std::max_element(sigma.begin(), sigma.end());
    const double cutoff = EPSILON * static_cast<double>(std::max(a.rows, n)) * largest;
    std::vector<double> x(n, 0.0);
    for (std::size_t j = 0; j < n; ++j) {
        if (!(sigma[j] > cutoff)) continue;
        double projection = 0.0;  // u_j . (Q^T b) / sigma_j, with u_j = U_j / sigma_j
        for (std::size_t i = 0; i < n; ++i) projection += u.at(i, j) * b[i];
        const double coefficient = projection / (sigma[j] * sigma[j]);
        for (std::size_t i = 0; i < n; ++i) x[i] += coefficient * v.at(i, j);
    }
    return x;
}

}  // namespace vorlane
