// Matching a user's circuit to a network's topology through canonical keys.
#include "models/topology.hpp"

#include <algorithm>
#include <numeric>

#include "circuit/parser.hpp"
#include "models/registry.hpp"

namespace vorlane {
namespace {

Shape parallel_shape(const ParallelNode& node, std::size_t& counter) {
    std::vector<std::vector<Shape>> branches;
    std::vector<std::string> keys;
    for (const SeriesList& branch : node.branches) {
        branches.push_back(shapes(branch, counter));
        keys.push_back(series_key(branches.back()));
    }
    std::vector<std::size_t> order(branches.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::ranges::stable_sort(order, [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    Shape shape{.key = "(", .parallel = true, .branches = {}};
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0) shape.key += ',';
        shape.key += keys[order[i]];
        shape.branches.push_back(std::move(branches[order[i]]));
    }
    shape.key += ')';
    return shape;
}

}  // namespace

const std::vector<std::optional<SeriesList>>& registry_trees() {
    static const auto trees = [] {
        std::vector<std::optional<SeriesList>> parsed;
        for (const ModelEntry& entry : model_entries()) {
            auto tree = parse(entry.circuit);
            parsed.push_back(tree ? std::optional(std::move(*tree)) : std::nullopt);
        }
        return parsed;
    }();
    return trees;
}

std::vector<ParamSpan> shape_spans(const std::vector<Shape>& list) {
    std::vector<ParamSpan> spans;
    for (const Shape& shape : list) {
        if (!shape.parallel) {
            spans.emplace_back(shape.offset, shape.count);
            continue;
        }
        for (const auto& branch : shape.branches) {
            const std::vector<ParamSpan> inner = shape_spans(branch);
            spans.insert(spans.end(), inner.begin(), inner.end());
        }
    }
    return spans;
}

std::vector<Shape> shapes(const SeriesList& nodes, std::size_t& counter) {
    std::vector<Shape> list;
    list.reserve(nodes.size());
    for (const Node& node : nodes) {
        if (const Leaf* leaf = node.leaf()) {
            const KindInfo& info = kind_info(leaf->element.kind);
            list.push_back(Shape{.key = std::string(info.canonical), .offset = counter, .count = info.count,
                                 .branches = {}});
            counter += info.count;
        } else {
            list.push_back(parallel_shape(*node.parallel(), counter));
        }
    }
    std::ranges::stable_sort(list, [](const Shape& a, const Shape& b) { return a.key < b.key; });
    return list;
}

std::string series_key(const std::vector<Shape>& list) {
    std::string key = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) key += ',';
        key += list[i].key;
    }
    key += ']';
    return key;
}

std::pair<std::string, std::vector<ParamSpan>> canonical(const SeriesList& nodes) {
    std::size_t counter = 0;
    const std::vector<Shape> list = shapes(nodes, counter);
    return {series_key(list), shape_spans(list)};
}

std::optional<std::vector<std::size_t>> match_topology(const SeriesList& model, const SeriesList& user) {
    const auto [model_key, model_spans] = canonical(model);
    const auto [user_key, user_spans] = canonical(user);
    if (model_key != user_key) return std::nullopt;
    std::size_t n = 0;
    for (const auto& span : user_spans) n += span.second;
    std::vector<std::size_t> perm(n, 0);
    for (std::size_t i = 0; i < user_spans.size(); ++i) {
        const auto [m, count] = model_spans[i];
        const std::size_t u = user_spans[i].first;
        for (std::size_t j = 0; j < count; ++j) perm[u + j] = m + j;
    }
    return perm;
}

std::optional<std::pair<std::vector<std::size_t>, bool>> match_or_expand(const SeriesList& model,
                                                                         const SeriesList& user) {
    if (auto perm = match_topology(model, user)) return std::pair{std::move(*perm), false};
    bool changed = false;
    const SeriesList expanded = expand_series(user, changed);
    if (!changed) return std::nullopt;
    if (auto perm = match_topology(model, expanded)) return std::pair{std::move(*perm), true};
    return std::nullopt;
}

std::optional<TopologyMatch> find_for_topology(const SeriesList& user) {
    const auto& trees = registry_trees();
    for (std::size_t i = 0; i < trees.size(); ++i) {
        if (!trees[i]) continue;
        if (auto match = match_or_expand(*trees[i], user)) {
            return TopologyMatch{std::move(match->first), i, match->second};
        }
    }
    return std::nullopt;
}

}  // namespace vorlane
