// Block-wise walk of a circuit tree, plain or with a memo of its values.
#include "circuit/batch_impedance.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "circuit/impedance.hpp"
#include "core/kernel_variants.hpp"
#include "core/magnitude_bits.hpp"
#include "core/math.hpp"

namespace vorlane {

using BlockRun = std::array<Complex, IMPEDANCE_BLOCK>;

namespace {

bool same_bits(const double* a, const double* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
    return true;
}

}  // namespace

// A leaf's parameters, shapes and values on one block: its impedance, or
// its admittance where a parallel node takes that directly.
struct BlockLeaf {
    Kind kind;
    bool admittance;
    std::array<double, MAX_ELEMENT_PARAMS> params;
    std::array<ElementShape, IMPEDANCE_BLOCK> shapes;
    BlockRun values;
};

// A parallel node (values: its impedance) or a branch of one (values: the
// reciprocal of the branch impedance), with the parameters it reads.
struct BlockSubtree {
    const void* subtree;
    std::size_t param_begin;
    std::size_t param_end;
    bool reusable;        // its parameters lay inside the vector
    std::size_t leaves;   // leaf entries within it
    std::size_t entries;  // subtree entries within it, itself included
    BlockRun values;
};

// Entries that survive clearing, so that filling them again allocates only
// for a tree larger than any before. An entry holds some kilobytes and lives
// as long as its thread, so a tree gets at most MAX_KEPT of each kind; past
// them nothing is kept and everything is computed, with the same results.
template <class Entry>
struct BlockEntries {
    static constexpr std::size_t MAX_KEPT = 1024;

    std::vector<Entry> items;
    std::size_t count = 0;

    Entry* push() {
        if (count == MAX_KEPT) return nullptr;
        if (count == items.size()) items.emplace_back();
        return &items[count++];
    }
};

// Runs a walk works in, one set per thread and per memo. Levels are
// allocated the first time a tree nests that deep and kept; each sits in its
// own allocation so that adding one never moves the others while a walk
// holds them.
class BlockScratch {
public:
    // Runs of one parallel nesting level: the admittance being summed and
    // the impedance of the branch being walked.
    struct Level {
        BlockRun admittance;
        BlockRun branch;
    };

    Level& level(std::size_t depth) {
        while (levels_.size() <= depth) levels_.push_back(std::make_unique<Level>());
        return *levels_[depth];
    }

    // ln omega[i] of a block, kept per block start (up to MAX_KEPT blocks)
    // while its frequencies keep their bits: a fit evaluates the same
    // spectrum again and again.
    const double* log_omega(const double* omega, std::size_t n) {
        // Blocks come in spectrum order, so the search starts after the last
        // block found.
        LogBlock* block = nullptr;
        for (std::size_t k = 0; k < logs_.count && block == nullptr; ++k) {
            const std::size_t i = (next_log_ + k) % logs_.count;
            if (logs_.items[i].start == omega) {
                block = &logs_.items[i];
                next_log_ = i + 1;
            }
        }
        if (block != nullptr && block->n == n && same_bits(block->omega.data(), omega, n)) return block->log.data();
        if (block == nullptr && (block = logs_.push()) != nullptr) next_log_ = logs_.count;
        if (block == nullptr) block = &spare_logs_;
        block->start = omega;
        block->n = n;
        std::copy_n(omega, n, block->omega.begin());
        for (std::size_t i = 0; i < n; ++i) block->log[i] = math::log(omega[i]);
        return block->log.data();
    }

    // The leaves of the last plain walk on this scratch and its frequencies:
    // a fit asks for the Jacobian where it has just evaluated.
    BlockEntries<BlockLeaf> recent;
    std::array<double, IMPEDANCE_BLOCK> recent_omega;
    std::size_t recent_n = 0;
    BlockRun spare;  // a leaf that is not kept

private:
    struct LogBlock {
        const double* start = nullptr;
        std::size_t n = 0;
        std::array<double, IMPEDANCE_BLOCK> omega;
        std::array<double, IMPEDANCE_BLOCK> log;
    };

