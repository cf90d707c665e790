// The circuit tree: series lists of element leaves and parallel nodes.
//
// Trees are immutable values; changing parameters builds a new tree.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "elements/element.hpp"

namespace vorlane {

// Deepest nesting of parallel nodes a tree may have. Evaluation, layout,
// copying and destruction all recurse once per level; this cap keeps every
// walk far inside a thread's stack. The parser enforces it, and so must
// anything else that nests trees.
inline constexpr std::size_t MAX_PARALLEL_DEPTH = 256;

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
