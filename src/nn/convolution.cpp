// The dilated convolution as tiles of a matrix product over the grid, with
// an exact tap-by-tap path for the rare layers that meet infinity or NaN.
//
// Every output value is summed in the same order on both paths (bias, then
// input rows, then taps), with separate multiply and add (contraction is
// off), so the result does not depend on the path, the tile or the vector
// width of the processor.
#include "nn/convolution.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/double_lanes.hpp"
#include "core/kernel_variants.hpp"

namespace vorlane {
namespace {

// Adds w * x[l + shift] to y[l] for every l where the input index exists.
// The shift is (dilation * tap - padding), held as magnitude and sign in
// 128 bits so that no dilation a file can declare overflows it.
void add_tap(double* __restrict y, const double* __restrict x, std::size_t length, double w,
             unsigned __int128 forward, unsigned __int128 backward) {
    if (forward >= backward) {
        const unsigned __int128 shift = forward - backward;
        if (shift >= length) return;
        const std::size_t s = static_cast<std::size_t>(shift);
        for (std::size_t l = 0; l + s < length; ++l) y[l] += w * x[l + s];
    } else {
        const unsigned __int128 shift = backward - forward;
        if (shift >= length) return;
        const std::size_t s = static_cast<std::size_t>(shift);
        for (std::size_t l = s; l < length; ++l) y[l] += w * x[l - s];
    }
}

// The definition itself, one tap at a time.
void convolve_by_taps(const ConvShape& c, const double* weight, const double* bias, const double* x, double* y) {
    const unsigned __int128 padding = static_cast<unsigned __int128>(c.dilation) * (c.taps - 1) / 2;
    for (std::size_t o = 0; o < c.out_rows; ++o) {
        double* yo = y + o * c.length;
        std::fill(yo, yo + c.length, bias[o]);
        for (std::size_t j = 0; j < c.in_rows; ++j) {
            const double* xj = x + j * c.length;
            const double* taps = weight + (o * c.in_rows + j) * c.taps;
            for (std::size_t k = 0; k < c.taps; ++k) {
                if (taps[k] == 0.0) continue;
                add_tap(yo, xj, c.length, taps[k], static_cast<unsigned __int128>(c.dilation) * k, padding);
            }
        }
    }
}

// The input rows with `padding` zeros before and span - padding after each,
// so that every tap of every output position reads inside its row.
struct PaddedInput {
    const double* values;
    std::size_t row_length;
    std::size_t before;
};

struct TapRange {
    std::size_t begin;
    std::size_t end;
};

// The taps that read at least one input value (not only padding) for the
// `positions` outputs from l0; the others would add only zeros.
TapRange taps_reaching(const ConvShape& c, const PaddedInput& x, std::size_t l0, std::size_t positions) {
    if (c.dilation == 0) return {0, c.taps};
    const std::size_t d = c.dilation;
    const std::size_t begin = x.before < l0 + positions ? 0 : (x.before - l0 - positions) / d + 1;
    const std::size_t end = (x.before + c.length - l0 + d - 1) / d;
    return {std::min(begin, c.taps), std::min(end, c.taps)};
}

// Output channels x positions of one register tile: eight accumulators of
// four lanes, with room left for the loads.
constexpr std::size_t TILE_ROWS = 4;
constexpr std::size_t TILE_VECTORS = 2;
constexpr std::size_t TILE_POSITIONS = TILE_VECTORS * LANES;

// Rows [o0, o0 + R) times V runs of sizeof(Lane) / 8 positions from l0: the
// accumulators stay in registers for the whole sum over input rows and taps.
template <std::size_t R, std::size_t V, class Lane>
[[gnu::always_inline]] inline void tile(const ConvShape& c, const double* weight, const double* bias,
                                        const PaddedInput& x, double* y, std::size_t o0, std::size_t l0,
                                        Lane& not_finite) {
    constexpr std::size_t WIDTH = sizeof(Lane) / sizeof(double);
    Lane acc[R][V];
    for (std::size_t r = 0; r < R; ++r)
        for (std::size_t v = 0; v < V; ++v) acc[r][v] = Lane{} + bias[o0 + r];
    const std::size_t row_weights = c.in_rows * c.taps;
    const double* w = weight + o0 * row_weights;
    const TapRange taps = taps_reaching(c, x, l0, V * WIDTH);
    for (std::size_t j = 0; j < c.in_rows; ++j) {
        const double* row = x.values + j * x.row_length + l0;
        for (std::size_t k = taps.begin; k < taps.end; ++k) {
            const double* xs = row + k * c.dilation;
            Lane in[V];
            for (std::size_t v = 0; v < V; ++v) load_lanes(xs + v * WIDTH, in[v]);
            const std::size_t jk = j * c.taps + k;
            for (std::size_t r = 0; r < R; ++r) {
                const double wr = w[r * row_weights + jk];
                for (std::size_t v = 0; v < V; ++v) acc[r][v] += wr * in[v];
            }
        }
    }
    for (std::size_t r = 0; r < R; ++r) {
        for (std::size_t v = 0; v < V; ++v) {
            store_lanes(y + (o0 + r) * c.length + l0 + v * WIDTH, acc[r][v]);
            // x - x is zero for a finite x and NaN otherwise.
            not_finite += acc[r][v] - acc[r][v];
        }
    }
}

// False when an output is not finite.
VORLANE_KERNEL
bool convolve_tiles(const ConvShape& c, const double* weight, const double* bias, const PaddedInput& x, double* y) {
    const std::size_t full_rows = c.out_rows - c.out_rows % TILE_ROWS;
    const std::size_t full_positions = c.length - c.length % TILE_POSITIONS;
    DoubleLanes lanes_check{};
    double check = 0.0;
    for (std::size_t o = 0; o < full_rows; o += TILE_ROWS) {
        for (std::size_t l = 0; l < full_positions; l += TILE_POSITIONS)
            tile<TILE_ROWS, TILE_VECTORS>(c, weight, bias, x, y, o, l, lanes_check);
        for (std::size_t l = full_positions; l < c.length; ++l) tile<TILE_ROWS, 1>(c, weight, bias, x, y, o, l, check);
    }
    for (std::size_t o = full_rows; o < c.out_rows; ++o) {
        for (std::size_t l = 0; l < full_positions; l += TILE_POSITIONS)
            tile<1, TILE_VECTORS>(c, weight, bias, x, y, o, l, lanes_check);
        for (std::size_t l = full_positions; l < c.length; ++l) tile<1, 1>(c, weight, bias, x, y, o, l, check);
    }
    for (std::size_t lane = 0; lane < LANES; ++lane) check += lanes_check[lane];
    return check == 0.0;
}

}  // namespace

void convolve(const ConvShape& c, std::span<const double> weight, std::span<const double> bias,
              std::span<const double> x, std::span<double> y) {
    // The padded rows are worth building while the taps reach at most a few
    // grid lengths; wider kernels and dilations read mostly padding.
    const unsigned __int128 span = static_cast<unsigned __int128>(c.dilation) * (c.taps - 1);
    if (span <= 2 * static_cast<unsigned __int128>(c.length)) {
        const std::size_t reach = static_cast<std::size_t>(span);
        const std::size_t before = reach / 2;
        const std::size_t row_length = c.length + reach;
        // Kept per thread: a guess runs many layers of the same size.
        thread_local std::vector<double> padded;
        if (padded.size() < c.in_rows * row_length) padded.resize(c.in_rows * row_length);
        for (std::size_t j = 0; j < c.in_rows; ++j) {
            double* row = padded.data() + j * row_length;
            std::fill(row, row + before, 0.0);
            std::copy_n(x.data() + j * c.length, c.length, row + before);
            std::fill(row + before + c.length, row + row_length, 0.0);
        }
        // Zero weights and padding add exact zeros to finite sums, which
        // changes nothing but the sign of a zero. A product that met infinity
        // or NaN leaves a value that is not finite, and only then can the
        // tiles differ from the definition: that layer is summed again.
        if (run_kernel<convolve_tiles>(c, weight.data(), bias.data(), PaddedInput{padded.data(), row_length, before}, y.data()))
            return;
    }
    convolve_by_taps(c, weight.data(), bias.data(), x.data(), y.data());
}

}  // namespace vorlane