    std::vector<std::unique_ptr<Level>> levels_;
    BlockEntries<LogBlock> logs_;
    std::size_t next_log_ = 0;
    LogBlock spare_logs_;
};

struct BlockMemo::State {
    BlockScratch scratch;  // its own, sparing its walks the thread's
    std::vector<double> params;
    BlockEntries<BlockLeaf> leaves;         // layout order
    BlockEntries<BlockSubtree> subtrees;    // in the order they are entered
};

namespace {

constexpr Complex ZERO{0.0, 0.0};

thread_local BlockScratch thread_scratch;

// sum[i] = sum[i] + z[i], where the first term of a sum starts from 0 + 0j
// without a pass of its own (0 + x is not always x: -0 and NaN signs).
VORLANE_KERNEL
void accumulate(Complex* sum, const Complex* z, std::size_t n, bool first) {
    if (first) {
        for (std::size_t i = 0; i < n; ++i) sum[i] = ZERO + z[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) sum[i] = sum[i] + z[i];
    }
}

// sum[i] = sum[i] + y, from 0 + 0j for the first term.
VORLANE_KERNEL
void add_constant(Complex* sum, Complex y, std::size_t n, bool first) {
    if (first) {
        std::fill_n(sum, n, ZERO + y);
    } else {
        for (std::size_t i = 0; i < n; ++i) sum[i] = sum[i] + y;
    }
}

// Whether parallel_reciprocal(z) differs from the plain division: z is zero
// or has an infinite part. The test works on the bits of the magnitudes (see
// magnitude_bits), without branches.
bool needs_guard(Complex z) {
    constexpr std::uint64_t INFINITE = std::bit_cast<std::uint64_t>(std::numeric_limits<double>::infinity());
    const std::uint64_t a = magnitude_bits(z.re);
    const std::uint64_t b = magnitude_bits(z.im);
    return ((a | b) == 0) | (a == INFINITE) | (b == INFINITE);
}

// Whether parallel_reciprocal(z[i]) is the plain division at every point.
VORLANE_KERNEL
bool plain_reciprocals(const Complex* z, std::size_t n) {
    // A 64-bit flag, not a bool, so that the loop vectorises: the compiler
    // takes its lane width from the narrowest type in it.
    std::uint64_t guarded = 0;
    for (std::size_t i = 0; i < n; ++i) guarded |= std::uint64_t{needs_guard(z[i])};
    return guarded == 0;
}

// out[i] = parallel_reciprocal(z[i]); the guarded form runs only on runs
// that hold a point where it differs from the plain division.
VORLANE_KERNEL
void reciprocals(const Complex* z, Complex* out, std::size_t n) {
    if (plain_reciprocals(z, n)) {
        for (std::size_t i = 0; i < n; ++i) out[i] = Complex{1.0, 0.0} / z[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = parallel_reciprocal(z[i]);
    }
}

// sum[i] = sum[i] + parallel_reciprocal(z[i]) (from 0 + 0j for the first
// term), keeping the reciprocals in `kept` when there is one; without one,
// dividing and adding share a pass.
VORLANE_KERNEL
void add_reciprocals(Complex* sum, const Complex* z, Complex* kept, std::size_t n, bool first) {
    if (kept != nullptr) {
        reciprocals(z, kept, n);
        accumulate(sum, kept, n, first);
    } else if (!plain_reciprocals(z, n)) {
        for (std::size_t i = 0; i < n; ++i) sum[i] = (first ? ZERO : sum[i]) + parallel_reciprocal(z[i]);
    } else if (first) {
        for (std::size_t i = 0; i < n; ++i) sum[i] = ZERO + Complex{1.0, 0.0} / z[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) sum[i] = sum[i] + Complex{1.0, 0.0} / z[i];
    }
}

// A leaf's values from its shapes: the impedance, or the admittance, taken
// from the impedance at the points where the direct one is not usable.
void finish_leaf(Kind kind, bool admittance, const double* params, const double* omega, std::size_t n,
                 const ElementShape* shapes, Complex* out) {
    if (!admittance) {
        element_finish(kind, params, omega, n, shapes, out);
        return;
    }
    if (element_admittance(kind, params, omega, n, shapes, out)) return;
    for (std::size_t i = 0; i < n; ++i) {
        if (direct_admittance_usable(out[i])) continue;
        element_finish(kind, params, omega + i, 1, shapes + i, out + i);
        out[i] = parallel_reciprocal(out[i]);
    }
}

// Fills `entry` with a leaf computed afresh.
const Complex* compute_leaf(BlockLeaf& entry, Kind kind, bool admittance, const double* params, const double* omega,
                            const double* log_omega, std::size_t n) {
    entry.kind = kind;
    entry.admittance = admittance;
    std::copy_n(params, kind_info(kind).count, entry.params.begin());
    element_shapes(kind, params, omega, n, entry.shapes.data(), log_omega);
    finish_leaf(kind, admittance, params, omega, n, entry.shapes.data(), entry.values.data());
    return entry.values.data();
}

bool same_leaf(const BlockLeaf& entry, Kind kind, bool admittance, const double* params) {
    return entry.kind == kind && entry.admittance == admittance &&
           same_bits(entry.params.data(), params, kind_info(kind).count);
}

// Walks one block. The policy supplies each leaf's run given its kind and
// parameters (in layout order; an admittance for the only leaf of a branch
// that a parallel node takes directly), may supply the run of a parallel node or of
// a branch's reciprocal instead of its walk (`reuse`), and may keep the runs
// the walk computes (`enter` before the subtree, `leave` after it returning
// where to keep its run, or nothing). Parallel nodes nested deeper than the
// parser allows are evaluated point by point, which bounds the scratch and
// keeps the recursion no deeper than the one-frequency walk's.
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
                add_leaf(kind, false, read_leaf_params(cursor_, kind_info(kind).count, spare_params_), sum, first);
            } else if (depth < MAX_PARALLEL_DEPTH) {
                parallel(*node.parallel(), depth, sum, first);
            } else {
                parallel_per_point(*node.parallel(), sum, first);
            }
            first = false;
        }
    }

