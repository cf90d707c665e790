// Group normalisation and fully connected layers over lanes of doubles.
//
// A single running sum would make every add wait for the one before; the
// sums here run in eight interleaved partial sums (two vectors of lanes),
// combined in a fixed order, so results do not depend on the processor.
#include "nn/layer_arithmetic.hpp"

#include <cmath>
#include <type_traits>

#include "core/double_lanes.hpp"
#include "core/kernel_variants.hpp"

namespace vorlane {
namespace {

constexpr std::size_t STEP = 2 * LANES;

// Sum over i < n of the values term(i, e) leaves in e, which is a vector
// of lanes for the values from i on or a double for value i alone.
template <class Term>
[[gnu::always_inline]] inline double interleaved_sum(std::size_t n, Term term) {
    DoubleLanes part[2] = {};
    std::size_t i = 0;
    for (; i + STEP <= n; i += STEP) {
        for (std::size_t h = 0; h < 2; ++h) {
            DoubleLanes e;
            term(i + h * LANES, e);
            part[h] += e;
        }
    }
    const DoubleLanes both = part[0] + part[1];
    double sum = (both[0] + both[1]) + (both[2] + both[3]);
    for (; i < n; ++i) {
        double e;
        term(i, e);
        sum += e;
    }
    return sum;
}

VORLANE_KERNEL
void standardise_group_kernel(double* v, std::size_t rows, std::size_t length, const double* gamma,
                                const double* beta) {
    const std::size_t n = rows * length;
    const double total = interleaved_sum(n, [v](std::size_t i, auto& e) { load_lanes(v + i, e); });
    const double mean = total / static_cast<double>(n);
    const double squares = interleaved_sum(n, [v, mean](std::size_t i, auto& e) {
        load_lanes(v + i, e);
        e = (e - mean) * (e - mean);
    });
    const double inv_std = 1.0 / std::sqrt(squares / static_cast<double>(n) + 1e-5);
    for (std::size_t c = 0; c < rows; ++c) {
        double* row = v + c * length;
        for (std::size_t l = 0; l < length; ++l) row[l] = inv_std * (row[l] - mean) * gamma[c] + beta[c];
    }
}

VORLANE_KERNEL
void affine_kernel(const LinearTensors& t, const double* x, double* y) {
    for (std::size_t i = 0; i < t.out; ++i) {
        const double* row = t.weight.data() + i * t.in;
        y[i] = t.bias[i] + interleaved_sum(t.in, [row, x](std::size_t j, auto& e) {
            std::remove_reference_t<decltype(e)> xj;
            load_lanes(row + j, e);
            load_lanes(x + j, xj);
            e *= xj;
        });
    }
}

}  // namespace

void standardise_group(double* v, std::size_t rows, std::size_t length, const double* gamma, const double* beta) {
    run_kernel<standardise_group_kernel>(v, rows, length, gamma, beta);
}

void affine(const LinearTensors& t, const double* x, double* y) { run_kernel<affine_kernel>(t, x, y); }

}  // namespace vorlane
