// The eleven bundled networks, the cache of weight files read from disk, and
// matching a user's circuit to a network's topology.
#pragma once

#include <array>
#include <cstddef>
#include <expected>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "circuit/tree.hpp"
#include "nn/guesser.hpp"

namespace vorlane {

struct ModelEntry {
    std::string_view name;
    std::string_view circuit;
};

inline constexpr std::size_t MODEL_COUNT = 11;

// Registry names and circuits, in registry order (no weights needed).
const std::array<ModelEntry, MODEL_COUNT>& model_entries();

// Circuit string of the first registry name equal to `text` (ASCII letters
// compared case-insensitively, other bytes exactly).
std::optional<std::string_view> registry_circuit_for_name(std::string_view text);

// The registry circuits parsed once, in registry order; an entry that does
// not parse stays empty.
const std::vector<std::optional<SeriesList>>& registry_trees();

std::vector<std::string> model_names();
// 'rc', 'rc_l', ... each in single quotes, joined with ", ".
std::string quoted_model_names();

// The loaded network of registry entry `index`, loaded once per process;
// a failed load is remembered as its error text.
std::expected<const Guesser*, std::string> model_guesser(std::size_t index);

struct TopologyMatch {
    std::vector<std::size_t> perm;  // user parameter u takes model parameter perm[u]
    std::size_t model_index = 0;
    bool expanded = false;
};

std::optional<std::vector<std::size_t>> match_topology(const SeriesList& model, const SeriesList& user);
std::optional<std::pair<std::vector<std::size_t>, bool>> match_or_expand(const SeriesList& model,
                                                                         const SeriesList& user);
std::optional<TopologyMatch> find_for_topology(const SeriesList& user);

struct Guess {
    std::vector<double> values;           // in the user's param_names() order
    std::vector<std::size_t> replaced;    // non-finite outputs, now placeholders
};

// The network's outputs, in its own parameter order, computed from the points
// with a finite, positive frequency and a finite impedance; the error is the
// user-facing message.
std::expected<std::vector<double>, std::string> network_values(const Guesser& g, std::span<const double> frequencies,
                                                               std::span<const Complex> impedances);

// Non-finite entries of `values` (in `user`'s parameter order) replaced by
// their placeholders; the indices replaced.
std::vector<std::size_t> replace_non_finite(const SeriesList& user, std::vector<double>& values);

// K and Zarc get back their own parameters from the pair values predicted
// for the R || C and R || CPE they stand for; `pair_values` are in the
// layout order of the expanded tree of `user`.
std::vector<double> collapse_expanded(const SeriesList& user, const std::vector<double>& pair_values);

// Starting values for `user` from the bundled model matching its topology,
// or from the weight file at `weights_path`, computed from the points with a
// finite, positive frequency and a finite impedance. A network output that
// is not finite is replaced by its parameter's placeholder and listed. The
// error is the user-facing message.
std::expected<Guess, std::string> guess_params(const SeriesList& user, std::span<const double> frequencies,
                                               std::span<const Complex> impedances, const std::string* weights_path);

// `user` rebuilt with the values of guess_params: the start of a guessed fit.
struct GuessedStart {
    SeriesList nodes;
    std::vector<std::size_t> replaced;  // as in Guess
};
std::expected<GuessedStart, std::string> guessed_start(const SeriesList& user, std::span<const double> frequencies,
                                                     std::span<const Complex> impedances,
                                                     const std::string* weights_path);

}  // namespace vorlane
