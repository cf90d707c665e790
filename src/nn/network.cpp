// The forward pass: convolution stem, residual blocks, pooling and the
// fully connected head, then the outputs in physical units.
#include <cmath>

#include "nn/activation.hpp"
#include "core/math.hpp"
#include "nn/convolution.hpp"
#include "nn/guesser.hpp"
#include "nn/layer_arithmetic.hpp"
#include "nn/layer_tensors.hpp"
#include "nn/pooling.hpp"

namespace vorlane {
namespace {

std::string block_layer(std::size_t block, const char* part) {
    return "blocks." + std::to_string(block) + "." + part;
}

}  // namespace

std::expected<std::vector<double>, NnError> Guesser::conv1d(const std::string& layer, std::span<const double> x,
                                                            std::size_t in_rows, std::size_t dilation) const {
    if (auto ok = check_hyper_parameters(*this); !ok) return std::unexpected(ok.error());
    const auto t = conv_tensors(*this, layer, in_rows);
    if (!t) return std::unexpected(t.error());
    const std::size_t length = n_grid;
    const std::size_t k_taps = kernel;
    const std::size_t needed = saturating_product(in_rows, length);
    if (x.size() < needed) return std::unexpected(NnError::shape_mismatch(layer, x.size(), needed));

    std::vector<double> y(channels * length);
    convolve(ConvShape{channels, in_rows, length, k_taps, dilation}, t->weight, t->bias, x, y);
    return y;
}

std::expected<void, NnError> Guesser::group_norm(const std::string& layer, std::vector<double>& x) const {
    if (auto ok = check_hyper_parameters(*this); !ok) return std::unexpected(ok.error());
    const auto t = norm_tensors(*this, layer);
    if (!t) return std::unexpected(t.error());
    const std::size_t length = n_grid;
    if (x.size() < channels * length) {
        return std::unexpected(NnError::shape_mismatch(layer, x.size(), channels * length));
    }
    const std::size_t per_group = channels / groups;
    const std::size_t n = per_group * length;
    for (std::size_t i = 0; i < groups; ++i) {
        standardise_group(x.data() + i * n, per_group, length, t->gamma.data() + i * per_group,
                          t->beta.data() + i * per_group);
    }
    return {};
}

std::expected<std::vector<double>, NnError> Guesser::linear(const std::string& layer,
                                                            std::span<const double> x) const {
    const auto t = linear_tensors(*this, layer);
    if (!t) return std::unexpected(t.error());
    if (x.size() != t->in) return std::unexpected(NnError::shape_mismatch(layer, x.size(), t->in));
    std::vector<double> y(t->out);
    affine(*t, x.data(), y.data());
    return y;
}

std::expected<std::vector<double>, NnError> Guesser::predict(const Features& features, double z_scale,
                                                             double w_scale) const {
    if (auto ok = validate_structure(); !ok) return std::unexpected(ok.error());
    auto x = conv1d("stem", features.matrix, 3, 1);
    if (!x) return std::unexpected(x.error());
    for (std::size_t i = 0; i < dilations.size(); ++i) {
        auto h = conv1d(block_layer(i, "conv1"), *x, channels, dilations[i]);
        if (!h) return std::unexpected(h.error());
        if (auto ok = group_norm(block_layer(i, "norm1"), *h); !ok) return std::unexpected(ok.error());
        gelu(*h);
        h = conv1d(block_layer(i, "conv2"), *h, channels, dilations[i]);
        if (!h) return std::unexpected(h.error());
        if (auto ok = group_norm(block_layer(i, "norm2"), *h); !ok) return std::unexpected(ok.error());
        for (std::size_t v = 0; v < x->size(); ++v) (*x)[v] += (*h)[v];
        gelu(*x);
    }
    std::vector<double> pooled = mean_max_pool(*x, channels, n_grid);
    pooled[2 * channels] = features.meta.first;
    pooled[2 * channels + 1] = features.meta.second;

    auto h = linear("head.0", pooled);
    if (!h) return std::unexpected(h.error());
    gelu(*h);
    h = linear("head.2", *h);
    if (!h) return std::unexpected(h.error());
    gelu(*h);
    const auto y = linear("head.4", *h);
    if (!y) return std::unexpected(y.error());

    const std::size_t p = param_names.size();
    std::vector<double> v(p);
    for (std::size_t i = 0; i < p; ++i) {
        v[i] = (*y)[i] * target_std[i] + target_mean[i];
        if (log_params[i]) {
            v[i] = math::pow(10.0, v[i]);
        } else {
            if (v[i] < alpha_min) v[i] = alpha_min;
            if (v[i] > alpha_max) v[i] = alpha_max;
        }
    }
    if (!scaling.empty()) {
        const std::vector<double> u = v;
        for (std::size_t i = 0; i < scaling.size(); ++i) {
            const Scaling& s = scaling[i];
            const double e = s.w_exponent + (s.coupled >= 0 ? s.coupling * u[static_cast<std::size_t>(s.coupled)] : 0.0);
            v[i] = math::pow(w_scale, e) * u[i] * math::pow(z_scale, s.z_exponent);
        }
    }
    return v;
}

}  // namespace vorlane
