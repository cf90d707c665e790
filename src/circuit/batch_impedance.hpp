// Impedance of a circuit tree over a block of frequencies at once.
//
// The tree is walked once per block instead of once per frequency: each leaf
// fills a run of values and each series list and parallel node combines
// whole runs. Every point still goes through exactly the arithmetic of the
// one-frequency walk (series sums from 0 + 0j in order, parallel nodes as
// the reciprocal of the in-order sum of branch reciprocals, parameters read
// afresh in layout order), so the results are bit-identical to it.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "circuit/tree.hpp"
#include "core/complex.hpp"

namespace vorlane {

// Frequencies per block: long enough to amortise the walk, short enough for
// the working set of a deep tree to stay in cache.
inline constexpr std::size_t IMPEDANCE_BLOCK = 64;

// out[i] = series_impedance_with_params(nodes, fresh cursor over params,
// omega[i]) for i < n, n <= IMPEDANCE_BLOCK. Values past the end of
// `params` read as NaN.
void block_impedance(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                     Complex* out);

// The values of one evaluated block, for later evaluations of the same tree
// on the same frequencies that change few parameters (the columns of a
// finite-difference Jacobian). A leaf's values depend only on its kind, its
// parameters and the frequencies, its shapes (see element_shapes) only on
// some of those parameters, and the values of a parallel node or of one of
// its branches only on that subtree and the parameters it reads; whatever
// matches the record bit for bit is taken from it, so the result stays
// bit-identical.
class BlockScratch;

class BlockMemo {
public:
    BlockMemo();
    ~BlockMemo();
    BlockMemo(BlockMemo&&) noexcept;
    BlockMemo& operator=(BlockMemo&&) noexcept;

    // block_impedance that also keeps the values of every leaf and subtree.
    void record(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                Complex* out);
    // block_impedance of the recorded tree on the recorded frequencies,
    // reusing whatever the new parameters leave unchanged.
    void evaluate(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                  Complex* out) const;

    using Run = std::array<Complex, IMPEDANCE_BLOCK>;
    struct LeafEntry {
        Kind kind;
        std::array<double, MAX_ELEMENT_PARAMS> params;
        std::array<ElementShape, IMPEDANCE_BLOCK> shapes;
        Run values;
    };
    // A parallel node (values: its impedance) or a branch of one (values:
    // the reciprocal of the branch impedance).
    struct SubtreeEntry {
        const void* subtree;
        std::size_t param_begin;
        std::size_t param_end;
        bool reusable;            // its parameters lay inside the vector
        std::size_t leaves;       // leaf entries within it
        std::size_t entries;      // subtree entries within it, itself included
        Run values;
    };

private:
    std::unique_ptr<BlockScratch> scratch_;  // its own, sparing its walks the thread's
    std::vector<double> params_;
    std::vector<LeafEntry> leaves_;        // layout order
    std::vector<SubtreeEntry> subtrees_;   // in the order they are entered
};

}  // namespace vorlane
