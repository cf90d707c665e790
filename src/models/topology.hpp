// The canonical topology key of a circuit: series members and parallel
// branches sorted by their keys, so that labels and written order vanish.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "circuit/tree.hpp"

namespace vorlane {

struct Shape {
    std::string key;        // canonical kind name, or "(" + sorted branch keys + ")"
    bool parallel = false;
    std::size_t offset = 0;  // element: index of its first parameter
    std::size_t count = 0;   // element: number of parameters
    std::vector<std::vector<Shape>> branches;  // parallel: in sorted order
};

// (offset, count) of a run of parameters.
using ParamSpan = std::pair<std::size_t, std::size_t>;

// Shapes of `nodes` sorted by key (stably); `counter` is the running
// parameter offset in written layout order.
std::vector<Shape> shapes(const SeriesList& nodes, std::size_t& counter);

// The parameter spans of `list` in its (sorted) order, parallel branches
// walked in their sorted order.
std::vector<ParamSpan> shape_spans(const std::vector<Shape>& list);

// "[" + keys joined with "," + "]".
std::string series_key(const std::vector<Shape>& list);

// The key of the whole circuit and its parameter spans in canonical order.
std::pair<std::string, std::vector<ParamSpan>> canonical(const SeriesList& nodes);

}  // namespace vorlane