private:
    // A leaf's run added to `sum`: by the policy in one pass where it can,
    // else from the run it supplies.
    void add_leaf(Kind kind, bool admittance, const double* params, Complex* sum, bool first) {
        if constexpr (requires(const double* log_omega) {
                          policy_.add_leaf(kind, admittance, params, omega_, log_omega, n_, sum, first);
                      }) {
            policy_.add_leaf(kind, admittance, params, omega_, logs(kind), n_, sum, first);
        } else {
            run_kernel<accumulate>(sum, policy_.leaf(kind, admittance, params, omega_, logs(kind), n_), n_, first);
        }
    }

    // ln omega of the block for a kind that takes it, fetched once per walk.
    const double* logs(Kind kind) {
        if (!uses_log_omega(kind)) return nullptr;
        if (log_omega_ == nullptr) log_omega_ = scratch_.log_omega(omega_, n_);
        return log_omega_;
    }

    void parallel(const ParallelNode& node, std::size_t depth, Complex* sum, bool first) {
        if (const Complex* kept = policy_.reuse(&node, cursor_)) {
            run_kernel<accumulate>(sum, kept, n_, first);
            return;
        }
        const std::size_t token = policy_.enter(&node, cursor_);
        BlockScratch::Level& level = scratch_.level(depth);
        Complex* admittance = level.admittance.data();
        Complex* branch = level.branch.data();
        if (node.branches.empty()) std::fill_n(admittance, n_, ZERO);
        bool first_branch = true;
        for (const SeriesList& nodes : node.branches) {
            if (const Leaf* leaf = direct_admittance_leaf(nodes)) {
                const Kind kind = leaf->element.kind;
                add_leaf(kind, true, read_leaf_params(cursor_, kind_info(kind).count, spare_params_), admittance,
                         first_branch);
            } else if (const Complex* kept = policy_.reuse(&nodes, cursor_)) {
                run_kernel<accumulate>(admittance, kept, n_, first_branch);
            } else {
                const std::size_t branch_token = policy_.enter(&nodes, cursor_);
                series(nodes, depth + 1, branch);
                run_kernel<add_reciprocals>(admittance, branch, policy_.leave(branch_token, cursor_), n_, first_branch);
            }
            first_branch = false;
        }
        run_kernel<add_reciprocals>(sum, admittance, policy_.leave(token, cursor_), n_, first);
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
    const double* log_omega_ = nullptr;
    std::array<double, MAX_ELEMENT_PARAMS> spare_params_{};
};

