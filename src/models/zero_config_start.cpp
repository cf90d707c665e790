// The network start of any circuit a bundled network is part of.
#include "models/zero_config_start.hpp"

#include <cmath>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "fit/data_scaled_start.hpp"
#include "models/partial_match.hpp"

namespace vorlane {
namespace {

bool inductive(const SeriesList& members) {
    for (const Leaf* leaf : collect_leaves(members)) {
        if (leaf->element.kind == Kind::L || leaf->element.kind == Kind::La) return true;
    }
    return false;
}

struct Points {
    std::vector<double> frequencies;
    std::vector<Complex> impedances;
};

// The points a network trained without an inductance can describe: the
// capacitive ones, when there are enough of them.
Points network_points(std::span<const double> frequencies, std::span<const Complex> impedances, bool skip_inductive) {
    Points all{{frequencies.begin(), frequencies.end()}, {impedances.begin(), impedances.end()}};
    if (!skip_inductive) return all;
    Points capacitive;
    for (std::size_t i = 0; i < frequencies.size() && i < impedances.size(); ++i) {
        if (!(impedances[i].im <= 0.0)) continue;
        capacitive.frequencies.push_back(frequencies[i]);
        capacitive.impedances.push_back(impedances[i]);
    }
    return capacitive.frequencies.size() >= 2 ? capacitive : all;
}

std::expected<Guess, std::string> partial_start(const SeriesList& user, const PartialMatch& match,
                                                std::span<const double> frequencies,
                                                std::span<const Complex> impedances) {
    const auto guesser = model_guesser(match.model_index);
    if (!guesser) return std::unexpected(NnError::unparsable(guesser.error()).message());
    const Points points = network_points(frequencies, impedances, inductive(match.extras));
    const auto predicted = network_values(**guesser, points.frequencies, points.impedances);
    if (!predicted) return std::unexpected(predicted.error());

    std::vector<double> values(match.from_model.size());
    std::vector<double> matched_values;
    for (const std::size_t i : match.matched_params) {
        values[i] = (*predicted)[*match.from_model[i]];
        matched_values.push_back(values[i]);
    }
    // The extras are read off what the network's part leaves of the spectrum.
    const SeriesList part = rebuild_with_values(match.matched, matched_values);
    const std::size_t n = std::min(frequencies.size(), impedances.size());
    std::vector<Complex> left(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Complex z = impedance(part, frequencies[i] * TWO_PI);
        left[i] = {impedances[i].re - z.re, impedances[i].im - z.im};
    }
    const std::vector<double> extra_values =
        data_scaled_values(match.extras, spectrum_scales(frequencies.first(n), left));
    for (std::size_t k = 0; k < match.extra_params.size(); ++k) values[match.extra_params[k]] = extra_values[k];

    Guess guess{match.expanded ? collapse_expanded(user, values) : std::move(values), {}};
    guess.replaced = replace_non_finite(user, guess.values);
    return guess;
}

}  // namespace

bool network_contributes(const SeriesList& user) {
    return find_for_topology(user).has_value() || find_partial_match(user).has_value();
}

std::expected<Guess, std::string> network_start(const SeriesList& user, std::span<const double> frequencies,
                                                std::span<const Complex> impedances) {
    if (find_for_topology(user)) return guess_params(user, frequencies, impedances, nullptr);
    const std::optional<PartialMatch> match = find_partial_match(user);
    if (!match) return guess_params(user, frequencies, impedances, nullptr);
    return partial_start(user, *match, frequencies, impedances);
}

}  // namespace vorlane
