// MINPACK enorm.
//
// Contract: the Euclidean norm of x, computed in three sums (small,
// intermediate and large components, split at rdwarf and rgiant / n) so that
// no square overflows or underflows destructively. A NaN component makes the
// norm NaN; an infinite one makes it infinite or NaN.
//
// Where every component is zero or intermediate (the usual case) the three
// sums reduce to the plain left-to-right sum of squares: the small and large
// sums stay zero and the result is sqrt(s2 * (1 + 0)) = sqrt(s2), bit for
// bit. A first pass without branches takes that sum and notes whether any
// component lies outside; only then are the three sums formed.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/magnitude_bits.hpp"
#include "fit/minpack_routines.hpp"

namespace vorlane::minpack {

namespace {

constexpr double RDWARF = 3.834e-20;
constexpr double RGIANT = 1.304e19;

double scaled_enorm(std::span<const double> x, double agiant) {
    double s1 = 0.0, s2 = 0.0, s3 = 0.0;
    double x1max = 0.0, x3max = 0.0;
    for (const double v : x) {
        const double xabs = std::fabs(v);
        if (xabs > RDWARF && xabs < agiant) {
            s2 += xabs * xabs;
        } else if (xabs <= RDWARF) {
            if (xabs > x3max) {
                const double ratio = x3max / xabs;
                s3 = 1.0 + s3 * (ratio * ratio);
                x3max = xabs;
            } else if (xabs != 0.0) {
                const double ratio = xabs / x3max;
                s3 += ratio * ratio;
            }
        } else {
            // Large components; NaN lands here too and poisons s1.
            if (xabs > x1max) {
                const double ratio = x1max / xabs;
                s1 = 1.0 + s1 * (ratio * ratio);
                x1max = xabs;
            } else {
                const double ratio = xabs / x1max;
                s1 += ratio * ratio;
            }
        }
    }
    if (s1 != 0.0) return x1max * std::sqrt(s1 + (s2 / x1max) / x1max);
    if (s2 != 0.0) {
        if (s2 >= x3max) return std::sqrt(s2 * (1.0 + (x3max / s2) * (x3max * s3)));
        return std::sqrt(x3max * ((s2 / x3max) + (x3max * s3)));
    }
    return x3max * std::sqrt(s3);
}

// Whether a component lies outside the intermediate range rdwarf < |v| <
// agiant, on the bits (NaN lies above); the unsigned difference wraps for
// the magnitudes below the range. Zero is not outside.
struct IntermediateRange {
    std::uint64_t first;
    std::uint64_t width;

    explicit IntermediateRange(double agiant)
        : first(magnitude_bits(RDWARF) + 1), width(magnitude_bits(agiant) - first) {}
    bool outside(double v) const {
        const std::uint64_t bits = magnitude_bits(v);
        return (bits != 0) & (bits - first >= width);
    }
};

// Columns handled side by side: their sums are independent, so the
// additions of several run at once while each keeps its own order.
constexpr std::size_t COLUMNS_AT_ONCE = 4;

}  // namespace

double enorm(std::span<const double> x) {
    const double agiant = RGIANT / static_cast<double>(x.size());
    const IntermediateRange range(agiant);
    double sum = 0.0;
    bool outside = false;
    for (const double v : x) {
        const double xabs = std::fabs(v);
        sum += xabs * xabs;
        outside |= range.outside(v);
    }
    return outside ? scaled_enorm(x, agiant) : std::sqrt(sum);
}

void column_norms(ColumnMajor a, std::size_t m, std::size_t n, std::span<double> norms) {
    const double agiant = RGIANT / static_cast<double>(m);
    const IntermediateRange range(agiant);
    for (std::size_t first = 0; first < n; first += COLUMNS_AT_ONCE) {
        const std::size_t count = std::min(COLUMNS_AT_ONCE, n - first);
        double sum[COLUMNS_AT_ONCE] = {};
        bool outside[COLUMNS_AT_ONCE] = {};
        for (std::size_t i = 0; i < m; ++i) {
            for (std::size_t c = 0; c < count; ++c) {
                const double v = a(i, first + c);
                const double xabs = std::fabs(v);
                sum[c] += xabs * xabs;
                outside[c] |= range.outside(v);
            }
        }
        for (std::size_t c = 0; c < count; ++c) {
            const std::span<const double> column(a.data + (first + c) * a.ld, m);
            norms[first + c] = outside[c] ? scaled_enorm(column, agiant) : std::sqrt(sum[c]);
        }
    }
}

}  // namespace vorlane::minpack
