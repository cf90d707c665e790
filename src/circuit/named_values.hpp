// Assigning a circuit's parameters by name, with suggestions for misspelt names.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "circuit/tree.hpp"

namespace vorlane {

struct Suggestion {
    std::size_t index;     // into the name list
    std::size_t distance;  // Levenshtein distance over characters
};

// Closest name by edit distance, ties to the earlier name; nothing when the
// list is empty. The caller applies the threshold rule (see suggestion_for).
std::optional<Suggestion> closest_param_name(const std::string& key, const std::vector<std::string>& names);

// The suggested name when its distance is at most max(chars(key) / 2, 2).
std::optional<std::string> suggestion_for(const std::string& key, const std::vector<std::string>& names);

// Values in layout order for `entries` (key, value) given in the mapping's
// iteration order, or the full error message (unknown keys, missing names,
// table of valid parameters).
std::expected<std::vector<double>, std::string> assign_named_values(
    const SeriesList& nodes, const std::vector<std::pair<std::string, double>>& entries);

// For each key in order, the index of every parameter of that name; or the
// message naming the unknown keys with suggestions and the table of valid
// parameters, as assign_named_values words it. Names may be left out.
std::expected<std::vector<std::vector<std::size_t>>, std::string> find_named_params(
    const SeriesList& nodes, const std::vector<std::string>& keys);

}  // namespace vorlane
