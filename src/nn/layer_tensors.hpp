// Look-up and size checks of the tensors each network layer reads.
//
// The layers and Guesser::validate_structure share these checks, so a layer
// never indexes past the end of a tensor whatever the weight file says.
#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string>

#include "nn/guesser.hpp"

namespace vorlane {

// Upper limit on the values of one activation matrix (channels x n_grid),
// far above any sensible network and far below an allocation that could fail.
inline constexpr std::size_t MAX_ACTIVATION_VALUES = std::size_t{1} << 22;

struct ConvTensors {
    std::span<const double> weight;  // [channels, in_rows, kernel]
    std::span<const double> bias;    // [channels]
};

struct NormTensors {
    std::span<const double> gamma;  // [channels]
    std::span<const double> beta;   // [channels]
};

struct LinearTensors {
    std::span<const double> weight;  // [out, in]
    std::span<const double> bias;    // [out]
    std::size_t out = 0;
    std::size_t in = 0;
};

// n_grid, channels, kernel and groups describe a network that can run.
std::expected<void, NnError> check_hyper_parameters(const Guesser& g);

std::expected<ConvTensors, NnError> conv_tensors(const Guesser& g, const std::string& layer, std::size_t in_rows);
std::expected<NormTensors, NnError> norm_tensors(const Guesser& g, const std::string& layer);
std::expected<LinearTensors, NnError> linear_tensors(const Guesser& g, const std::string& layer);

// a * b, or SIZE_MAX when the product does not fit.
std::size_t saturating_product(std::size_t a, std::size_t b);

}  // namespace vorlane
