// Circuit trees for tests: parsed from text, or built node by node.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "circuit/parser.hpp"
#include "circuit/tree.hpp"
#include "unwrap.hpp"

namespace vorlane::test {

inline SeriesList parsed(std::string_view text) { return unwrap(parse(text)); }

inline Node leaf(Kind kind, std::vector<double> values, std::optional<std::string> label = std::nullopt) {
    return Node{Leaf{Element::from_values(kind, values.data()), std::move(label)}};
}

inline Node parallel(std::vector<SeriesList> branches) { return Node{ParallelNode{std::move(branches)}}; }

}  // namespace vorlane::test
