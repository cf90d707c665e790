// Groups of interchangeable series members and their order by time constant.
#include "circuit/arc_order.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <utility>

#include "circuit/layout.hpp"
#include "core/math.hpp"

namespace vorlane {

namespace {

// How a shape's time constant is read from its parameters.
enum class TauRule { Parameter1, ResistorCapacitor, ResistorCpe, ResistorInductor };

// A member's shape: its kind, or the kinds of a pair in the order written.
struct Shape {
    Kind first;
    std::optional<Kind> second;
    bool operator==(const Shape&) const = default;
};

const Leaf* single_leaf(const SeriesList& branch) { return branch.size() == 1 ? branch.front().leaf() : nullptr; }

std::optional<Shape> shape_of(const Node& node) {
    if (const Leaf* leaf = node.leaf()) {
        switch (leaf->element.kind) {
            case Kind::K: case Kind::Zarc: case Kind::Wo: case Kind::Ws: case Kind::G: case Kind::Gs:
                return Shape{leaf->element.kind, std::nullopt};
            default:
                return std::nullopt;
        }
    }
    const auto& branches = node.parallel()->branches;
    if (branches.size() != 2) return std::nullopt;
    const Leaf* a = single_leaf(branches[0]);
    const Leaf* b = single_leaf(branches[1]);
    if (!a || !b) return std::nullopt;
    const Kind ka = a->element.kind;
    const Kind kb = b->element.kind;
    const Kind other = ka == Kind::R ? kb : ka;
    if ((ka == Kind::R) == (kb == Kind::R)) return std::nullopt;
    if (other != Kind::C && other != Kind::Cpe && other != Kind::L) return std::nullopt;
    return Shape{ka, kb};
}

TauRule rule_of(const Shape& shape) {
    if (!shape.second) return TauRule::Parameter1;
    const Kind other = shape.first == Kind::R ? *shape.second : shape.first;
    if (other == Kind::C) return TauRule::ResistorCapacitor;
    if (other == Kind::Cpe) return TauRule::ResistorCpe;
    return TauRule::ResistorInductor;
}

struct FoundGroup {
    Shape shape;
    ArcGroup group;
};

void collect_groups(const SeriesList& nodes, std::size_t& next, std::vector<FoundGroup>& out) {
    std::vector<FoundGroup> here;
    for (const Node& node : nodes) {
        const std::size_t first = next;
        if (const Leaf* leaf = node.leaf()) {
            next += leaf->element.count();
        } else {
            for (const SeriesList& branch : node.parallel()->branches) collect_groups(branch, next, out);
        }
        const std::optional<Shape> shape = shape_of(node);
        if (!shape) continue;
        auto same = std::find_if(here.begin(), here.end(), [&](const FoundGroup& g) { return g.shape == *shape; });
        if (same == here.end()) same = here.insert(here.end(), FoundGroup{*shape, ArcGroup{next - first, {}}});
        same->group.firsts.push_back(first);
    }
    for (FoundGroup& found : here) {
        if (found.group.firsts.size() >= 2) out.push_back(std::move(found));
    }
}

std::vector<FoundGroup> find_groups(const SeriesList& nodes) {
    std::vector<FoundGroup> out;
    std::size_t next = 0;
    collect_groups(nodes, next, out);
    std::stable_sort(out.begin(), out.end(),
                     [](const FoundGroup& a, const FoundGroup& b) { return a.group.firsts[0] < b.group.firsts[0]; });
    return out;
}

double time_constant(const Shape& shape, const double* p) {
    const TauRule rule = rule_of(shape);
    if (rule == TauRule::Parameter1) return p[1];
    // A pair holds the resistor's r and the other element's parameters, in
    // the order the pair was written.
    const bool r_first = shape.first == Kind::R;
    const double r = r_first ? p[0] : p[kind_info(shape.first).count];
    const double* o = r_first ? p + 1 : p;
    if (rule == TauRule::ResistorCapacitor) return r * o[0];
    if (rule == TauRule::ResistorCpe) return math::pow(r * o[0], 1.0 / o[1]);
    return o[0] / r;
}

// Members may trade places only when every slot carries the same constraint.
bool same_constraints(const ArcGroup& group, std::span<const double> values, const Constraints& c) {
    const std::size_t a = group.firsts.front();
    for (const std::size_t b : group.firsts) {
        for (std::size_t j = 0; j < group.width; ++j) {
            if (c.is_fixed(a + j) != c.is_fixed(b + j) || c.own_bound(a + j) != c.own_bound(b + j)) return false;
            if (c.is_fixed(a + j) && values[a + j] != values[b + j]) return false;
        }
    }
    return true;
}

}  // namespace

std::vector<ArcGroup> interchangeable_arcs(const SeriesList& nodes) {
    std::vector<ArcGroup> groups;
    for (FoundGroup& found : find_groups(nodes)) groups.push_back(std::move(found.group));
    return groups;
}

std::vector<std::size_t> arc_order(const SeriesList& nodes, std::span<const double> values,
                                   const Constraints& constraints) {
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    if (values.size() != param_count(nodes)) return order;
    for (const FoundGroup& found : find_groups(nodes)) {
        const ArcGroup& group = found.group;
        if (!same_constraints(group, values, constraints)) continue;
        std::vector<std::pair<double, std::size_t>> taus;
        for (const std::size_t first : group.firsts) {
            taus.emplace_back(time_constant(found.shape, values.data() + first), first);
        }
        std::stable_sort(taus.begin(), taus.end(), [](const auto& a, const auto& b) {
            return a.first < b.first || (!std::isnan(a.first) && std::isnan(b.first));
        });
        for (std::size_t k = 0; k < group.firsts.size(); ++k) {
            for (std::size_t j = 0; j < group.width; ++j) order[group.firsts[k] + j] = taus[k].second + j;
        }
    }
    return order;
}

std::vector<double> permuted(std::span<const double> values, const std::vector<std::size_t>& order) {
    std::vector<double> out(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) out[i] = values[order[i]];
    return out;
}

}  // namespace vorlane
