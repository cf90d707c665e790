// Linear least squares for dense problems with few columns.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace vorlane {

// An allocator whose containers leave new elements uninitialised unless a
// value is given: a matrix of many rows that its maker fills anyway is then
// not first cleared in one long, uninterruptible pass.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A dense matrix stored column by column.
struct ColumnMatrix {
    std::size_t rows = 0;
    std::size_t cols = 0;
    // rows * cols, column j at [j * rows, (j + 1) * rows)
    std::vector<double, UninitialisedAllocator<double>> values;

    // All entries zero.
    ColumnMatrix(std::size_t r, std::size_t c) : rows(r), cols(c), values(r * c, 0.0) {}
    // Entries unspecified: for a maker that writes every one.
    static ColumnMatrix unfilled(std::size_t r, std::size_t c) { return ColumnMatrix(r, c, Unfilled{}); }
    double& at(std::size_t i, std::size_t j) { return values[j * rows + i]; }
    double at(std::size_t i, std::size_t j) const { return values[j * rows + i]; }

private:
    struct Unfilled {};
    ColumnMatrix(std::size_t r, std::size_t c, Unfilled) : rows(r), cols(c), values(r * c) {}
};

// The x of least norm among those minimising |a x - b|, for rows >= cols and
// finite entries. Singular values below eps * max(rows, cols) times the
// largest count as zero, so rank-deficient problems give the same answer as
// a pseudo-inverse. Householder QR reduces the problem to the triangular
// factor, whose singular value decomposition comes from one-sided Jacobi
// rotations (Hestenes), accurate to the small singular values and
// deterministic, with a fixed rotation order. Columns of very different
// sizes should be scaled by the caller: the cut-off is relative.
std::vector<double> solve_least_squares(ColumnMatrix a, std::vector<double> b);

// min |a x - b|^2 from Householder reflections alone, without solving: the
// squares of what Q^T b holds below the rank. A column whose remaining norm
// is negligible beside its full norm depends on the columns before it and
// is skipped, so nearly dependent columns do not disturb the sum. `a` and
// `b` are overwritten.
double least_squares_residual(ColumnMatrix& a, std::vector<double>& b);

}  // namespace vorlane
