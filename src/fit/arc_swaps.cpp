// Starts with two arcs' values traded, or one arc moved to an end of the
// measured window or to a given place.
#include "fit/arc_swaps.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "circuit/layout.hpp"
#include "core/math.hpp"

namespace vorlane {
namespace {

// An arc (a diffusion element) whose time constant lies this close (in
// decades) to the place it would be moved to is there already.
constexpr double ALREADY_THERE_DECADES = 0.5;

// A broad arc this close (in decades) to the top of the window may stand in
// for a sharper arc just above it.
constexpr double BROAD_ARC_REACH_DECADES = 1.0;

// The exponent of a CPE that takes a capacitance's place: just inside the
// end of its range (1, a capacitance), where the solver can still move it.
constexpr double CAPACITANCE_LIKE_EXPONENT = 0.99;

// A start the solver can take: every value finite and positive.
bool usable_start(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v) && v > 0.0; });
}

struct PlacedLeaf {
    Kind kind;
    std::size_t first;  // index of its first parameter
    std::size_t count;
};

bool same_kinds(const std::vector<PlacedLeaf>& a, const std::vector<PlacedLeaf>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const PlacedLeaf& x, const PlacedLeaf& y) { return x.kind == y.kind; });
}

// An arc's capacitive leaf (C or CPE) and its time constant with the
// resistance r: r c, or (r q)^(1 / alpha).
double time_constant(const PlacedLeaf& leaf, std::span<const double> values, double r) {
    if (leaf.kind == Kind::C) return r * values[leaf.first];
    return math::pow(r * values[leaf.first], 1.0 / values[leaf.first + 1]);
}

// The capacitive leaf's value(s) giving the time constant tau with the resistance r.
void set_time_constant(const PlacedLeaf& leaf, std::vector<double>& values, double r, double tau) {
    if (leaf.kind == Kind::C) {
        values[leaf.first] = tau / r;
    } else {
        values[leaf.first] = math::pow(tau, values[leaf.first + 1]) / r;
    }
}

std::optional<std::size_t> first_of(const std::vector<PlacedLeaf>& leaves, const std::vector<bool>& taken,
                                     bool capacitive) {
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const Kind kind = leaves[i].kind;
        const bool wanted = capacitive ? (kind == Kind::C || kind == Kind::Cpe) : kind == Kind::R;
        if (wanted && !taken[i]) return i;
    }
    return std::nullopt;
}

class Trade {
public:
    Trade(const std::vector<PlacedLeaf>& a, const std::vector<PlacedLeaf>& b, std::span<const double> values)
        : a_(a), b_(b), before_(values), after_(values.begin(), values.end()), a_taken_(a.size()),
          b_taken_(b.size()) {}

    // Leaves of one kind trade values, each with the first free partner.
    void same_kinds() {
        for (std::size_t i = 0; i < a_.size(); ++i) {
            for (std::size_t j = 0; j < b_.size(); ++j) {
                if (b_taken_[j] || b_[j].kind != a_[i].kind) continue;
                a_taken_[i] = b_taken_[j] = true;
                for (std::size_t k = 0; k < a_[i].count; ++k) {
                    std::swap(after_[a_[i].first + k], after_[b_[j].first + k]);
                }
                traded_ = true;
                break;
            }
        }
    }

    // A C left facing a CPE (the resistances traded): each arc takes the
    // other's time constant with its new resistance; the CPE, taking the
    // place of a capacitance, behaves like one (its exponent just below 1).
    void time_constants() {
        const auto ca = first_of(a_, a_taken_, true), cb = first_of(b_, b_taken_, true);
        const auto ra = first_of(a_, std::vector<bool>(a_.size()), false);
        const auto rb = first_of(b_, std::vector<bool>(b_.size()), false);
        if (!ca || !cb || !ra || !rb || !a_taken_[*ra] || !b_taken_[*rb]) return;
        const double r_a = before_[a_[*ra].first], r_b = before_[b_[*rb].first];
        const double tau_a = time_constant(a_[*ca], before_, r_a), tau_b = time_constant(b_[*cb], before_, r_b);
        std::vector<double> moved = after_;
        for (const PlacedLeaf& leaf : {a_[*ca], b_[*cb]}) {
            if (leaf.kind == Kind::Cpe) moved[leaf.first + 1] = CAPACITANCE_LIKE_EXPONENT;
        }
        set_time_constant(a_[*ca], moved, r_b, tau_b);
        set_time_constant(b_[*cb], moved, r_a, tau_a);
        if (!std::all_of(moved.begin(), moved.end(), [](double v) { return std::isfinite(v); })) return;
        after_ = std::move(moved);
    }

    std::optional<std::vector<double>> result() && {
        if (!traded_) return std::nullopt;
        return std::move(after_);
    }

private:
    const std::vector<PlacedLeaf>& a_;
    const std::vector<PlacedLeaf>& b_;
    std::span<const double> before_;
    std::vector<double> after_;
    std::vector<bool> a_taken_, b_taken_;
    bool traded_ = false;
};

