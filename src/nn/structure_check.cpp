// Guesser::validate_structure: everything the forward pass reads exists and
// is large enough, checked in the order the pass would meet it.
#include "nn/guesser.hpp"
#include "nn/layer_tensors.hpp"

namespace vorlane {
namespace {

std::expected<void, NnError> check_conv(const Guesser& g, const std::string& layer, std::size_t in_rows) {
    const auto t = conv_tensors(g, layer, in_rows);
    if (!t) return std::unexpected(t.error());
    return {};
}

std::expected<void, NnError> check_norm(const Guesser& g, const std::string& layer) {
    const auto t = norm_tensors(g, layer);
    if (!t) return std::unexpected(t.error());
    return {};
}

// The width of each head layer's input is the output width of the one before.
std::expected<std::size_t, NnError> check_linear(const Guesser& g, const std::string& layer, std::size_t in) {
    const auto t = linear_tensors(g, layer);
    if (!t) return std::unexpected(t.error());
    if (t->in != in) return std::unexpected(NnError::shape_mismatch(layer, in, t->in));
    return t->out;
}

std::expected<void, NnError> check_outputs(const Guesser& g, std::size_t head_outputs) {
    const std::size_t p = g.param_names.size();
    if (head_outputs < p) return std::unexpected(NnError::shape_mismatch("head.4", head_outputs, p));
    for (const auto& [name, size] : {std::pair{"target_mean", g.target_mean.size()},
                                     std::pair{"target_std", g.target_std.size()},
                                     std::pair{"log_params", g.log_params.size()}}) {
        if (size < p) return std::unexpected(NnError::shape_mismatch(name, size, p));
    }
    if (g.scaling.size() > p) return std::unexpected(NnError::shape_mismatch("scaling", 4 * g.scaling.size(), 4 * p));
    for (const Scaling& row : g.scaling) {
        if (row.coupled >= 0 && static_cast<std::size_t>(row.coupled) >= p) {
            return std::unexpected(NnError::unparsable("scaling"));
        }
    }
    if (g.alpha_min > g.alpha_max) return std::unexpected(NnError::unparsable("alpha_min"));
    return {};
}

}  // namespace

std::expected<void, NnError> Guesser::validate_structure() const {
    if (auto ok = check_hyper_parameters(*this); !ok) return ok;
    if (auto ok = check_conv(*this, "stem", 3); !ok) return ok;
    for (std::size_t i = 0; i < dilations.size(); ++i) {
        const std::string block = "blocks." + std::to_string(i) + ".";
        if (auto ok = check_conv(*this, block + "conv1", channels); !ok) return ok;
        if (auto ok = check_norm(*this, block + "norm1"); !ok) return ok;
        if (auto ok = check_conv(*this, block + "conv2", channels); !ok) return ok;
        if (auto ok = check_norm(*this, block + "norm2"); !ok) return ok;
    }
    std::size_t width = 2 * channels + 2;
    for (const char* layer : {"head.0", "head.2", "head.4"}) {
        const auto out = check_linear(*this, layer, width);
        if (!out) return std::unexpected(out.error());
        width = *out;
    }
    return check_outputs(*this, width);
}

}  // namespace vorlane
