// The dilated one-dimensional convolution of the network's layers.
#pragma once

#include <cstddef>
#include <span>

namespace vorlane {

struct ConvShape {
    std::size_t out_rows = 0;
    std::size_t in_rows = 0;
    std::size_t length = 0;  // positions of every input and output row
    std::size_t taps = 0;
    std::size_t dilation = 0;
};

// y[o][l] = bias[o] + the sum over input rows j, then taps k, of
// w[o][j][k] * x[j][l - p + d k] with p = d (K - 1) / 2, added in that order;
// positions outside the input and taps of weight exactly zero contribute
// nothing, whatever infinity or NaN the input holds there. `weight` holds
// out_rows x in_rows x taps values, `x` in_rows x length, `y` out_rows x length.
void convolve(const ConvShape& shape, std::span<const double> weight, std::span<const double> bias,
              std::span<const double> x, std::span<double> y);

}  // namespace vorlane
