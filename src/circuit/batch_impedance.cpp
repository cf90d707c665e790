// Block-wise walk of a circuit tree with per-thread scratch runs.
#include "circuit/batch_impedance.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>

#include "circuit/impedance.hpp"

namespace vorlane {
namespace {

using Run = BlockMemo::Run;
constexpr Complex ZERO{0.0, 0.0};

// Runs of one parallel nesting level: the admittance being summed and the
// impedance of the branch being walked.
struct Level {
    Run admittance;
    Run branch;
};

// Scratch of one thread. Levels are allocated the first time a tree nests
// that deep and kept; each sits in its own allocation so that adding one
// never moves the others while a walk holds them.
class Scratch {
public:
    Level& level(std::size_t depth) {
        while (levels_.size() <= depth) levels_.push_back(std::make_unique<Level>());
        return *levels_[depth];
    }
    Complex* leaf() { return leaf_.data(); }

private:
    std::vector<std::unique_ptr<Level>> levels_;
    Run leaf_;
};

thread_local Scratch thread_scratch;

// sum[i] = sum[i] + z[i], where the first term of a sum starts from 0 + 0j
// without a pass of its own (0 + x is not always x: -0 and NaN signs).
void accumulate(Complex* sum, const Complex* z, std::size_t n, bool first) {
    if (first) {
        for (std::size_t i = 0; i < n; ++i) sum[i] = ZERO + z[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) sum[i] = sum[i] + z[i];
    }
}

// Walks one block. The policy supplies each leaf's run given its kind and
// parameters (in layout order; it may compute into `spare`), may supply a
// parallel node's run instead of its walk (`reuse`), and may keep the runs
// the walk computes (`enter` before a node's branches, `leave` after them
// returning where to keep its run, or nothing). Parallel nodes nested deeper
// than the parser allows are evaluated point by point, which bounds the
// scratch and keeps the recursion no deeper than the one-frequency walk's.
template <class Policy>
class BlockWalk {
public:
    BlockWalk(std::span<const double> params, const double* omega, std::size_t n, Policy& policy)
        : cursor_{params.data(), params.size()},
          omega_(omega),
          n_(n),
          policy_(policy),
          scratch_(thread_scratch) {}

    void series(const SeriesList& nodes, std::size_t depth, Complex* sum) {
        if (nodes.empty()) std::fill_n(sum, n_, ZERO);
        bool first = true;
        for (const Node& node : nodes) {
            if (const Leaf* leaf = node.leaf()) {
                const Kind kind = leaf->element.kind;
                const double* params = read_leaf_params(cursor_, kind_info(kind).count, spare_params_);
                accumulate(sum, policy_.leaf(kind, params, omega_, n_, scratch_.leaf()), n_, first);
            } else if (depth < MAX_PARALLEL_DEPTH) {
                parallel(*node.parallel(), depth, sum, first);
            } else {
                parallel_per_point(*node.parallel(), sum, first);
            }
            first = false;
        }
    }

private:
    void parallel(const ParallelNode& node, std::size_t depth, Complex* sum, bool first) {
        if (const Complex* kept = policy_.reuse(node, cursor_)) {
            accumulate(sum, kept, n_, first);
            return;
        }
        const std::size_t token = policy_.enter(node, cursor_);
        Level& level = scratch_.level(depth);
        Complex* admittance = level.admittance.data();
        Complex* branch = level.branch.data();
        // Unguarded on purpose: an empty branch or an empty node gives NaN.
        if (node.branches.empty()) std::fill_n(admittance, n_, ZERO);
        bool first_branch = true;
        for (const SeriesList& nodes : node.branches) {
            series(nodes, depth + 1, branch);
            for (std::size_t i = 0; i < n_; ++i) {
                const Complex y = Complex{1.0, 0.0} / branch[i];
                admittance[i] = (first_branch ? ZERO : admittance[i]) + y;
            }
            first_branch = false;
        }
        Complex* kept = policy_.leave(token, cursor_);
        Complex* z = kept != nullptr ? kept : branch;
        for (std::size_t i = 0; i < n_; ++i) z[i] = Complex{1.0, 0.0} / admittance[i];
        accumulate(sum, z, n_, first);
    }

    // Every point reads the node's parameters from the same position.
    void parallel_per_point(const ParallelNode& node, Complex* sum, bool first) {
        const ParamCursor start = cursor_;
        for (std::size_t i = 0; i < n_; ++i) {
            cursor_ = start;
            sum[i] = (first ? ZERO : sum[i]) + parallel_impedance_with_params(node, cursor_, omega_[i]);
        }
    }

