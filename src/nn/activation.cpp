// GELU over a whole activation vector, with an exponential written out so
// that four values go through it at once.
#include "nn/activation.hpp"

#include "core/double_lanes.hpp"
#include "core/kernel_variants.hpp"

namespace vorlane {
namespace {

constexpr double LOG2_E = 1.4426950408889634;
// ln 2 in two parts (Cody and Waite): k * LN2_HI is exact for |k| < 2^20.
constexpr double LN2_HI = 6.93147180369123816490e-01;
constexpr double LN2_LO = 1.90821492927058770002e-10;
// 1.5 * 2^52: adding it rounds to an integer held in the low mantissa bits.
constexpr double ROUNDER = 6755399441055744.0;

// 1 / i! for i = 0 .. 13.
constexpr double TAYLOR[14] = {1.0,
                               1.0,
                               0.5,
                               1.0 / 6.0,
                               1.0 / 24.0,
                               1.0 / 120.0,
                               1.0 / 720.0,
                               1.0 / 5040.0,
                               1.0 / 40320.0,
                               1.0 / 362880.0,
                               1.0 / 3628800.0,
                               1.0 / 39916800.0,
                               1.0 / 479001600.0,
                               1.0 / 6227020800.0};

// Vectors of lanes that go through the exponential side by side: its
// polynomial is one long chain of dependent operations per vector.
constexpr std::size_t CHAINS = 2;
constexpr std::size_t BLOCK = CHAINS * LANES;

// Multiplies v by 2^k for integral k in [-1022, 1023], built from the bits
// of k + ROUNDER.
[[gnu::always_inline]] inline void scale_by_power_of_two(DoubleLanes& v, const DoubleLanes& k) {
    const BitLanes bits = __builtin_bit_cast(BitLanes, k + ROUNDER);
    v *= __builtin_bit_cast(DoubleLanes, (bits + 1023) << 52);
}

// Each t becomes e^t to within a few units in the last place; overflow
// gives infinity, underflow zero or a subnormal, NaN stays NaN.
[[gnu::always_inline]] inline void exponential(DoubleLanes (&t)[CHAINS]) {
    DoubleLanes k[CHAINS];
    for (std::size_t c = 0; c < CHAINS; ++c) {
        // Beyond these bounds the result is infinite or zero anyway; the
        // comparisons are false for NaN, which passes through.
        t[c] = t[c] > 710.0 ? DoubleLanes{} + 710.0 : t[c];
        t[c] = t[c] < -746.0 ? DoubleLanes{} - 746.0 : t[c];
        k[c] = (t[c] * LOG2_E + ROUNDER) - ROUNDER;
        const DoubleLanes r = (t[c] - k[c] * LN2_HI) - k[c] * LN2_LO;  // |r| <= 0.35
        // Taylor series to r^13 (the remainder is below 1e-17) in Estrin's
        // scheme: pairs of terms, then powers r^2, r^4, r^8, so that few
        // operations wait on one another.
        const DoubleLanes r2 = r * r;
        const DoubleLanes r4 = r2 * r2;
        const DoubleLanes r8 = r4 * r4;
        DoubleLanes pair[7];
        for (std::size_t i = 0; i < 7; ++i) pair[i] = TAYLOR[2 * i] + TAYLOR[2 * i + 1] * r;
        const DoubleLanes low = (pair[0] + pair[1] * r2) + (pair[2] + pair[3] * r2) * r4;
        const DoubleLanes high = (pair[4] + pair[5] * r2) + pair[6] * r4;
        t[c] = low + high * r8;
    }
    for (std::size_t c = 0; c < CHAINS; ++c) {
        // 2^k in two factors, each a normal number, so that the product
        // overflows or underflows only in its last, correctly rounded, step.
        const DoubleLanes half = (k[c] * 0.5 + ROUNDER) - ROUNDER;
        scale_by_power_of_two(t[c], half);
        scale_by_power_of_two(t[c], k[c] - half);
    }
}

// GELU of the BLOCK values at p.
[[gnu::always_inline]] inline void gelu_block(double* p) {
    DoubleLanes x[CHAINS];
    DoubleLanes e[CHAINS];
    for (std::size_t c = 0; c < CHAINS; ++c) {
        load_lanes(p + c * LANES, x[c]);
        e[c] = -2.0 * (0.7978845608028654 * (x[c] + 0.044715 * (x[c] * x[c] * x[c])));
    }
    exponential(e);
    for (std::size_t c = 0; c < CHAINS; ++c) store_lanes(p + c * LANES, x[c] / (1.0 + e[c]));
}

VORLANE_KERNEL
void gelu_kernel(double* x, std::size_t n) {
    std::size_t i = 0;
    for (; i + BLOCK <= n; i += BLOCK) gelu_block(x + i);
    if (i == n) return;
    double rest[BLOCK] = {};
    for (std::size_t k = i; k < n; ++k) rest[k - i] = x[k];
    gelu_block(rest);
    for (std::size_t k = i; k < n; ++k) x[k] = rest[k - i];
}

}  // namespace

void gelu(std::span<double> x) { run_kernel<gelu_kernel>(x.data(), x.size()); }

}  // namespace vorlane