// The leaves of each top-level parallel member, in layout order; nothing
// when the circuit's parameter count is not `value_count`.
std::vector<std::vector<PlacedLeaf>> top_level_arcs(const SeriesList& nodes, std::size_t value_count) {
    std::vector<std::vector<PlacedLeaf>> arcs;
    std::size_t next = 0;
    for (const Node& node : nodes) {
        std::vector<PlacedLeaf> leaves;
        for_each_leaf(node, [&](const Leaf& leaf) {
            leaves.push_back({leaf.element.kind, next, leaf.element.count()});
            next += leaf.element.count();
        });
        if (node.parallel()) arcs.push_back(std::move(leaves));
    }
    if (next != value_count) arcs.clear();
    return arcs;
}

// Calls move(out, capacitive leaf, first resistance) for every top-level arc
// with both, in layout order; each call appends its moved copies of `values`
// to `out`. Copies with a value that is not finite and positive are dropped.
template <class Move>
std::vector<std::vector<double>> arc_moves(const SeriesList& nodes, std::span<const double> values, Move move) {
    std::vector<std::vector<double>> out;
    for (const std::vector<PlacedLeaf>& arc : top_level_arcs(nodes, values.size())) {
        const std::vector<bool> none(arc.size(), false);
        const auto c = first_of(arc, none, true), r = first_of(arc, none, false);
        if (!c || !r) continue;
        move(out, arc[*c], arc[*r]);
    }
    std::erase_if(out, [](const std::vector<double>& moved) { return !usable_start(moved); });
    return out;
}

}  // namespace

std::vector<std::vector<double>> arc_swaps(const SeriesList& nodes, std::span<const double> values) {
    const std::vector<std::vector<PlacedLeaf>> arcs = top_level_arcs(nodes, values.size());
    std::vector<std::vector<double>> out;
    for (std::size_t a = 0; a < arcs.size(); ++a) {
        for (std::size_t b = a + 1; b < arcs.size(); ++b) {
            if (same_kinds(arcs[a], arcs[b])) continue;
            Trade trade(arcs[a], arcs[b], values);
            trade.same_kinds();
            trade.time_constants();
            if (auto traded = std::move(trade).result()) out.push_back(std::move(*traded));
        }
    }
    return out;
}

std::vector<std::vector<double>> arc_edge_moves(const SeriesList& nodes, std::span<const double> values,
                                                double omega_low, double omega_high) {
    return arc_moves(nodes, values, [&](auto& out, const PlacedLeaf& c, const PlacedLeaf& r) {
        for (const double omega : {omega_low, omega_high}) {
            std::vector<double>& moved = out.emplace_back(values.begin(), values.end());
            set_time_constant(c, moved, values[r.first], 1.0 / omega);
        }
    });
}

std::vector<std::vector<double>> broad_arcs_sharpened(const SeriesList& nodes, std::span<const double> values,
                                                      double omega_high, double below, double alpha) {
    return arc_moves(nodes, values, [&](auto& out, const PlacedLeaf& c, const PlacedLeaf& r) {
        if (c.kind != Kind::Cpe || !(values[c.first + 1] < below)) return;
        const double tau = time_constant(c, values, values[r.first]);
        if (!(std::fabs(math::log10(tau * omega_high)) < BROAD_ARC_REACH_DECADES)) return;
        std::vector<double>& moved = out.emplace_back(values.begin(), values.end());
        moved[c.first + 1] = alpha;
        set_time_constant(c, moved, values[r.first], 1.0 / omega_high);
    });
}

std::vector<std::vector<double>> diffusion_moves_to(const SeriesList& nodes, std::span<const double> values,
                                                    double tau) {
    std::vector<std::vector<double>> out;
    if (param_count(nodes) != values.size()) return out;
    std::size_t next = 0;
    for_each_leaf(nodes, [&](const Leaf& leaf) {
        const std::size_t first = next;
        next += leaf.element.count();
        const Kind kind = leaf.element.kind;
        if (kind != Kind::Wo && kind != Kind::Ws) return;
        const double z0 = values[first], own = values[first + 1];
        if (std::fabs(math::log10(tau / own)) < ALREADY_THERE_DECADES) return;
        std::vector<double> moved(values.begin(), values.end());
        moved[first] = z0 * std::sqrt(tau / own);
        moved[first + 1] = tau;
        if (usable_start(moved)) out.push_back(std::move(moved));
    });
    return out;
}

std::vector<std::vector<double>> arc_moves_to(const SeriesList& nodes, std::span<const double> values, double r,
                                              double omega, double alpha) {
    return arc_moves(nodes, values, [&](auto& out, const PlacedLeaf& c, const PlacedLeaf& resistance) {
        const double tau = time_constant(c, values, values[resistance.first]);
        if (std::fabs(math::log10(tau * omega)) < ALREADY_THERE_DECADES) return;
        std::vector<double>& moved = out.emplace_back(values.begin(), values.end());
        moved[resistance.first] = r;
        if (c.kind == Kind::Cpe) moved[c.first + 1] = alpha;
        set_time_constant(c, moved, r, 1.0 / omega);
    });
}

}  // namespace vorlane
