// Impedance of circuit trees: series sums, parallel reciprocals, spectra.
#include "circuit/impedance.hpp"

#include <algorithm>
#include <limits>

#include "circuit/batch_impedance.hpp"
#include "circuit/layout.hpp"
#include "core/cancellation.hpp"
#include "core/worker_pool.hpp"

namespace vorlane {
namespace {

// Indices per pool chunk: evaluating one frequency is cheap, so chunks must
// be long enough to outweigh the hand-over.
constexpr std::size_t SPECTRUM_GRAIN = 2 * IMPEDANCE_BLOCK;

template <class LeafImpedance>
Complex series_sum(const SeriesList& nodes, LeafImpedance& leaf_impedance);

template <class LeafImpedance>
Complex parallel_sum(const ParallelNode& node, LeafImpedance& leaf_impedance) {
    Complex admittance{0.0, 0.0};
    for (const SeriesList& branch : node.branches) {
        if (const Leaf* leaf = direct_admittance_leaf(branch)) {
            admittance = admittance + leaf_impedance.admittance(*leaf);
        } else {
            admittance = admittance + parallel_reciprocal(series_sum(branch, leaf_impedance));
        }
    }
    return parallel_reciprocal(admittance);
}

// Shared walk of both variants; `leaf_impedance` supplies a leaf's value.
template <class LeafImpedance>
Complex series_sum(const SeriesList& nodes, LeafImpedance& leaf_impedance) {
    Complex sum{0.0, 0.0};
    for (const Node& node : nodes) {
        if (const Leaf* leaf = node.leaf()) {
            sum = sum + leaf_impedance(*leaf);
        } else {
            sum = sum + parallel_sum(*node.parallel(), leaf_impedance);
        }
    }
    return sum;
}

// A leaf's impedance, or its admittance in a parallel node, from its own
// values.
struct OwnLeaf {
    double omega;

    Complex operator()(const Leaf& leaf) const { return impedance(leaf.element, omega); }
    Complex admittance(const Leaf& leaf) const { return leaf_admittance(leaf.element.kind, leaf.element.v.data(), omega); }
};

// The same with each leaf's parameters read from the cursor.
struct StreamedLeaf {
    ParamCursor& cursor;
    double omega;
    std::array<double, MAX_ELEMENT_PARAMS> spare{};

    Complex operator()(const Leaf& leaf) { return element_impedance(leaf.element.kind, next(leaf), omega); }
    Complex admittance(const Leaf& leaf) { return leaf_admittance(leaf.element.kind, next(leaf), omega); }

    const double* next(const Leaf& leaf) { return read_leaf_params(cursor, leaf.element.count(), spare); }
};

}  // namespace

const Leaf* direct_admittance_leaf(const SeriesList& branch) {
    if (branch.size() != 1) return nullptr;
    const Leaf* leaf = branch.front().leaf();
    return leaf != nullptr && has_direct_admittance(leaf->element.kind) ? leaf : nullptr;
}

Complex leaf_admittance(Kind kind, const double* params, double omega) {
    const Complex y = element_admittance_at(kind, params, omega);
    return direct_admittance_usable(y) ? y : parallel_reciprocal(element_impedance(kind, params, omega));
}

const double* read_leaf_params(ParamCursor& cursor, std::size_t count,
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

Complex impedance(const SeriesList& nodes, double omega) {
    OwnLeaf own{omega};
    return series_sum(nodes, own);
}

Complex series_impedance_with_params(const SeriesList& nodes, ParamCursor& cursor, double omega) {
    StreamedLeaf streamed{cursor, omega};
    return series_sum(nodes, streamed);
}

Complex parallel_impedance_with_params(const ParallelNode& node, ParamCursor& cursor, double omega) {
    StreamedLeaf streamed{cursor, omega};
    return parallel_sum(node, streamed);
}

Complex impedance_with_params(const SeriesList& nodes, std::span<const double> params, double omega) {
    ParamCursor cursor{params.data(), params.size()};
    return series_impedance_with_params(nodes, cursor, omega);
}

std::vector<Complex> spectrum_impedance(const SeriesList& nodes, std::span<const double> frequencies_hz) {
    std::vector<Complex> out(frequencies_hz.size());
    spectrum_impedance_into(nodes, frequencies_hz, out.data());
    return out;
}

void spectrum_impedance_into(const SeriesList& nodes, std::span<const double> frequencies_hz, Complex* out) {
    // The leaves' own values streamed in layout order give the same bits as
    // reading them from the leaves.
    const std::vector<double> params = param_values(nodes);
    auto evaluate = [&](std::size_t begin, std::size_t end) {
        std::array<double, IMPEDANCE_BLOCK> omega;
        for (std::size_t first = begin; first < end; first += IMPEDANCE_BLOCK) {
            if (poll_stop()) return;
            const std::size_t n = std::min(IMPEDANCE_BLOCK, end - first);
            for (std::size_t i = 0; i < n; ++i) omega[i] = frequencies_hz[first + i] * TWO_PI;
            block_impedance(nodes, params, omega.data(), n, out + first);
        }
    };
    if (frequencies_hz.size() < PARALLEL_SPECTRUM_THRESHOLD) {
        evaluate(0, frequencies_hz.size());
    } else {
        pool::parallel_for(frequencies_hz.size(), SPECTRUM_GRAIN, evaluate);
    }
}

}  // namespace vorlane
