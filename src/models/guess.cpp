// The guess pipeline: choose the network for a user's circuit, run it on the
// spectrum and hand its values back in the user's parameter order.
#include <cmath>

#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "core/quoting.hpp"
#include "models/external_cache.hpp"
#include "models/registry.hpp"

namespace vorlane {
namespace {

struct ChosenNetwork {
    const Guesser* guesser = nullptr;
    std::vector<std::size_t> perm;
    bool expanded = false;
};

// Explanatory sentences reach the user wrapped in the unparsable-value text.
std::string wrapped(const std::string& sentence) { return NnError::unparsable(sentence).message(); }

std::expected<ChosenNetwork, std::string> bundled_network(const SeriesList& user) {
    auto match = find_for_topology(user);
    if (!match) {
        return std::unexpected(
            "No training data on this circuit. Machine-learning based initial parameters available for " +
            quoted_model_names());
    }
    const auto guesser = model_guesser(match->model_index);
    if (!guesser) return std::unexpected(wrapped(guesser.error()));
    return ChosenNetwork{*guesser, std::move(match->perm), match->expanded};
}

// A weight file suits the user's circuit when its own circuit parses, has
// the user's topology and as many parameters as the network has names for,
// and its network has every layer the forward pass reads.
std::expected<ChosenNetwork, std::string> external_network(const SeriesList& user, const std::string& path) {
    ChosenNetwork chosen;
    auto suits = [&](const Guesser& g) -> std::expected<void, std::string> {
        const auto file_tree = parse(g.circuit);
        if (!file_tree) return std::unexpected(wrapped("circuit " + quote(g.circuit) + " in " + path));
        auto match = match_or_expand(*file_tree, user);
        if (!match) {
            return std::unexpected(
                wrapped(path + " was trained for " + quote(g.circuit) + ", which is a different circuit"));
        }
        // Nothing ties a user file's parameter list to its circuit; the mapping
        // indexes the network's outputs by the circuit's parameters.
        if (g.param_names.size() != param_count(*file_tree)) {
            return std::unexpected(NnError::unparsable("param_names").message());
        }
        if (auto ok = g.validate_structure(); !ok) return std::unexpected(ok.error().message());
        chosen.perm = std::move(match->first);
        chosen.expanded = match->second;
        return {};
    };
    auto loaded = load_external(path, suits);
    if (!loaded) return std::unexpected(loaded.error());
    chosen.guesser = loaded->guesser;
    return chosen;
}

// K and Zarc get back their own parameters from the pair values the network
// predicts for the R || C and R || CPE they stand for.
std::vector<double> collapse_expanded(const SeriesList& user, const std::vector<double>& pair_values) {
    std::vector<double> out;
    out.reserve(pair_values.size());
    std::size_t next = 0;
    for (const Leaf* leaf : collect_leaves(user)) {
        const double* v = pair_values.data() + next;
        switch (leaf->element.kind) {
            case Kind::K:
                out.insert(out.end(), {v[0], v[0] * v[1]});
                break;
            case Kind::Zarc: {
                // A NaN alpha compares false and so takes the floor.
                const double exponent = v[2] > 1e-6 ? v[2] : 1e-6;
                out.insert(out.end(), {v[0], std::pow(v[0] * v[1], 1.0 / exponent), v[2]});
                break;
            }
            default:
                out.insert(out.end(), v, v + leaf->element.count());
        }
        next += leaf->element.count();
    }
    return out;
}

}  // namespace

std::expected<std::vector<double>, std::string> guess_params(const SeriesList& user,
                                                             std::span<const double> frequencies,
                                                             std::span<const Complex> impedances,
                                                             const std::string* weights_path) {
    const auto chosen = weights_path ? external_network(user, *weights_path) : bundled_network(user);
    if (!chosen) return std::unexpected(chosen.error());
    const Guesser& g = *chosen->guesser;

    const std::size_t points = std::min(frequencies.size(), impedances.size());
    if (points < 2) return std::unexpected(NnError{NnError::Kind::TooFewPoints, {}, points}.message());
    if (auto ok = g.validate_structure(); !ok) return std::unexpected(ok.error().message());

    const auto [z_scale, w_scale] = reactive_centroid(frequencies, impedances);
    const Features features = g.features(frequencies, impedances, w_scale, z_scale);
    const auto predicted = g.predict(features, z_scale, w_scale);
    if (!predicted) return std::unexpected(predicted.error().message());

    std::vector<double> values(chosen->perm.size());
    for (std::size_t u = 0; u < values.size(); ++u) values[u] = (*predicted)[chosen->perm[u]];
    if (!chosen->expanded) return values;
    return collapse_expanded(user, values);
}

}  // namespace vorlane
