// Tensor look-up and size checks shared by the layers and the structure check.
#include "nn/layer_tensors.hpp"

#include <limits>

namespace vorlane {
namespace {

struct WeightAndBias {
    const Tensor* weight;
    const Tensor* bias;
};

std::expected<WeightAndBias, NnError> weight_and_bias(const Guesser& g, const std::string& layer) {
    const auto weight = g.tensor("w." + layer + ".weight");
    if (!weight) return std::unexpected(weight.error());
    const auto bias = g.tensor("w." + layer + ".bias");
    if (!bias) return std::unexpected(bias.error());
    return WeightAndBias{*weight, *bias};
}

std::expected<void, NnError> require_elements(const std::string& layer, const WeightAndBias& wb,
                                              std::size_t weight_needed, std::size_t bias_needed) {
    if (wb.weight->data.size() < weight_needed) {
        return std::unexpected(NnError::shape_mismatch("w." + layer + ".weight", wb.weight->data.size(), weight_needed));
    }
    if (wb.bias->data.size() < bias_needed) {
        return std::unexpected(NnError::shape_mismatch("w." + layer + ".bias", wb.bias->data.size(), bias_needed));
    }
    return {};
}

// A missing dimension counts as 1, like the element count of a record.
std::size_t dimension(const Tensor& t, std::size_t axis) { return axis < t.shape.size() ? t.shape[axis] : 1; }

}  // namespace

std::size_t saturating_product(std::size_t a, std::size_t b) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return std::numeric_limits<std::size_t>::max();
    return a * b;
}

std::expected<void, NnError> check_hyper_parameters(const Guesser& g) {
    if (g.n_grid == 0 || g.n_grid > MAX_ACTIVATION_VALUES) return std::unexpected(NnError::unparsable("n_grid"));
    if (g.channels == 0 || saturating_product(g.channels, g.n_grid) > MAX_ACTIVATION_VALUES) {
        return std::unexpected(NnError::unparsable("channels"));
    }
    if (g.kernel == 0) return std::unexpected(NnError::unparsable("kernel"));
    if (g.groups == 0 || g.channels % g.groups != 0) return std::unexpected(NnError::unparsable("groups"));
    return {};
}

std::expected<ConvTensors, NnError> conv_tensors(const Guesser& g, const std::string& layer, std::size_t in_rows) {
    const auto wb = weight_and_bias(g, layer);
    if (!wb) return std::unexpected(wb.error());
    // Every convolution of the network outputs exactly `channels` rows.
    if (dimension(*wb->weight, 0) != g.channels) return std::unexpected(NnError::unparsable("w." + layer + ".weight"));
    const std::size_t needed = saturating_product(saturating_product(g.channels, in_rows), g.kernel);
    if (auto ok = require_elements(layer, *wb, needed, g.channels); !ok) return std::unexpected(ok.error());
    return ConvTensors{wb->weight->data, wb->bias->data};
}

std::expected<NormTensors, NnError> norm_tensors(const Guesser& g, const std::string& layer) {
    const auto wb = weight_and_bias(g, layer);
    if (!wb) return std::unexpected(wb.error());
    if (auto ok = require_elements(layer, *wb, g.channels, g.channels); !ok) return std::unexpected(ok.error());
    return NormTensors{wb->weight->data, wb->bias->data};
}

std::expected<LinearTensors, NnError> linear_tensors(const Guesser& g, const std::string& layer) {
    const auto wb = weight_and_bias(g, layer);
    if (!wb) return std::unexpected(wb.error());
    const std::size_t out = dimension(*wb->weight, 0);
    const std::size_t in = dimension(*wb->weight, 1);
    if (auto ok = require_elements(layer, *wb, saturating_product(out, in), out); !ok) {
        return std::unexpected(ok.error());
    }
    return LinearTensors{wb->weight->data, wb->bias->data, out, in};
}

}  // namespace vorlane