template <class Policy>
void walk(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
          Complex* out, Policy& policy, BlockScratch& scratch) {
    BlockWalk<Policy> block(params, omega, n, policy, scratch);
    block.series(nodes, 0, out);
}

// Keeps no subtree.
struct NoSubtrees {
    const Complex* reuse(const void*, ParamCursor&) const { return nullptr; }
    std::size_t enter(const void*, const ParamCursor&) const { return 0; }
    Complex* leave(std::size_t, const ParamCursor&) const { return nullptr; }
};

// A leaf that is not kept.
const Complex* compute_spare(Complex* spare, Kind kind, bool admittance, const double* params, const double* omega,
                             const double* log_omega, std::size_t n) {
    if (!admittance) {
        element_impedance_block(kind, params, omega, n, spare, log_omega);
        return spare;
    }
    std::array<ElementShape, IMPEDANCE_BLOCK> shapes;
    element_shapes(kind, params, omega, n, shapes.data(), log_omega);
    finish_leaf(kind, true, params, omega, n, shapes.data(), spare);
    return spare;
}

// The plain walk; its leaves stay on the scratch as its most recent ones.
// Only leaves with shapes are kept whole, since only theirs are copied
// later; every leaf leaves its kind, so that an entry never passes for a
// leaf other than its own. A constant admittance (an R in a parallel node)
// is added to the sum straight away.
struct Plain : NoSubtrees {
    BlockEntries<BlockLeaf>& recent;
    Complex* spare;

    void add_leaf(Kind kind, bool admittance, const double* params, const double* omega, const double* log_omega,
                  std::size_t n, Complex* sum, bool first) {
        BlockLeaf* entry = recent.push();
        if (entry != nullptr && admittance && n != 0 && has_constant_admittance(kind)) {
            const Complex y = element_admittance_at(kind, params, omega[0]);
            if (direct_admittance_usable(y)) {
                entry->kind = kind;
                entry->admittance = true;
                run_kernel<add_constant>(sum, y, n, first);
                return;
            }
        }
        if (entry == nullptr || admittance) {
            run_kernel<accumulate>(sum, leaf(entry, kind, admittance, params, omega, log_omega, n), n, first);
            return;
        }
        entry->kind = kind;
        entry->admittance = false;
        if (shape_params(kind) == 0) {
            element_finish_add(kind, params, omega, n, nullptr, sum, first, nullptr);
            return;
        }
        std::copy_n(params, kind_info(kind).count, entry->params.begin());
        element_shapes(kind, params, omega, n, entry->shapes.data(), log_omega);
        element_finish_add(kind, params, omega, n, entry->shapes.data(), sum, first, entry->values.data());
    }

    const Complex* leaf(BlockLeaf* entry, Kind kind, bool admittance, const double* params, const double* omega,
                        const double* log_omega, std::size_t n) {
        if (entry == nullptr) return compute_spare(spare, kind, admittance, params, omega, log_omega, n);
        return compute_leaf(*entry, kind, admittance, params, omega, log_omega, n);
    }
};

struct Record {
    static constexpr std::size_t NOT_KEPT = static_cast<std::size_t>(-1);

    BlockEntries<BlockLeaf>& leaves;
    BlockEntries<BlockSubtree>& subtrees;
    const BlockEntries<BlockLeaf>* recent;  // the thread's, when on the same frequencies
    Complex* spare;

    // Copying pays only where computing costs library calls.
    const Complex* leaf(Kind kind, bool admittance, const double* params, const double* omega,
                        const double* log_omega, std::size_t n) {
        const std::size_t index = leaves.count;
        BlockLeaf* entry = leaves.push();
        if (entry == nullptr) return compute_spare(spare, kind, admittance, params, omega, log_omega, n);
        if (recent == nullptr || index >= recent->count || shape_params(kind) == 0 ||
            !same_leaf(recent->items[index], kind, admittance, params))
            return compute_leaf(*entry, kind, admittance, params, omega, log_omega, n);
        const BlockLeaf& known = recent->items[index];
        entry->kind = kind;
        entry->admittance = admittance;
        entry->params = known.params;
        std::copy_n(known.shapes.begin(), n, entry->shapes.begin());
        std::copy_n(known.values.begin(), n, entry->values.begin());
        return entry->values.data();
    }
    const Complex* reuse(const void*, ParamCursor&) const { return nullptr; }
    std::size_t enter(const void* subtree, const ParamCursor& cursor) {
        BlockSubtree* entry = subtrees.push();
        if (entry == nullptr) return NOT_KEPT;
        entry->subtree = subtree;
        entry->param_begin = cursor.pos;
        entry->leaves = leaves.count;
        return subtrees.count - 1;
    }
    Complex* leave(std::size_t index, const ParamCursor& cursor) {
        if (index == NOT_KEPT) return nullptr;
        BlockSubtree& entry = subtrees.items[index];
        entry.param_end = cursor.pos;
        entry.reusable = !cursor.exhausted;
        entry.leaves = leaves.count - entry.leaves;
        entry.entries = subtrees.count - index;
        return entry.values.data();
    }
};

