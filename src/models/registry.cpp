// The registry of bundled networks and their once-only loading.
#include "models/registry.hpp"

#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "core/ascii_case.hpp"
#include "core/quoting.hpp"
#include "models/bundled_weights.hpp"

namespace vorlane {
namespace {

constexpr std::array<ModelEntry, MODEL_COUNT> MODELS = {{
    {"rc", "R0-(R1,C1)"},
    {"rc_l", "L0-R0-(R1,C1)"},
    {"rq", "R0-(R1,CPE1)"},
    {"rq_l", "L0-R0-(R1,CPE1)"},
    {"two_rc", "R0-(R1,C1)-(R2,C2)"},
    {"two_rc_l", "L0-R0-(R1,C1)-(R2,C2)"},
    {"two_rq", "R0-(R1,CPE1)-(R2,CPE2)"},
    {"two_rq_l", "L0-R0-(R1,CPE1)-(R2,CPE2)"},
    {"randles", "R0-(R1-W1,CPE1)"},
    {"sei_randles", "R0-(R1,CPE1)-(R2-W2,CPE2)"},
    {"sei_randles_wo", "R0-(R1,CPE1)-(R2-Wo2,CPE2)"},
}};

struct ModelSlot {
    std::once_flag once;
    std::expected<Guesser, std::string> outcome = std::unexpected(std::string());
};

// Slots are never destroyed: a guesser handed out stays valid even while
// the process shuts down.
std::array<ModelSlot, MODEL_COUNT>& slots() {
    static auto* const all = new std::array<ModelSlot, MODEL_COUNT>();
    return *all;
}

std::expected<Guesser, std::string> load_model(const ModelEntry& entry) {
    const auto bytes = bundled_weights(entry.name);
    if (bytes.empty()) {
        return std::unexpected("model " + quote(entry.name) + " has no bundled weights in this build");
    }
    auto guesser = Guesser::from_bytes(bytes);
    if (!guesser) return std::unexpected(guesser.error().message());
    if (guesser->circuit != entry.circuit) {
        return std::unexpected("model " + quote(entry.name) + " is registered as " + quote(entry.circuit) +
                               " but its weights were trained for " + quote(guesser->circuit));
    }
    const auto tree = parse(entry.circuit);
    if (!tree) return std::unexpected("registry circuit " + quote(entry.circuit));
    const std::vector<std::string> names = param_names(*tree);
    if (guesser->param_names != names) {
        return std::unexpected("model " + quote(entry.name) + " has parameters " + quoted_list(guesser->param_names) +
                               ", expected " + quoted_list(names));
    }
    return std::move(*guesser);
}

}  // namespace

const std::array<ModelEntry, MODEL_COUNT>& model_entries() { return MODELS; }

std::optional<std::string_view> registry_circuit_for_name(std::string_view text) {
    for (const ModelEntry& entry : MODELS) {
        if (equals_ignoring_ascii_case(entry.name, text)) return entry.circuit;
    }
    return std::nullopt;
}

std::vector<std::string> model_names() {
    std::vector<std::string> names;
    for (const ModelEntry& entry : MODELS) names.emplace_back(entry.name);
    return names;
}

std::string quoted_model_names() {
    std::string text;
    for (const ModelEntry& entry : MODELS) {
        if (!text.empty()) text += ", ";
        text += "'";
        text += entry.name;
        text += "'";
    }
    return text;
}

std::expected<const Guesser*, std::string> model_guesser(std::size_t index) {
    if (index >= MODEL_COUNT) return std::unexpected("no registry model at index " + std::to_string(index));
    ModelSlot& slot = slots()[index];
    std::call_once(slot.once, [&] { slot.outcome = load_model(MODELS[index]); });
    if (!slot.outcome) return std::unexpected(slot.outcome.error());
    return &*slot.outcome;
}

}  // namespace vorlane