    ParamCursor cursor_;
    const double* omega_;
    std::size_t n_;
    Policy& policy_;
    Scratch& scratch_;
    std::array<double, MAX_ELEMENT_PARAMS> spare_params_{};
};

template <class Policy>
void walk(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
          Complex* out, Policy& policy) {
    BlockWalk<Policy> block(params, omega, n, policy);
    block.series(nodes, 0, out);
}

// Computes everything and keeps nothing.
struct Compute {
    const Complex* leaf(Kind kind, const double* params, const double* omega, std::size_t n, Complex* spare) const {
        element_impedance_block(kind, params, omega, n, spare);
        return spare;
    }
    const Complex* reuse(const ParallelNode&, ParamCursor&) const { return nullptr; }
    std::size_t enter(const ParallelNode&, const ParamCursor&) const { return 0; }
    Complex* leave(std::size_t, const ParamCursor&) const { return nullptr; }
};

bool same_bits(const double* a, const double* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
    return true;
}

struct Record : Compute {
    std::vector<BlockMemo::LeafEntry>& leaves;
    std::vector<BlockMemo::NodeEntry>& nodes;

    Record(std::vector<BlockMemo::LeafEntry>& l, std::vector<BlockMemo::NodeEntry>& n) : leaves(l), nodes(n) {}

    const Complex* leaf(Kind kind, const double* params, const double* omega, std::size_t n, Complex*) {
        BlockMemo::LeafEntry& entry = leaves.emplace_back();
        entry.kind = kind;
        std::copy_n(params, kind_info(kind).count, entry.params.begin());
        element_shapes(kind, params, omega, n, entry.shapes.data());
        element_finish(kind, params, omega, n, entry.shapes.data(), entry.values.data());
        return entry.values.data();
    }
    std::size_t enter(const ParallelNode& node, const ParamCursor& cursor) {
        BlockMemo::NodeEntry& entry = nodes.emplace_back();
        entry.node = &node;
        entry.param_begin = cursor.pos;
        entry.leaves = leaves.size();
        return nodes.size() - 1;
    }
    Complex* leave(std::size_t index, const ParamCursor& cursor) {
        BlockMemo::NodeEntry& entry = nodes[index];
        entry.param_end = cursor.pos;
        entry.reusable = !cursor.exhausted;
        entry.leaves = leaves.size() - entry.leaves;
        entry.nodes = nodes.size() - index;
        return entry.values.data();
    }
};

// Walks leaf and node entries in the order the record made them.
struct Reuse : Compute {
    const std::vector<double>& params;
    const std::vector<BlockMemo::LeafEntry>& leaves;
    const std::vector<BlockMemo::NodeEntry>& nodes;
    std::size_t next_leaf = 0;
    std::size_t next_node = 0;

    Reuse(const std::vector<double>& p, const std::vector<BlockMemo::LeafEntry>& l,
          const std::vector<BlockMemo::NodeEntry>& n)
        : params(p), leaves(l), nodes(n) {}

    const Complex* leaf(Kind kind, const double* values, const double* omega, std::size_t n, Complex* spare) {
        const std::size_t index = next_leaf++;
        if (index >= leaves.size() || leaves[index].kind != kind) return Compute::leaf(kind, values, omega, n, spare);
        const BlockMemo::LeafEntry& entry = leaves[index];
        const std::size_t count = kind_info(kind).count;
        if (same_bits(entry.params.data(), values, count)) return entry.values.data();
        const unsigned shaping = shape_params(kind);
        for (std::size_t i = 0; i < count; ++i) {
            if ((shaping >> i & 1U) != 0 && !same_bits(entry.params.data() + i, values + i, 1))
                return Compute::leaf(kind, values, omega, n, spare);
        }
        element_finish(kind, values, omega, n, entry.shapes.data(), spare);
        return spare;
    }

    const Complex* reuse(const ParallelNode& node, ParamCursor& cursor) {
        const std::size_t index = next_node++;
        if (index >= nodes.size()) return nullptr;
        const BlockMemo::NodeEntry& entry = nodes[index];
        const bool unchanged = entry.node == &node && entry.reusable && entry.param_begin == cursor.pos &&
                               entry.param_end <= cursor.size &&
                               same_bits(params.data() + entry.param_begin, cursor.data + entry.param_begin,
                                         entry.param_end - entry.param_begin);
        if (!unchanged) return nullptr;
        cursor.pos = entry.param_end;
        next_leaf += entry.leaves;
        next_node += entry.nodes - 1;
        return entry.values.data();
    }
};

}  // namespace

void block_impedance(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                     Complex* out) {
    Compute compute;
    walk(nodes, params, omega, n, out, compute);
}

void BlockMemo::record(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                       Complex* out) {
    params_.assign(params.begin(), params.end());
    leaves_.clear();
    nodes_.clear();
    Record record(leaves_, nodes_);
    walk(nodes, params, omega, n, out, record);
}

void BlockMemo::evaluate(const SeriesList& nodes, std::span<const double> params, const double* omega,
                         std::size_t n, Complex* out) const {
    Reuse reuse(params_, leaves_, nodes_);
    walk(nodes, params, omega, n, out, reuse);
}

}  // namespace vorlane
