// Writing a circuit tree in the circuit-string grammar.
#include "circuit/circuit_string.hpp"

#include <cstddef>
#include <vector>

#include "circuit/layout.hpp"

namespace vorlane {
namespace {

// Leaves consume the labels in layout order, the order of this walk.
void write_series(const SeriesList& nodes, const std::vector<std::string>& labels, std::size_t& next,
                  std::string& out) {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (i > 0) out += '-';
        if (nodes[i].leaf()) {
            out += labels[next++];
            continue;
        }
        out += '(';
        const auto& branches = nodes[i].parallel()->branches;
        for (std::size_t b = 0; b < branches.size(); ++b) {
            if (b > 0) out += ',';
            write_series(branches[b], labels, next, out);
        }
        out += ')';
    }
}

}  // namespace

std::string circuit_string(const SeriesList& nodes) {
    const std::vector<std::string> labels = leaf_labels(nodes);
    std::size_t next = 0;
    std::string out;
    write_series(nodes, labels, next, out);
    return out;
}

}  // namespace vorlane
