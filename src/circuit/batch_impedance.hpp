// Impedance of a circuit tree over a block of frequencies at once.
//
// The tree is walked once per block instead of once per frequency: each leaf
// fills a run of values and each series list and parallel node combines
// whole runs. Every point still goes through exactly the arithmetic of the
// one-frequency walk (series sums from 0 + 0j in order, parallel nodes as
// the reciprocal of the in-order sum of branch admittances, a branch of one
// R, C or CPE giving its admittance directly, parameters read afresh in
// layout order), so the results are bit-identical to it.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "circuit/tree.hpp"
#include "core/complex.hpp"

namespace vorlane {

// Frequencies per block: long enough to amortise the walk, short enough for
// the working set of a deep tree to stay in cache.
inline constexpr std::size_t IMPEDANCE_BLOCK = 64;

// out[i] = series_impedance_with_params(nodes, fresh cursor over params,
// omega[i]) for i < n, walking IMPEDANCE_BLOCK frequencies at a time. Values
// past the end of `params` read as NaN.
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
class BlockMemo {
public:
    BlockMemo();
    ~BlockMemo();
    BlockMemo(BlockMemo&&) noexcept;
    BlockMemo& operator=(BlockMemo&&) noexcept;

    // block_impedance on one block, n <= IMPEDANCE_BLOCK, that also keeps
    // the values of every leaf and subtree.
    // Leaves the thread's last block_impedance computed on the same
    // frequencies with the same kind and parameters are copied from it.
    void record(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                Complex* out);
    // block_impedance of the recorded tree on the recorded frequencies,
    // reusing whatever the new parameters leave unchanged.
    void evaluate(const SeriesList& nodes, std::span<const double> params, const double* omega, std::size_t n,
                  Complex* out) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vorlane
