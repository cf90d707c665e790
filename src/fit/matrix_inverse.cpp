// Closed-form inverses up to 4 x 4 and an LU inverse above.
#include "fit/matrix_inverse.hpp"

#include <cmath>
#include <utility>

#include "core/cancellation.hpp"

namespace vorlane {

namespace {

using Inverse = std::optional<std::vector<double>>;

Inverse divided_by(std::vector<double> adjugate, double det) {
    if (det == 0.0) return std::nullopt;
    for (double& v : adjugate) v /= det;
    return adjugate;
}

Inverse invert_2(std::span<const double> m) {
    const double det = m[0] * m[3] - m[2] * m[1];
    return divided_by({m[3], -m[1], -m[2], m[0]}, det);
}

Inverse invert_3(std::span<const double> m) {
    const double minor_12_23 = m[4] * m[8] - m[7] * m[5];
    const double minor_11_23 = m[3] * m[8] - m[6] * m[5];
    const double minor_11_22 = m[3] * m[7] - m[6] * m[4];
    const double det = m[0] * minor_12_23 - m[1] * minor_11_23 + m[2] * minor_11_22;
    return divided_by({minor_12_23, m[2] * m[7] - m[8] * m[1], m[1] * m[5] - m[4] * m[2],  //
                       -minor_11_23, m[0] * m[8] - m[6] * m[2], m[2] * m[3] - m[5] * m[0],  //
                       minor_11_22, m[1] * m[6] - m[7] * m[0], m[0] * m[4] - m[3] * m[1]},
                      det);
}

Inverse invert_4(std::span<const double> m) {
    std::vector<double> inv(16);
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
             m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
             m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
             m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
              m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
             m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
             m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
             m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
              m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
             m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
              m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
              m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
             m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
              m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    const double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    return divided_by(std::move(inv), det);
}

Inverse invert_lu(std::span<const double> a, std::size_t n) {
    std::vector<double> lu(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n * n));
    std::vector<std::size_t> perm(n);
    for (std::size_t i = 0; i < n; ++i) perm[i] = i;
    for (std::size_t k = 0; k < n; ++k) {
        if (poll_stop()) return std::nullopt;
        std::size_t pivot = k;
        double largest = std::fabs(lu[k * n + k]);
        for (std::size_t i = k + 1; i < n; ++i) {
            if (std::fabs(lu[i * n + k]) > largest) {
                largest = std::fabs(lu[i * n + k]);
                pivot = i;
            }
        }
        if (largest == 0.0) return std::nullopt;
        if (pivot != k) {
            for (std::size_t j = 0; j < n; ++j) std::swap(lu[k * n + j], lu[pivot * n + j]);
            std::swap(perm[k], perm[pivot]);
        }
        for (std::size_t i = k + 1; i < n; ++i) {
            const double l = lu[i * n + k] / lu[k * n + k];
            lu[i * n + k] = l;
            for (std::size_t j = k + 1; j < n; ++j) lu[i * n + j] -= l * lu[k * n + j];
        }
    }
    // Column c of the inverse solves L U x = P e_c.
    std::vector<double> inv(n * n);
    std::vector<double> x(n);
    for (std::size_t c = 0; c < n; ++c) {
        if (poll_stop()) return std::nullopt;
        for (std::size_t i = 0; i < n; ++i) {
            double sum = perm[i] == c ? 1.0 : 0.0;
            for (std::size_t j = 0; j < i; ++j) sum -= lu[i * n + j] * x[j];
            x[i] = sum;
        }
        for (std::size_t i = n; i-- > 0;) {
            double sum = x[i];
            for (std::size_t j = i + 1; j < n; ++j) sum -= lu[i * n + j] * x[j];
            x[i] = sum / lu[i * n + i];
        }
        for (std::size_t i = 0; i < n; ++i) inv[i * n + c] = x[i];
    }
    return inv;
}

}  // namespace

std::optional<std::vector<double>> invert_matrix(std::span<const double> a, std::size_t n) {
    if (a.size() < n * n) return std::nullopt;
    switch (n) {
        case 0: return std::vector<double>{};
        case 1: return divided_by({1.0}, a[0]);
        case 2: return invert_2(a);
        case 3: return invert_3(a);
        case 4: return invert_4(a);
        default: return invert_lu(a, n);
    }
}

}  // namespace vorlane
