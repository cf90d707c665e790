// Layout order of a circuit's leaves and the flat parameter vector.
#include "circuit/layout.hpp"

#include <algorithm>
#include <map>

namespace vorlane {
namespace {

SeriesList rebuild_from(const SeriesList& nodes, const double*& next) {
    SeriesList out(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (const Leaf* leaf = nodes[i].leaf()) {
            const Kind kind = leaf->element.kind;
            out[i].v = Leaf{Element::from_values(kind, next), leaf->label};
            next += kind_info(kind).count;
        } else {
            const auto& branches = nodes[i].parallel()->branches;
            auto& copies = out[i].v.emplace<ParallelNode>().branches;
            copies.resize(branches.size());
            for (std::size_t b = 0; b < branches.size(); ++b) copies[b] = rebuild_from(branches[b], next);
        }
    }
    return out;
}

}  // namespace

std::vector<const Leaf*> collect_leaves(const SeriesList& nodes) {
    std::vector<const Leaf*> out;
    for_each_leaf(nodes, [&](const Leaf& leaf) { out.push_back(&leaf); });
    return out;
}

std::size_t parallel_depth(const SeriesList& nodes) {
    std::size_t depth = 0;
    for (const Node& node : nodes) {
        if (const ParallelNode* parallel = node.parallel()) {
            for (const SeriesList& branch : parallel->branches)
                depth = std::max(depth, parallel_depth(branch) + 1);
            depth = std::max<std::size_t>(depth, 1);
        }
    }
    return depth;
}

std::size_t param_count(const SeriesList& nodes) {
    std::size_t count = 0;
    for_each_leaf(nodes, [&](const Leaf& leaf) { count += leaf.element.count(); });
    return count;
}

std::vector<std::pair<std::size_t, std::size_t>> member_param_ranges(const SeriesList& nodes) {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    std::size_t offset = 0;
    for (const Node& node : nodes) {
        std::size_t count = 0;
        for_each_leaf(node, [&](const Leaf& leaf) { count += leaf.element.count(); });
        ranges.emplace_back(offset, count);
        offset += count;
    }
    return ranges;
}

std::vector<std::string> leaf_labels(const SeriesList& nodes) {
    std::vector<std::string> labels;
    std::map<std::string_view, std::size_t> counters;
    for_each_leaf(nodes, [&](const Leaf& leaf) {
        if (leaf.label) {
            labels.push_back(*leaf.label);
        } else {
            const std::string_view canonical = kind_info(leaf.element.kind).canonical;
            labels.push_back(std::string(canonical) + std::to_string(counters[canonical]++));
        }
    });
    return labels;
}

std::vector<std::string> param_names(const SeriesList& nodes) {
    std::vector<std::string> names;
    const std::vector<const Leaf*> leaves = collect_leaves(nodes);
    const std::vector<std::string> labels = leaf_labels(nodes);
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const KindInfo& info = kind_info(leaves[i]->element.kind);
        for (std::size_t k = 0; k < info.count; ++k) names.push_back(labels[i] + "." + std::string(info.names[k]));
    }
    return names;
}

std::vector<std::string> param_units(const SeriesList& nodes) {
    std::vector<std::string> units;
    for_each_leaf(nodes, [&](const Leaf& leaf) {
        const KindInfo& info = kind_info(leaf.element.kind);
        for (std::size_t i = 0; i < info.count; ++i) units.emplace_back(info.units[i]);
    });
    return units;
}

std::vector<std::pair<double, double>> param_bounds(const SeriesList& nodes) {
    std::vector<std::pair<double, double>> bounds;
    bounds.reserve(param_count(nodes));
    for_each_leaf(nodes, [&](const Leaf& leaf) {
        const KindInfo& info = kind_info(leaf.element.kind);
        for (std::size_t i = 0; i < info.count; ++i) bounds.push_back(bounds_for_param(info.names[i]));
    });
    return bounds;
}

std::vector<double> param_values(const SeriesList& nodes) {
    std::vector<double> values;
    values.reserve(param_count(nodes));
    for_each_leaf(nodes, [&](const Leaf& leaf) {
        const std::size_t count = leaf.element.count();
        values.insert(values.end(), leaf.element.v.begin(), leaf.element.v.begin() + count);
    });
    return values;
}

std::vector<double> placeholder_values(const SeriesList& nodes) {
    std::vector<double> values;
    values.reserve(param_count(nodes));
    for_each_leaf(nodes, [&](const Leaf& leaf) {
        const KindInfo& info = kind_info(leaf.element.kind);
        values.insert(values.end(), info.placeholders.begin(), info.placeholders.begin() + info.count);
    });
    return values;
}

SeriesList rebuild_with_values(const SeriesList& nodes, std::span<const double> values) {
    const double* next = values.data();
    return rebuild_from(nodes, next);
}

}  // namespace vorlane
