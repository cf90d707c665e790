// A bundled topology found inside a larger circuit: the series members of a
// network's circuit matched one by one to series members of the user's, the
// user's other members left over as extras.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "circuit/tree.hpp"

namespace vorlane {

struct PartialMatch {
    std::size_t model_index = 0;
    // The user's tree with K and Zarc expanded when that was needed to
    // match (same parameter positions as the user's), else the user's tree.
    SeriesList tree;
    bool expanded = false;
    // Per parameter of `tree`: the network output it takes, or nothing for
    // the parameters of the extra members.
    std::vector<std::optional<std::size_t>> from_model;
    // The matched members and the extra members of `tree`'s series list,
    // each in written order.
    SeriesList matched;
    SeriesList extras;
    // Parameter indices of `tree` in the layout order of `matched` and of
    // `extras`.
    std::vector<std::size_t> matched_params;
    std::vector<std::size_t> extra_params;
};

// The bundled topology whose series members all appear among the user's
// series members and that covers the most parameters (the first in registry
// order among equals), when at least one member of the user's circuit is
// left over. Nothing for exact matches and for circuits no network is part
// of.
std::optional<PartialMatch> find_partial_match(const SeriesList& user);

}  // namespace vorlane
