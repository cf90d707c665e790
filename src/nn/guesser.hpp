// A loaded "EISNN001" network: metadata, tensors, and the forward pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/complex.hpp"
#include "nn/nn_error.hpp"

namespace vorlane {

struct Tensor {
    std::vector<std::size_t> shape;
    std::vector<double> data;
};

struct Scaling {
    double z_exponent = 0.0;
    double w_exponent = 0.0;
    double coupling = 0.0;
    std::int32_t coupled = -1;  // negative: no coupled parameter
};

struct Features {
    std::vector<double> matrix;  // 3 x n_grid, row-major
    std::pair<double, double> meta;
};

class Guesser {
public:
    static std::expected<Guesser, NnError> from_bytes(std::span<const std::uint8_t> bytes);

    std::expected<const Tensor*, NnError> tensor(const std::string& name) const;

    // Checks that every tensor the forward pass reads exists and is large
    // enough, so that a hostile file can never cause an out-of-bounds read.
    std::expected<void, NnError> validate_structure() const;

    Features features(std::span<const double> frequencies, std::span<const Complex> impedances,
                      double w_scale, double z_scale) const;

    // P values in the order of param_names.
    std::expected<std::vector<double>, NnError> predict(const Features& features, double z_scale,
                                                        double w_scale) const;

    std::expected<std::vector<double>, NnError> conv1d(const std::string& layer, std::span<const double> x,
                                                       std::size_t in_rows, std::size_t dilation) const;
    std::expected<void, NnError> group_norm(const std::string& layer, std::vector<double>& x) const;
    std::expected<std::vector<double>, NnError> linear(const std::string& layer, std::span<const double> x) const;

    std::string circuit;
    std::vector<std::string> param_names;
    std::vector<std::size_t> dilations;
    std::vector<double> target_mean;
    std::vector<double> target_std;
    std::vector<bool> log_params;
    std::vector<Scaling> scaling;
    std::map<std::string, Tensor> tensors;
    std::size_t n_grid = 0;
    std::size_t channels = 0;
    std::size_t kernel = 0;
    std::size_t groups = 0;
    double alpha_min = 0.0;
    double alpha_max = 0.0;
};

// (z_scale, w_scale) of a spectrum by the "reactive_centroid" estimator.
std::pair<double, double> reactive_centroid(std::span<const double> frequencies, std::span<const Complex> impedances);

// Piecewise-linear on ascending xs, constant beyond the ends.
double interpolate(double x, std::span<const double> xs, std::span<const double> ys);

}  // namespace vorlane
