// The network start of any circuit a bundled network is part of.
#include "models/zero_config_start.hpp"

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "core/cancellation.hpp"
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
// capacitive ones, when there are enough of them; none when the network is
// to read every point.
std::optional<Points> capacitive_points(std::span<const double> frequencies, std::span<const Complex> impedances,
                                        bool skip_inductive) {
    if (!skip_inductive) return std::nullopt;
    Points capacitive;
    for (std::size_t i = 0; i < frequencies.size() && i < impedances.size() && !poll_stop_at_point(i); ++i) {
        if (!(impedances[i].im <= 0.0)) continue;
        capacitive.frequencies.push_back(frequencies[i]);
        capacitive.impedances.push_back(impedances[i]);
    }
    if (capacitive.frequencies.size() < 2) return std::nullopt;
    return capacitive;
}

std::expected<Guess, std::string> partial_start(const SeriesList& user, const PartialMatch& match,
                                                std::span<const double> frequencies,
                                                std::span<const Complex> impedances) {
    const auto guesser = model_guesser(match.model_index);
    if (!guesser) return std::unexpected(NnError::unparsable(guesser.error()).message());
    const std::optional<Points> capacitive = capacitive_points(frequencies, impedances, inductive(match.extras));
    const auto predicted = capacitive ? network_values(**guesser, capacitive->frequencies, capacitive->impedances)
                                      : network_values(**guesser, frequencies, impedances);
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
    std::vector<Complex> left;
    left.reserve(n);
    for (std::size_t i = 0; i < n && !poll_stop_at_point(i); ++i) {
        const Complex z = impedance(part, frequencies[i] * TWO_PI);
        left.push_back({impedances[i].re - z.re, impedances[i].im - z.im});
    }
    const std::vector<double> extra_values =
        data_scaled_values(match.extras, spectrum_scales(frequencies.first(left.size()), left));
    for (std::size_t k = 0; k < match.extra_params.size(); ++k) values[match.extra_params[k]] = extra_values[k];

    Guess guess{match.expanded ? collapse_expanded(user, values) : std::move(values), {}};
    guess.replaced = replace_non_finite(user, guess.values);
    return guess;
}

// Half the sum of squared relative misfits of `values` over the usable points.
double relative_cost(const SeriesList& user, std::span<const double> values, std::span<const double> frequencies,
                     std::span<const Complex> impedances) {
    const SeriesList tree = rebuild_with_values(user, values);
    double sum = 0.0;
    for (std::size_t i = 0; i < frequencies.size() && i < impedances.size() && !poll_stop_at_point(i); ++i) {
        const Complex z = impedances[i];
        const double modulus = std::hypot(z.re, z.im);
        if (!(frequencies[i] > 0.0) || !std::isfinite(frequencies[i]) || !std::isfinite(modulus) ||
            !(modulus > 0.0)) {
            continue;
        }
        const Complex m = impedance(tree, frequencies[i] * TWO_PI);
        const double re = (m.re - z.re) / modulus, im = (m.im - z.im) / modulus;
        sum += re * re + im * im;
    }
    return std::isfinite(sum) ? 0.5 * sum : std::numeric_limits<double>::infinity();
}

// The partial network start, or a data-scaled start of the whole circuit
// when one lies closer to the data.
Guess closest_start(const SeriesList& user, Guess partial, std::span<const double> frequencies,
                    std::span<const Complex> impedances) {
    double best = relative_cost(user, partial.values, frequencies, impedances);
    if (poll_stop()) return partial;
    const SpectrumScales scales = spectrum_scales(frequencies, impedances);
    for (std::size_t p = 0; p < ARC_PLACEMENT_COUNT && !poll_stop(); ++p) {
        std::vector<double> values = data_scaled_values(user, scales, static_cast<ArcPlacement>(p));
        const double cost = relative_cost(user, values, frequencies, impedances);
        if (cost < best) {
            best = cost;
            partial = Guess{std::move(values), {}};
        }
    }
    return partial;
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
    auto partial = partial_start(user, *match, frequencies, impedances);
    if (!partial) return partial;
    return closest_start(user, std::move(*partial), frequencies, impedances);
}

}  // namespace vorlane
