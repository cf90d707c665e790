// The forward pass: convolution stem, residual blocks, pooling and the
// fully connected head, then the outputs in physical units.
#include <cmath>

#include "nn/guesser.hpp"
#include "nn/layer_tensors.hpp"
#include "nn/pooling.hpp"

namespace vorlane {
namespace {

void gelu(std::vector<double>& x) {
    for (double& v : x) v = 0.5 * v * (1.0 + std::tanh(0.7978845608028654 * (v + 0.044715 * (v * v * v))));
}

std::string block_layer(std::size_t block, const char* part) {
    return "blocks." + std::to_string(block) + "." + part;
}

// Adds w * x[l + shift] to y[l] for every l where the input index exists.
// The shift is (dilation * tap - padding), held as magnitude and sign in
// 128 bits so that no dilation a file can declare overflows it.
// Almost all of a guess is spent here, so wider vector units are used where
// the processor has them; every variant performs the same multiply and add
// per element (contraction is off), so results do not depend on the machine.
__attribute__((target_clones("avx512f", "avx2", "default")))
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

    const unsigned __int128 padding = static_cast<unsigned __int128>(dilation) * (k_taps - 1) / 2;
    std::vector<double> y(channels * length);
    for (std::size_t o = 0; o < channels; ++o) {
        double* yo = y.data() + o * length;
        std::fill(yo, yo + length, t->bias[o]);
        for (std::size_t j = 0; j < in_rows; ++j) {
            const double* xj = x.data() + j * length;
            const double* taps = t->weight.data() + (o * in_rows + j) * k_taps;
            for (std::size_t k = 0; k < k_taps; ++k) {
                // Skipped taps keep an infinite or NaN input out of the sum.
                if (taps[k] == 0.0) continue;
                add_tap(yo, xj, length, taps[k], static_cast<unsigned __int128>(dilation) * k, padding);
            }
        }
    }
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
        double* v = x.data() + i * n;
        double sum = 0.0;
        for (std::size_t idx = 0; idx < n; ++idx) sum += v[idx];
        const double mean = sum / static_cast<double>(n);
        double squares = 0.0;
        for (std::size_t idx = 0; idx < n; ++idx) squares += (v[idx] - mean) * (v[idx] - mean);
        const double inv_std = 1.0 / std::sqrt(squares / static_cast<double>(n) + 1e-5);
        for (std::size_t idx = 0; idx < n; ++idx) {
            const std::size_t c = i * per_group + idx / length;
            v[idx] = inv_std * (v[idx] - mean) * t->gamma[c] + t->beta[c];
        }
    }
    return {};
}

std::expected<std::vector<double>, NnError> Guesser::linear(const std::string& layer,
                                                            std::span<const double> x) const {
    const auto t = linear_tensors(*this, layer);
    if (!t) return std::unexpected(t.error());
    if (x.size() != t->in) return std::unexpected(NnError::shape_mismatch(layer, x.size(), t->in));
    std::vector<double> y(t->out);
    for (std::size_t i = 0; i < t->out; ++i) {
        const double* row = t->weight.data() + i * t->in;
        double sum = 0.0;
        for (std::size_t j = 0; j < t->in; ++j) sum += row[j] * x[j];
        y[i] = t->bias[i] + sum;
    }
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
            v[i] = std::pow(10.0, v[i]);
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
            v[i] = std::pow(w_scale, e) * u[i] * std::pow(z_scale, s.z_exponent);
        }
    }
    return v;
}

}  // namespace vorlane
