// Impedance of circuit trees: series sums, parallel reciprocals, spectra.
#include "circuit/impedance.hpp"

#include <array>
#include <limits>

#include "core/worker_pool.hpp"

namespace vorlane {
namespace {

// Indices per pool chunk: evaluating one frequency is cheap, so chunks must
// be long enough to outweigh the hand-over.
constexpr std::size_t SPECTRUM_GRAIN = 128;

// Parameters of one leaf from the cursor: a pointer into the vector when it
// holds enough values, otherwise the rest padded with NaN in `spare`.
const double* next_params(ParamCursor& cursor, std::size_t count,
                          std::array<double, MAX_ELEMENT_PARAMS>& spare) {
    const std::size_t available = cursor.pos < cursor.size ? cursor.size - cursor.pos : 0;
    if (available >= count) {
        const double* params = cursor.data + cursor.pos;
        cursor.pos += count;
        return params;
    }
    spare.fill(std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < available; ++i) spare[i] = cursor.data[cursor.pos + i];
    cursor.pos = cursor.size;
    cursor.exhausted = true;
    return spare.data();
}

// Shared walk of both variants; `leaf_impedance` supplies a leaf's value.
template <class LeafImpedance>
Complex series_sum(const SeriesList& nodes, LeafImpedance& leaf_impedance) {
    Complex sum{0.0, 0.0};
    for (const Node& node : nodes) {
        if (const Leaf* leaf = node.leaf()) {
            sum = sum + leaf_impedance(*leaf);
            continue;
        }
        // Unguarded on purpose: an empty branch or an empty node gives NaN.
        Complex admittance{0.0, 0.0};
        for (const SeriesList& branch : node.parallel()->branches)
            admittance = admittance + Complex{1.0, 0.0} / series_sum(branch, leaf_impedance);
        sum = sum + Complex{1.0, 0.0} / admittance;
    }
    return sum;
}

}  // namespace

Complex impedance(const SeriesList& nodes, double omega) {
    auto own = [omega](const Leaf& leaf) { return impedance(leaf.element, omega); };
    return series_sum(nodes, own);
}

Complex series_impedance_with_params(const SeriesList& nodes, ParamCursor& cursor, double omega) {
    std::array<double, MAX_ELEMENT_PARAMS> spare{};
    auto streamed = [&](const Leaf& leaf) {
        const Kind kind = leaf.element.kind;
        return element_impedance(kind, next_params(cursor, kind_info(kind).count, spare), omega);
    };
    return series_sum(nodes, streamed);
}

Complex impedance_with_params(const SeriesList& nodes, std::span<const double> params, double omega) {
    ParamCursor cursor{params.data(), params.size()};
    return series_impedance_with_params(nodes, cursor, omega);
}

std::vector<Complex> spectrum_impedance(const SeriesList& nodes, std::span<const double> frequencies_hz) {
    std::vector<Complex> out(frequencies_hz.size());
    auto evaluate = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) out[i] = impedance(nodes, frequencies_hz[i] * TWO_PI);
    };
    if (frequencies_hz.size() < PARALLEL_SPECTRUM_THRESHOLD) {
        evaluate(0, frequencies_hz.size());
    } else {
        pool::parallel_for(frequencies_hz.size(), SPECTRUM_GRAIN, evaluate);
    }
    return out;
}

}  // namespace vorlane
