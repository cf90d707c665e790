// The arithmetic of the group normalisation and the fully connected layers.
#pragma once

#include <cstddef>

#include "nn/layer_tensors.hpp"

namespace vorlane {

// Standardises the rows x length values at v (one group) by their common
// mean and variance (+1e-5), then scales row c by gamma[c] and shifts it by
// beta[c]. Sums run in interleaved partial sums combined in a fixed order.
void standardise_group(double* v, std::size_t rows, std::size_t length, const double* gamma, const double* beta);

// y = bias + W x, each row's products summed in interleaved partial sums
// combined in a fixed order.
void affine(const LinearTensors& t, const double* x, double* y);

}  // namespace vorlane
