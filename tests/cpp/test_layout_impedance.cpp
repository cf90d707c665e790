#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "bit_compare.hpp"
#include "tree_builders.hpp"

namespace vorlane {
using test::same_bits;
using test::parsed;
using test::leaf;
using test::parallel;
using test::NaN;
using test::Inf;
namespace {


bool both_nan(Complex z) { return std::isnan(z.re) && std::isnan(z.im); }

TEST(Layout, ParsedNamesUnitsBoundsAndValues) {
    const auto tree = parsed("R0-(R1,CPE1)-Zarc1-Tlmq2");
    EXPECT_EQ(param_names(tree), (std::vector<std::string>{"R0.r", "R1.r", "CPE1.q", "CPE1.alpha", "Zarc1.r",
                                                           "Zarc1.tau_k", "Zarc1.gamma", "Tlmq2.r_ion", "Tlmq2.qs",
                                                           "Tlmq2.gamma"}));
    EXPECT_EQ(param_units(tree), (std::vector<std::string>{"ohm", "ohm", "ohm^-1*s^alpha", "-", "ohm", "s", "-",
                                                           "ohm", "F*s^(gamma-1)", "-"}));
    EXPECT_EQ(param_values(tree), (std::vector<double>{1, 1, 0.001, 0.8, 1, 0.001, 0.8, 1, 0.001, 0.8}));
    const auto bounds = param_bounds(tree);
    ASSERT_EQ(bounds.size(), 10u);
    EXPECT_EQ(bounds[3], (std::pair{0.0, 1.0}));
    EXPECT_EQ(bounds[5], (std::pair{1e-12, Inf}));
    EXPECT_EQ(param_count(tree), 10u);
}

TEST(Layout, AutomaticLabelsCountPerCanonicalNameAndSkipLabeledLeaves) {
    const SeriesList tree{leaf(Kind::R, {10}), leaf(Kind::R, {5}, "R0"),
                          parallel({{leaf(Kind::R, {100})}, {leaf(Kind::Cpe, {1e-5, 0.9})}}), leaf(Kind::Cpe, {1, 1})};
    EXPECT_EQ(param_names(tree),
              (std::vector<std::string>{"R0.r", "R0.r", "R1.r", "Cpe0.q", "Cpe0.alpha", "Cpe1.q", "Cpe1.alpha"}));
}

TEST(Layout, ParallelDepthCountsNestedLevels) {
    EXPECT_EQ(parallel_depth(SeriesList{}), 0u);
    EXPECT_EQ(parallel_depth(parsed("R0-W1")), 0u);
    EXPECT_EQ(parallel_depth(SeriesList{parallel({})}), 1u);
    EXPECT_EQ(parallel_depth(parsed("R0-(R1,C1)-(R2,(C2,(R3)))")), 3u);
    EXPECT_EQ(parallel_depth(parsed("((((R1))))-(C1)")), 4u);
}

TEST(Layout, MemberParamRangesFollowTheWrittenSeries) {
    using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
    EXPECT_EQ(member_param_ranges(parsed("L0-R0-(R1-W1,CPE1)-Wo2")), (Ranges{{0, 1}, {1, 1}, {2, 4}, {6, 2}}));
    EXPECT_EQ(member_param_ranges(parsed("(R1-(R2,CPE2),CPE1)")), (Ranges{{0, 6}}));
    EXPECT_TRUE(member_param_ranges(SeriesList{}).empty());
}

TEST(Layout, RebuildKeepsShapeLabelsAndOrder) {
    const auto tree = parsed("R0-(R1-W3,CPE1)-T2");
    std::vector<double> values(param_count(tree));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = 0.5 + static_cast<double>(i);
    const SeriesList rebuilt = rebuild_with_values(tree, values);
    EXPECT_EQ(param_values(rebuilt), values);
    EXPECT_EQ(param_names(rebuilt), param_names(tree));
    EXPECT_EQ(param_values(tree), param_values(parsed("R0-(R1-W3,CPE1)-T2")));
}

TEST(Layout, EmptyCircuitHasNoParametersAndZeroImpedance) {
    const SeriesList empty;
    EXPECT_EQ(param_count(empty), 0u);
    EXPECT_TRUE(param_names(empty).empty());
    EXPECT_TRUE(param_units(empty).empty());
    EXPECT_TRUE(param_bounds(empty).empty());
    EXPECT_TRUE(param_values(empty).empty());
    EXPECT_TRUE(rebuild_with_values(empty, {}).empty());
    for (double omega : {0.0, 1.0, -5.0, Inf, NaN}) EXPECT_TRUE(same_bits(impedance(empty, omega), {0.0, 0.0}));
}

TEST(Impedance, SeriesAndParallelCombination) {
    EXPECT_TRUE(same_bits(impedance(parsed("R0-(R1,C1)"), 1000.0), {1.5, -0.5}));
    const auto branch = parsed("R1-C2-W3");
    const SeriesList wrapped{parallel({branch})};
    for (double omega : {0.3, 40.0, 7e5}) {
        const Complex a = impedance(branch, omega);
        const Complex b = impedance(wrapped, omega);
        EXPECT_NEAR(a.re, b.re, 1e-13 * std::abs(a.re));
        EXPECT_NEAR(a.im, b.im, 1e-13 * std::abs(a.im));
    }
}

// A short branch (exactly 0) makes its node 0; open branches (infinite) drop
// out, and a node with nothing left is open; NaN still flows through.
TEST(Impedance, ParallelNodesWithShortAndOpenBranches) {
    const double inf = std::numeric_limits<double>::infinity();
    const auto node = [](std::vector<double> rs) {
        std::vector<SeriesList> branches;
        for (double r : rs) branches.push_back({leaf(Kind::R, {r})});
        return SeriesList{parallel(branches)};
    };
    const auto is = [](Complex z, double re) { return z.re == re && z.im == 0.0; };
    EXPECT_TRUE(is(impedance(node({0.0, 2.0}), 1.0), 0.0));
    EXPECT_TRUE(is(impedance(node({2.0, -0.0, inf}), 1.0), 0.0));
    EXPECT_TRUE(is(impedance(node({inf, 2.0}), 1.0), 2.0));
    EXPECT_TRUE(is(impedance(node({inf, inf}), 1.0), inf));
    EXPECT_TRUE(is(impedance(SeriesList{parallel({})}, 1.0), inf));
    EXPECT_TRUE(is(impedance(SeriesList{parallel({{}, {leaf(Kind::R, {1})}})}, 1.0), 0.0));
    EXPECT_TRUE(both_nan(impedance(node({std::nan(""), 2.0}), 1.0)));
    EXPECT_TRUE(both_nan(impedance(parsed("R0-C1"), 0.0)));
}

TEST(Impedance, StreamedParametersMatchTheLeavesBitForBit) {
    for (const char* text : {"R0-(R1,C1)", "R0-p(R1-W1,CPE1)-La2-L3", "Wo0-(Ws1,G2,(Gs3,K4))-Zarc5-Tlmq6-T7"}) {
        const auto tree = parsed(text);
        const auto values = param_values(tree);
        for (double omega : {1e-3, 2.0, 3e4, 0.0, -1.0}) {
            ParamCursor cursor{values.data(), values.size()};
            const Complex streamed = series_impedance_with_params(tree, cursor, omega);
            const Complex own = impedance(tree, omega);
            EXPECT_TRUE(same_bits(streamed, own) || (both_nan(streamed) && both_nan(own))) << text << " " << omega;
            EXPECT_EQ(cursor.pos, values.size());
            EXPECT_FALSE(cursor.exhausted);
        }
    }
}

TEST(Impedance, ShortStreamsReadNaNAndLongStreamsStopAtTheCount) {
    const auto tree = parsed("R0-CPE1-R2");
    const std::vector<double> longer{1, 1e-3, 0.8, 2, 99, 99};
    ParamCursor cursor{longer.data(), longer.size()};
    series_impedance_with_params(tree, cursor, 10.0);
    EXPECT_EQ(cursor.pos, 4u);
    EXPECT_FALSE(cursor.exhausted);
    for (std::size_t size : {0u, 1u, 2u, 3u}) {
        ParamCursor short_cursor{longer.data(), size};
        const Complex z = series_impedance_with_params(tree, short_cursor, 10.0);
        EXPECT_TRUE(short_cursor.exhausted) << size;
        EXPECT_TRUE(std::isnan(z.re)) << size;
    }
}

TEST(SpectrumImpedance, SequentialAndPooledEvaluationAgreeBitForBit) {
    const auto tree = parsed("R0-(R1,CPE1)-(R2-W2,C2)-T3");
    for (std::size_t n : {0u, 1u, 999u, 1000u, 4321u}) {
        std::vector<double> f(n);
        for (std::size_t i = 0; i < n; ++i) f[i] = std::pow(10.0, -2.0 + 7.0 * static_cast<double>(i) / 1000.0);
        if (n > 3) f[1] = 0.0, f[2] = -f[2], f[3] = NaN;
        const auto z = spectrum_impedance(tree, f);
        ASSERT_EQ(z.size(), n);
        for (std::size_t i = 0; i < n; ++i) {
            const Complex expected = impedance(tree, f[i] * TWO_PI);
            ASSERT_TRUE(same_bits(z[i], expected)) << n << " at " << i;
        }
    }
}

}  // namespace
}  // namespace vorlane
