#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "circuit/batch_impedance.hpp"
#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/jacobian.hpp"
#include "bit_compare.hpp"
#include "tree_builders.hpp"

namespace vorlane {
using test::leaf;
using test::parallel;
namespace {

using Vec = std::vector<double>;
using test::Inf;
using test::NaN;
using test::same_value;
using test::Tiny;

// Ordinary decades plus every value a caller may hand in: zeros of both
// signs, negative, subnormal, huge, infinite and NaN. Longer than one run.
Vec hostile_omegas() {
    Vec w;
    for (int i = 0; i < 120; ++i) w.push_back(std::pow(10.0, -4.0 + 11.0 * i / 119.0));
    for (double v : {0.0, -0.0, -1.0, -1e4, Tiny, 1e-310, 1e300, Inf, -Inf, NaN, 1.0, 1.0}) w.push_back(v);
    return w;
}

// A typical parameter set, then each parameter replaced in turn by the
// values that select special cases: exponents 1, 0.5 and 0, zeros, signs,
// extremes, infinity and NaN.
std::vector<std::array<double, 4>> parameter_sets() {
    const std::array<double, 4> typical{2.5, 3e-3, 0.7, 0.4};
    std::vector<std::array<double, 4>> sets{typical};
    for (std::size_t i = 0; i < 4; ++i) {
        for (double v : {1.0, 0.5, 0.0, -0.0, -2.0, 1e-300, 1e300, 5000.0, Inf, NaN}) {
            std::array<double, 4> p = typical;
            p[i] = v;
            sets.push_back(p);
        }
    }
    return sets;
}

class KindRuns : public ::testing::TestWithParam<Kind> {};

TEST_P(KindRuns, RunsMatchTheOnePointFormulaBitForBit) {
    const Kind kind = GetParam();
    const Vec omega = hostile_omegas();
    std::vector<Complex> out(omega.size());
    for (const auto& p : parameter_sets()) {
        element_impedance_block(kind, p.data(), omega.data(), omega.size(), out.data());
        for (std::size_t i = 0; i < omega.size(); ++i) {
            ASSERT_TRUE(same_value(out[i], element_impedance(kind, p.data(), omega[i])))
                << kind_info(kind).canonical << " omega " << omega[i] << " p " << p[0] << "," << p[1] << ","
                << p[2] << "," << p[3];
        }
    }
}

// A shape kept from one parameter set and finished with another that only
// differs outside shape_params must give the fresh result.
TEST_P(KindRuns, ShapesDependOnlyOnTheirFlaggedParameters) {
    const Kind kind = GetParam();
    const Vec omega = hostile_omegas();
    std::vector<ElementShape> shapes(omega.size());
    std::vector<Complex> out(omega.size());
    for (const auto& p : parameter_sets()) {
        element_shapes(kind, p.data(), omega.data(), omega.size(), shapes.data());
        for (std::size_t j = 0; j < kind_info(kind).count; ++j) {
            if ((shape_params(kind) >> j & 1U) != 0) continue;
            std::array<double, 4> changed = p;
            changed[j] = 3.0 * p[j] + 1.0;
            element_finish(kind, changed.data(), omega.data(), omega.size(), shapes.data(), out.data());
            for (std::size_t i = 0; i < omega.size(); ++i)
                ASSERT_TRUE(same_value(out[i], element_impedance(kind, changed.data(), omega[i])))
                    << kind_info(kind).canonical << " parameter " << j << " omega " << omega[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, KindRuns,
                         ::testing::Values(Kind::R, Kind::C, Kind::L, Kind::La, Kind::Cpe, Kind::W, Kind::Wo,
                                           Kind::Ws, Kind::G, Kind::Gs, Kind::K, Kind::Zarc, Kind::Tlmq, Kind::T),
                         [](const auto& info) { return std::string(kind_info(info.param).canonical); });

// Runs share cos and sin of the angle of s^p on the positive imaginary axis;
// that is exact only because the library returns these values exactly.
TEST(KindRuns, LibraryIdentitiesOnThePositiveImaginaryAxis) {
    for (double y : {Tiny, 1e-310, 2.2250738585072014e-308, 1e-12, 0.3, 1.0, 6.283185307179586, 1e6, 1e300,
                     std::numeric_limits<double>::max(), Inf}) {
        EXPECT_TRUE(same_value(std::hypot(0.0, y), y)) << y;
        EXPECT_TRUE(same_value(std::atan2(y, 0.0), 1.5707963267948966)) << y;
    }
}

// depth nested parallel nodes, each with a resistor beside the next level.
SeriesList nested(std::size_t depth) {
    SeriesList inner{leaf(Kind::Cpe, {1e-3, 0.8})};
    for (std::size_t d = 0; d < depth; ++d)
        inner = SeriesList{leaf(Kind::R, {1.0 + static_cast<double>(d)}), parallel({inner, {leaf(Kind::C, {2e-3})}})};
    return inner;
}

std::string chain_of_rc(std::size_t count) {
    std::string text = "R0";
    for (std::size_t i = 1; i <= count; ++i) text += "-(R" + std::to_string(i) + ",C" + std::to_string(i) + ")";
    return text;
}

struct TreeCase {
    std::string name;
    SeriesList nodes;
};

std::vector<TreeCase> trees() {
    std::vector<TreeCase> t;
    for (const char* text : {"R0-(R1,C1)", "R0-(R1,CPE1)-(R2-Wo2,CPE2)", "L0-La1-(W2,(Ws3,G4),Gs5)-K6-Zarc7-Tlmq8-T9",
                             "((((R1))))-(C1)", "(R1-(C2,(L3-W4,CPE5)),R6-Zarc7)-(T8,Tlmq9)"}) {
        t.push_back({text, *parse(text)});
    }
    t.push_back({"empty", {}});
    t.push_back({"no branches", {leaf(Kind::R, {1}), parallel({})}});
    t.push_back({"empty branch", {parallel({{leaf(Kind::R, {1})}, {}})}});
    t.push_back({"wide", *parse(chain_of_rc(600))});  // more leaves and subtrees than a memo keeps
    t.push_back({"nested 256", nested(MAX_PARALLEL_DEPTH)});
    t.push_back({"nested 300", nested(MAX_PARALLEL_DEPTH + 44)});
    return t;
}

// The tree's own values, a random set, its prefixes of up to eleven values
// (short vectors read NaN past their end) and a longer vector.
std::vector<Vec> parameter_vectors(const SeriesList& nodes) {
    const Vec own = param_values(nodes);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> factor(0.3, 3.0);
    Vec scattered = own;
    for (double& v : scattered) v *= factor(rng);
    std::vector<Vec> all{own, scattered};
    for (std::size_t size = 0; size < own.size() && size < 12; ++size) all.emplace_back(own.begin(), own.begin() + size);
    Vec longer = own;
    longer.insert(longer.end(), {NaN, 5.0});
    all.push_back(longer);
    return all;
}

void expect_one_point_results(const SeriesList& nodes, const Vec& params, const double* omega, std::size_t n,
                              const Complex* out, const std::string& what) {
    for (std::size_t i = 0; i < n; ++i) {
        const Complex expected = impedance_with_params(nodes, params, omega[i]);
        ASSERT_TRUE(same_value(out[i], expected)) << what << " " << params.size() << " values, omega " << omega[i];
    }
}

TEST(BlockImpedance, MatchesTheOneFrequencyWalkOnEveryTree) {
    const Vec omega = hostile_omegas();
    for (const TreeCase& tree : trees()) {
        for (const Vec& params : parameter_vectors(tree.nodes)) {
            std::vector<Complex> out(omega.size());
            block_impedance(tree.nodes, params, omega.data(), omega.size(), out.data());
            expect_one_point_results(tree.nodes, params, omega.data(), omega.size(), out.data(), tree.name);
        }
    }
}

TEST(BlockImpedance, DegenerateTreesKeepTheirIeeeResults) {
    const double omega[] = {1.0, 100.0};
    std::array<Complex, IMPEDANCE_BLOCK> out;
    block_impedance({}, {}, omega, 2, out.data());
    EXPECT_TRUE(same_value(out[0], {0.0, 0.0}));
    // No branch is an open circuit; an empty branch is a wire that shorts the node.
    const SeriesList open{parallel({})};
    block_impedance(open, param_values(open), omega, 2, out.data());
    EXPECT_TRUE(same_value(out[1], {INFINITY, 0.0}));
    const SeriesList shorted{parallel({{leaf(Kind::R, {1})}, {}})};
    block_impedance(shorted, param_values(shorted), omega, 2, out.data());
    EXPECT_TRUE(same_value(out[1], {0.0, 0.0}));
}

// Whatever the memo reuses, the result is the fresh evaluation's. The
// record follows a plain evaluation on the same frequencies where every
// third parameter differs, so it copies some leaves and computes others.
TEST(BlockMemo, EvaluationsAfterARecordMatchFreshOnes) {
    const Vec omega = hostile_omegas();
    const std::size_t n = IMPEDANCE_BLOCK;
    const std::size_t first = omega.size() - n;  // the block with the hostile frequencies
    for (const TreeCase& tree : trees()) {
        const Vec base = param_values(tree.nodes);
        Vec earlier = base;
        for (std::size_t j = 0; j < earlier.size(); j += 3) earlier[j] *= 1.5;
        BlockMemo memo;
        std::array<Complex, IMPEDANCE_BLOCK> out;
        block_impedance(tree.nodes, earlier, omega.data() + first, n, out.data());
        memo.record(tree.nodes, base, omega.data() + first, n, out.data());
        expect_one_point_results(tree.nodes, base, omega.data() + first, n, out.data(), tree.name);
        std::vector<Vec> trials = parameter_vectors(tree.nodes);
        // Sixteen parameters spread over the vector, each to a nearby value,
        // NaN and the special exponent 0.5.
        for (std::size_t k = 0; k < 16 && k < base.size(); ++k) {
            const std::size_t j = k * base.size() / std::min<std::size_t>(16, base.size());
            for (double v : {base[j] * (1.0 + 1e-6), NaN, 0.5}) {
                Vec changed = base;
                changed[j] = v;
                trials.push_back(changed);
            }
        }
        for (const Vec& trial : trials) {
            memo.evaluate(tree.nodes, trial, omega.data() + first, n, out.data());
            expect_one_point_results(tree.nodes, trial, omega.data() + first, n, out.data(), tree.name);
        }
    }
}

// A plain walk keeps only the leaves with shapes whole. A record must not
// take a leaf from an older walk on other frequencies that a later walk,
// whose leaf at that place had no shapes, left in place.
TEST(BlockMemo, ARecordNeverCopiesALeafOfOtherFrequencies) {
    const SeriesList cpe = *parse("CPE0-R1");
    const SeriesList resistor = *parse("R0-R1");
    const Vec params{1e-5, 0.8, 10.0};
    Vec older(IMPEDANCE_BLOCK), later(IMPEDANCE_BLOCK);
    for (std::size_t i = 0; i < IMPEDANCE_BLOCK; ++i) {
        older[i] = 3.0 + static_cast<double>(i);
        later[i] = 1000.0 + static_cast<double>(i);
    }
    std::array<Complex, IMPEDANCE_BLOCK> out;
    block_impedance(cpe, params, older.data(), IMPEDANCE_BLOCK, out.data());
    block_impedance(resistor, Vec{10.0, 10.0}, later.data(), IMPEDANCE_BLOCK, out.data());
    BlockMemo memo;
    memo.record(cpe, params, later.data(), IMPEDANCE_BLOCK, out.data());
    expect_one_point_results(cpe, params, later.data(), IMPEDANCE_BLOCK, out.data(), "CPE0-R1");
}

TEST(BlockImpedance, ThreadsWalkTheirOwnScratch) {
    const Vec omega = hostile_omegas();
    const auto all = trees();
    std::vector<std::thread> threads;
    std::vector<int> mismatches(all.size(), 0);
    for (std::size_t t = 0; t < all.size(); ++t) {
        threads.emplace_back([&, t] {
            const Vec params = param_values(all[t].nodes);
            std::array<Complex, IMPEDANCE_BLOCK> out;
            for (int round = 0; round < 5; ++round) {
                block_impedance(all[t].nodes, params, omega.data(), IMPEDANCE_BLOCK, out.data());
                for (std::size_t i = 0; i < IMPEDANCE_BLOCK; ++i)
                    mismatches[t] += !same_value(out[i], impedance_with_params(all[t].nodes, params, omega[i]));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (std::size_t t = 0; t < all.size(); ++t) EXPECT_EQ(mismatches[t], 0) << all[t].name;
}

// The central difference written out point by point with the one-frequency
// walk: the reference for every path the Jacobian may take.
Vec point_walk_column(const SeriesList& nodes, const Vec& p, std::size_t j, const Vec& omega,
                     const std::vector<Complex>& measured, const Vec& weights) {
    const double a = std::fabs(p[j]);
    const double h = 6.0554544523933395e-06 * (a > 1e-8 ? a : 1e-8);
    Vec forward = p, backward = p;
    forward[j] += h;
    backward[j] -= h;
    Vec c(2 * omega.size());
    for (std::size_t i = 0; i < omega.size(); ++i) {
        const Complex zp = impedance_with_params(nodes, forward, omega[i]);
        const Complex zm = impedance_with_params(nodes, backward, omega[i]);
        c[2 * i] = ((zp.re - measured[i].re) / weights[i] - (zm.re - measured[i].re) / weights[i]) / (h * 2.0);
        c[2 * i + 1] = ((zp.im - measured[i].im) / weights[i] - (zm.im - measured[i].im) / weights[i]) / (h * 2.0);
    }
    return c;
}

struct JacobianCase {
    std::string circuit;
    std::size_t points;
};

class JacobianPaths : public ::testing::TestWithParam<JacobianCase> {};

// Inline, over the pool by spectrum length, and over the pool split into
// column runs of few blocks: all give the reference bit for bit.
TEST_P(JacobianPaths, ColumnsMatchTheOnePointReference) {
    const SeriesList nodes = *parse(GetParam().circuit);
    Vec p = param_values(nodes);
    for (std::size_t j = 0; j < p.size(); ++j) p[j] *= 1.0 + 0.1 * static_cast<double>(j % 7);
    const std::size_t n = GetParam().points;
    Vec omega(n), weights(n);
    std::vector<Complex> measured(n);
    for (std::size_t i = 0; i < n; ++i) {
        omega[i] = std::pow(10.0, -2.0 + 7.0 * static_cast<double>(i) / static_cast<double>(n));
        measured[i] = impedance_with_params(nodes, param_values(nodes), omega[i]);
        weights[i] = std::hypot(measured[i].re, measured[i].im);
    }
    omega[n / 2] = 0.0;  // NaN rows flow through
    EvalCounter counter;
    const auto columns = jacobian_columns(nodes, p, omega, measured, weights, counter);
    ASSERT_EQ(columns.size(), p.size());
    EXPECT_EQ(counter.value(), 2 * p.size());
    // Every column of small circuits; a spread of columns of large ones.
    const std::size_t stride = p.size() > 20 ? 7 : 1;
    for (std::size_t j = 0; j < p.size(); j += stride) {
        const Vec expected = point_walk_column(nodes, p, j, omega, measured, weights);
        ASSERT_EQ(columns[j].size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k)
            ASSERT_TRUE(same_value(columns[j][k], expected[k]))
                << "column " << j << " row " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, JacobianPaths,
                         ::testing::Values(JacobianCase{"R0-(R1,CPE1)-(R2-Wo2,CPE2)", 1},
                                           JacobianCase{"R0-(R1,CPE1)-(R2-Wo2,CPE2)", 65},
                                           JacobianCase{"R0-(R1,CPE1)-(R2-Wo2,CPE2)", 1500},
                                           JacobianCase{chain_of_rc(60), 420}),
                         [](const auto& info) {
                             return std::to_string(info.param.points) + "points" +
                                    std::to_string(info.param.circuit.size()) + "chars";
                         });

}  // namespace
}  // namespace vorlane
