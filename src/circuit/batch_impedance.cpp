// Block-wise walk of a circuit tree with scratch runs per thread or per memo.
#include "circuit/batch_impedance.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>

#include "circuit/impedance.hpp"

namespace vorlane {

// Runs a walk works in, one set per thread (and per memo). Levels are
// allocated the first time a tree nests that deep and kept; each sits in its
// own allocation so that adding one never moves the others while a walk
// holds them.
class BlockScratch {
public:
    using Run = BlockMemo::Run;

    // Runs of one parallel nesting level: the admittance being summed and
    // the impedance of the branch being walked.
    struct Level {
        Run admittance;
        Run branch;
    };

    Level& level(std::size_t depth) {
        while (levels_.size() <= depth) levels_.push_back(std::make_unique<Level>());
        return *levels_[depth];
    }
    Complex* leaf() { return leaf_.data(); }

private:
    std::vector<std::unique_ptr<Level>> levels_;
    Run leaf_;
};

namespace {

constexpr Complex ZERO{0.0, 0.0};

thread_local BlockScratch thread_scratch;

// sum[i] = sum[i] + z[i], where the first term of a sum starts from 0 + 0j
// without a pass of its own (0 + x is not always x: -0 and NaN signs).
void accumulate(Complex* sum, const Complex* z, std::size_t n, bool first) {
    if (first) {
        for (std::size_t i = 0; i < n; ++i) sum[i] = ZERO + z[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) sum[i] = sum[i] + z[i];
    }
}

// admittance[i] = admittance[i] + 1 / branch[i] (from 0 + 0j for the first
// branch), keeping the reciprocals in `kept` when there is one.
void add_reciprocals(Complex* admittance, const Complex* branch, Complex* kept, std::size_t n, bool first) {
    if (kept == nullptr) {
        for (std::size_t i = 0; i < n; ++i)
            admittance[i] = (first ? ZERO : admittance[i]) + Complex{1.0, 0.0} / branch[i];
        return;
    }
    for (std::size_t i = 0; i < n; ++i) kept[i] = Complex{1.0, 0.0} / branch[i];
    accumulate(admittance, kept, n, first);
}

// Walks one block. The policy supplies each leaf's run given its kind and
// parameters (in layout order; it may compute into `spare`), may supply the
// run of a parallel node or of a branch's reciprocal instead of its walk
// (`reuse`), and may keep the runs the walk computes (`enter` before the
// subtree, `leave` after it returning where to keep its run, or nothing).
// Parallel nodes nested deeper than the parser allows are evaluated point
// by point, which bounds the scratch and keeps the recursion no deeper than
// the one-frequency walk's.
template <class Policy>
class BlockWalk {
public:
    BlockWalk(std::span<const double> params, const double* omega, std::size_t n, Policy& policy,
              BlockScratch& scratch)
        : cursor_{params.data(), params.size()}, omega_(omega), n_(n), policy_(policy), scratch_(scratch) {}

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
        if (const Complex* kept = policy_.reuse(&node, cursor_)) {
            accumulate(sum, kept, n_, first);
            return;
        }
        const std::size_t token = policy_.enter(&node, cursor_);
        BlockScratch::Level& level = scratch_.level(depth);
        Complex* admittance = level.admittance.data();
        Complex* branch = level.branch.data();
        // Unguarded on purpose: an empty branch or an empty node gives NaN.
        if (node.branches.empty()) std::fill_n(admittance, n_, ZERO);
        bool first_branch = true;
        for (const SeriesList& nodes : node.branches) {
            if (const Complex* kept = policy_.reuse(&nodes, cursor_)) {
                accumulate(admittance, kept, n_, first_branch);
            } else {
                const std::size_t branch_token = policy_.enter(&nodes, cursor_);
                series(nodes, depth + 1, branch);
                add_reciprocals(admittance, branch, policy_.leave(branch_token, cursor_), n_, first_branch);
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
    BlockScratch& scratch_;
    std::array<double, MAX_ELEMENT_PARAMS> spare_params_{};
};

template <class Policy>
void walk(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
          Complex* out, Policy& policy, BlockScratch& scratch) {
    BlockWalk<Policy> block(params, omega, n, policy, scratch);
    block.series(nodes, 0, out);
}

// Computes everything and keeps nothing.
struct Compute {
    const Complex* leaf(Kind kind, const double* params, const double* omega, std::size_t n, Complex* spare) const {
        element_impedance_block(kind, params, omega, n, spare);
        return spare;
    }
    const Complex* reuse(const void*, ParamCursor&) const { return nullptr; }
    std::size_t enter(const void*, const ParamCursor&) const { return 0; }
    Complex* leave(std::size_t, const ParamCursor&) const { return nullptr; }
};

bool same_bits(const double* a, const double* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
    return true;
}

struct Record : Compute {
    std::vector<BlockMemo::LeafEntry>& leaves;
    std::vector<BlockMemo::SubtreeEntry>& subtrees;

    Record(std::vector<BlockMemo::LeafEntry>& l, std::vector<BlockMemo::SubtreeEntry>& s) : leaves(l), subtrees(s) {}

    const Complex* leaf(Kind kind, const double* params, const double* omega, std::size_t n, Complex*) {
        BlockMemo::LeafEntry& entry = leaves.emplace_back();
        entry.kind = kind;
        std::copy_n(params, kind_info(kind).count, entry.params.begin());
        element_shapes(kind, params, omega, n, entry.shapes.data());
        element_finish(kind, params, omega, n, entry.shapes.data(), entry.values.data());
        return entry.values.data();
    }
    std::size_t enter(const void* subtree, const ParamCursor& cursor) {
        BlockMemo::SubtreeEntry& entry = subtrees.emplace_back();
        entry.subtree = subtree;
        entry.param_begin = cursor.pos;
        entry.leaves = leaves.size();
        return subtrees.size() - 1;
    }
    Complex* leave(std::size_t index, const ParamCursor& cursor) {
        BlockMemo::SubtreeEntry& entry = subtrees[index];
        entry.param_end = cursor.pos;
        entry.reusable = !cursor.exhausted;
        entry.leaves = leaves.size() - entry.leaves;
        entry.entries = subtrees.size() - index;
        return entry.values.data();
    }
};

// Walks leaf and subtree entries in the order the record made them.
struct Reuse : Compute {
    const std::vector<double>& params;
    const std::vector<BlockMemo::LeafEntry>& leaves;
    const std::vector<BlockMemo::SubtreeEntry>& subtrees;
    std::size_t next_leaf = 0;
    std::size_t next_subtree = 0;

    Reuse(const std::vector<double>& p, const std::vector<BlockMemo::LeafEntry>& l,
          const std::vector<BlockMemo::SubtreeEntry>& s)
        : params(p), leaves(l), subtrees(s) {}

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

    // A subtree that is not reused is walked, and the entries within it are
    // met in turn; one that is skips them.
    const Complex* reuse(const void* subtree, ParamCursor& cursor) {
        const std::size_t index = next_subtree++;
        if (index >= subtrees.size()) return nullptr;
        const BlockMemo::SubtreeEntry& entry = subtrees[index];
        const bool unchanged = entry.subtree == subtree && entry.reusable && entry.param_begin == cursor.pos &&
                               entry.param_end <= cursor.size &&
                               same_bits(params.data() + entry.param_begin, cursor.data + entry.param_begin,
                                         entry.param_end - entry.param_begin);
        if (!unchanged) return nullptr;
        cursor.pos = entry.param_end;
        next_leaf += entry.leaves;
        next_subtree += entry.entries - 1;
        return entry.values.data();
    }
};

}  // namespace

void block_impedance(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                     Complex* out) {
    Compute compute;
    walk(nodes, params, omega, n, out, compute, thread_scratch);
}

BlockMemo::BlockMemo() : scratch_(std::make_unique<BlockScratch>()) {}
BlockMemo::~BlockMemo() = default;
BlockMemo::BlockMemo(BlockMemo&&) noexcept = default;
BlockMemo& BlockMemo::operator=(BlockMemo&&) noexcept = default;

void BlockMemo::record(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                       Complex* out) {
    params_.assign(params.begin(), params.end());
    leaves_.clear();
    subtrees_.clear();
    Record record(leaves_, subtrees_);
    walk(nodes, params, omega, n, out, record, *scratch_);
}

void BlockMemo::evaluate(const SeriesList& nodes, std::span<const double> params, const double* omega,
                         std::size_t n, Complex* out) const {
    Reuse reuse(params_, leaves_, subtrees_);
    walk(nodes, params, omega, n, out, reuse, *scratch_);
}

}  // namespace vorlane