// Walks leaf and subtree entries in the order the record made them.
struct Reuse : NoSubtrees {
    const std::vector<double>& params;
    const BlockEntries<BlockLeaf>& leaves;
    const BlockEntries<BlockSubtree>& subtrees;
    Complex* spare;
    std::size_t next_leaf = 0;
    std::size_t next_subtree = 0;

    const Complex* leaf(Kind kind, bool admittance, const double* values, const double* omega,
                        const double* log_omega, std::size_t n) {
        const std::size_t index = next_leaf++;
        if (index < leaves.count && leaves.items[index].kind == kind) {
            const BlockLeaf& entry = leaves.items[index];
            if (same_leaf(entry, kind, admittance, values)) return entry.values.data();
            if (shapes_match(entry, values)) {
                finish_leaf(kind, admittance, values, omega, n, entry.shapes.data(), spare);
                return spare;
            }
        }
        return compute_spare(spare, kind, admittance, values, omega, log_omega, n);
    }

    // A subtree that is not reused is walked, and the entries within it are
    // met in turn; one that is skips them.
    const Complex* reuse(const void* subtree, ParamCursor& cursor) {
        const std::size_t index = next_subtree++;
        if (index >= subtrees.count) return nullptr;
        const BlockSubtree& entry = subtrees.items[index];
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

    static bool shapes_match(const BlockLeaf& entry, const double* values) {
        const unsigned shaping = shape_params(entry.kind);
        for (std::size_t i = 0; i < kind_info(entry.kind).count; ++i) {
            if ((shaping >> i & 1U) != 0 && !same_bits(entry.params.data() + i, values + i, 1)) return false;
        }
        return true;
    }
};

}  // namespace

void block_impedance(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                     Complex* out) {
    BlockScratch& scratch = thread_scratch;
    for (std::size_t first = 0; first < n; first += IMPEDANCE_BLOCK) {
        const std::size_t count = std::min(IMPEDANCE_BLOCK, n - first);
        scratch.recent.count = 0;
        scratch.recent_n = count;
        std::copy_n(omega + first, count, scratch.recent_omega.begin());
        Plain plain{{}, scratch.recent, scratch.spare.data()};
        walk(nodes, params, omega + first, count, out + first, plain, scratch);
    }
}

BlockMemo::BlockMemo() : state_(std::make_unique<State>()) {}
BlockMemo::~BlockMemo() = default;
BlockMemo::BlockMemo(BlockMemo&&) noexcept = default;
BlockMemo& BlockMemo::operator=(BlockMemo&&) noexcept = default;

void BlockMemo::record(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                       Complex* out) {
    State& s = *state_;
    s.params.assign(params.begin(), params.end());
    s.leaves.count = 0;
    s.subtrees.count = 0;
    const BlockScratch& thread = thread_scratch;
    const bool same_frequencies = thread.recent_n == n && same_bits(thread.recent_omega.data(), omega, n);
    Record record{s.leaves, s.subtrees, same_frequencies ? &thread.recent : nullptr, s.scratch.spare.data()};
    walk(nodes, params, omega, n, out, record, s.scratch);
}

void BlockMemo::evaluate(const SeriesList& nodes, std::span<const double> params, const double* omega,
                         std::size_t n, Complex* out) const {
    State& s = *state_;
    Reuse reuse{{}, s.params, s.leaves, s.subtrees, s.scratch.spare.data()};
    walk(nodes, params, omega, n, out, reuse, s.scratch);
}

}  // namespace vorlane
