// Matching a bundled topology to part of a user's series list.
#include "models/partial_match.hpp"

#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "models/registry.hpp"
#include "models/topology.hpp"

namespace vorlane {
namespace {

// The user's members (by index into `members`, sorted shapes) each model
// member takes: the first unused one with the same key. Nothing when a
// model member finds none.
std::optional<std::vector<std::size_t>> pair_members(const std::vector<Shape>& model,
                                                     const std::vector<Shape>& members) {
    std::vector<bool> used(members.size(), false);
    std::vector<std::size_t> pairs;
    for (const Shape& wanted : model) {
        std::size_t found = members.size();
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (!used[i] && members[i].key == wanted.key) {
                found = i;
                break;
            }
        }
        if (found == members.size()) return std::nullopt;
        used[found] = true;
        pairs.push_back(found);
    }
    return pairs;
}

struct Candidate {
    std::size_t model_index;
    std::vector<std::optional<std::size_t>> from_model;
    std::size_t covered = 0;
};

std::optional<Candidate> match_part(std::size_t model_index, const SeriesList& model, const SeriesList& user) {
    std::size_t model_counter = 0, user_counter = 0;
    const std::vector<Shape> model_shapes = shapes(model, model_counter);
    const std::vector<Shape> user_shapes = shapes(user, user_counter);
    if (model_shapes.size() >= user_shapes.size()) return std::nullopt;
    const auto pairs = pair_members(model_shapes, user_shapes);
    if (!pairs) return std::nullopt;
    Candidate candidate{model_index, std::vector<std::optional<std::size_t>>(user_counter), 0};
    for (std::size_t m = 0; m < model_shapes.size(); ++m) {
        const std::vector<ParamSpan> model_spans = shape_spans({model_shapes[m]});
        const std::vector<ParamSpan> user_spans = shape_spans({user_shapes[(*pairs)[m]]});
        for (std::size_t s = 0; s < model_spans.size(); ++s) {
            for (std::size_t j = 0; j < user_spans[s].second; ++j) {
                candidate.from_model[user_spans[s].first + j] = model_spans[s].first + j;
                ++candidate.covered;
            }
        }
    }
    return candidate;
}

}  // namespace

std::optional<PartialMatch> find_partial_match(const SeriesList& user) {
    if (find_for_topology(user)) return std::nullopt;
    bool changed = false;
    const SeriesList expanded = expand_series(user, changed);
    std::optional<Candidate> best;
    bool best_expanded = false;
    const auto& trees = registry_trees();
    for (std::size_t i = 0; i < trees.size(); ++i) {
        if (!trees[i]) continue;
        auto candidate = match_part(i, *trees[i], user);
        bool used_expansion = false;
        if (!candidate && changed) {
            candidate = match_part(i, *trees[i], expanded);
            used_expansion = candidate.has_value();
        }
        if (candidate && (!best || candidate->covered > best->covered)) {
            best = std::move(candidate);
            best_expanded = used_expansion;
        }
    }
    if (!best) return std::nullopt;

    PartialMatch match;
    match.model_index = best->model_index;
    match.tree = best_expanded ? expanded : user;
    match.expanded = best_expanded;
    match.from_model = std::move(best->from_model);
    const std::vector<ParamSpan> ranges = member_param_ranges(match.tree);
    for (std::size_t k = 0; k < match.tree.size(); ++k) {
        const auto [first, count] = ranges[k];
        // A member is matched exactly when its parameters take network outputs.
        const bool matched = count == 0 ? false : match.from_model[first].has_value();
        (matched ? match.matched : match.extras).push_back(match.tree[k]);
        for (std::size_t j = 0; j < count; ++j) (matched ? match.matched_params : match.extra_params).push_back(first + j);
    }
    return match;
}

}  // namespace vorlane
