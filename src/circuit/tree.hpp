// The circuit tree: series lists of element leaves and parallel nodes.
//
// Trees are immutable values; changing parameters builds a new tree.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "elements/element.hpp"

namespace vorlane {

struct Node;
using SeriesList = std::vector<Node>;

struct Leaf {
    Element element;
    std::optional<std::string> label;  // parsed leaves have one, composed ones none
};

struct ParallelNode {
    std::vector<SeriesList> branches;
};

struct Node {
    std::variant<Leaf, ParallelNode> v;

    const Leaf* leaf() const { return std::get_if<Leaf>(&v); }
    const ParallelNode* parallel() const { return std::get_if<ParallelNode>(&v); }
};

}  // namespace vorlane
