// The guess pipeline: choose the network for a user's circuit, run it on the
// spectrum and hand its values back in the user's parameter order.
#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "core/cancellation.hpp"
#include "core/math.hpp"
#include "core/quoting.hpp"
#include "models/external_cache.hpp"
#include "models/registry.hpp"
#include "models/zero_config_start.hpp"

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

using Check = std::function<std::expected<void, std::string>()>;

// A weight file suits the user's circuit when its own circuit parses, has
// the user's topology and as many parameters as the network has names for,
// and its network has every layer the forward pass reads. `spectrum_check`
// comes between the last two, in the order every guess reports its errors.
std::expected<ChosenNetwork, std::string> external_network(const SeriesList& user, const std::string& path,
                                                           const Check& spectrum_check) {
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
        if (auto ok = spectrum_check(); !ok) return ok;
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


struct UsablePoints {
    std::vector<double> frequencies;
    std::vector<Complex> impedances;
};

// The points a network can read: a finite, positive frequency and a finite
// impedance. A zero or negative frequency has no logarithm on the network's
// grid, and one such point would turn every output into NaN.
UsablePoints usable_points(std::span<const double> frequencies, std::span<const Complex> impedances) {
    UsablePoints usable;
    const std::size_t n = std::min(frequencies.size(), impedances.size());
    // Reserved, not grown: growing copies what was read so far, in one
    // piece between two polls.
    usable.frequencies.reserve(n);
    usable.impedances.reserve(n);
    for (std::size_t i = 0; i < n && !poll_stop_at_point(i); ++i) {
        const Complex z = impedances[i];
        if (!(frequencies[i] > 0.0) || !std::isfinite(frequencies[i]) || !std::isfinite(z.re) ||
            !std::isfinite(z.im)) {
            continue;
        }
        usable.frequencies.push_back(frequencies[i]);
        usable.impedances.push_back(z);
    }
    return usable;
}

// The count message of the network input, saying what was left out when the
// spectrum had more points than the network could read.
std::string too_few_points(const UsablePoints& usable, std::span<const double> frequencies,
                           std::span<const Complex> impedances) {
    const std::size_t given = std::min(frequencies.size(), impedances.size());
    std::string message = NnError{NnError::Kind::TooFewPoints, {}, usable.frequencies.size()}.message();
    if (usable.frequencies.size() == given) return message;
    return message + " with a finite, positive frequency and a finite impedance (of " + std::to_string(given) +
           " points)";
}

std::expected<void, std::string> enough_points(const UsablePoints& usable, std::span<const double> frequencies,
                                              std::span<const Complex> impedances) {
    if (usable.frequencies.size() < 2) return std::unexpected(too_few_points(usable, frequencies, impedances));
    return {};
}

// network_values on the usable points of the spectrum, found beforehand.
std::expected<std::vector<double>, std::string> usable_network_values(const Guesser& g, const UsablePoints& usable,
                                                                      std::span<const double> frequencies,
                                                                      std::span<const Complex> impedances) {
    if (auto ok = enough_points(usable, frequencies, impedances); !ok) return std::unexpected(ok.error());
    if (auto ok = g.validate_structure(); !ok) return std::unexpected(ok.error().message());

    const auto [z_scale, w_scale] = reactive_centroid(usable.frequencies, usable.impedances);
    const Features features = g.features(usable.frequencies, usable.impedances, w_scale, z_scale);
    auto predicted = g.predict(features, z_scale, w_scale);
    if (!predicted) return std::unexpected(predicted.error().message());
    return std::move(*predicted);
}

}  // namespace

std::expected<std::vector<double>, std::string> network_values(const Guesser& g, std::span<const double> frequencies,
                                                               std::span<const Complex> impedances) {
    return usable_network_values(g, usable_points(frequencies, impedances), frequencies, impedances);
}

std::vector<std::size_t> replace_non_finite(const SeriesList& user, std::vector<double>& values) {
    std::vector<std::size_t> replaced;
    const std::vector<double> placeholders = placeholder_values(user);
    for (std::size_t i = 0; i < values.size() && i < placeholders.size(); ++i) {
        if (std::isfinite(values[i])) continue;
        values[i] = placeholders[i];
        replaced.push_back(i);
    }
    return replaced;
}

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
                out.insert(out.end(), {v[0], math::pow(v[0] * v[1], 1.0 / exponent), v[2]});
                break;
            }
            default:
                out.insert(out.end(), v, v + leaf->element.count());
        }
        next += leaf->element.count();
    }
    return out;
}

std::expected<Guess, std::string> guess_params(const SeriesList& user, std::span<const double> frequencies,
                                               std::span<const Complex> impedances, const std::string* weights_path) {
    // A weight file is only accepted into the cache once the spectrum, too,
    // can be guessed from.
    const UsablePoints usable = usable_points(frequencies, impedances);
    const Check spectrum_check = [&] { return enough_points(usable, frequencies, impedances); };
    const auto chosen =
        weights_path ? external_network(user, *weights_path, spectrum_check) : bundled_network(user);
    if (!chosen) return std::unexpected(chosen.error());
    const auto predicted = usable_network_values(*chosen->guesser, usable, frequencies, impedances);
    if (!predicted) return std::unexpected(predicted.error());

    std::vector<double> values(chosen->perm.size());
    for (std::size_t u = 0; u < values.size(); ++u) values[u] = (*predicted)[chosen->perm[u]];
    Guess guess{chosen->expanded ? collapse_expanded(user, values) : std::move(values), {}};
    guess.replaced = replace_non_finite(user, guess.values);
    return guess;
}

std::expected<GuessedStart, std::string> guessed_start(const SeriesList& user, std::span<const double> frequencies,
                                                     std::span<const Complex> impedances,
                                                     const std::string* weights_path) {
    auto guess = weights_path ? guess_params(user, frequencies, impedances, weights_path)
                              : network_start(user, frequencies, impedances);
    if (!guess) return std::unexpected(std::move(guess.error()));
    if (guess->values.size() != param_count(user)) throw std::logic_error("the guess has the wrong number of values");
    return GuessedStart{rebuild_with_values(user, guess->values), std::move(guess->replaced)};
}

}  // namespace vorlane
