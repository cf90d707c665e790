// Starts with two arcs' values traded, or one arc moved to an end of the window.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/arc_swaps.hpp"

namespace vorlane {

TEST(ArcSwaps, LeavesOfTheSameKindTradeValuesBetweenTwoArcs) {
    struct Case {
        const char* text;
        std::vector<std::vector<double>> expected;  // the values before: 1, 2, 3, ... in layout order
    };
    const double tau_rq = std::pow(12.0, 1.0 / 5.0);  // (R2 q2)^(1 / alpha2) with R2 = 3, q2 = 4, alpha2 = 5
    const std::vector<Case> cases = {
        // R and CPE trade, Wo stays.
        {"L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)", {{1, 2, 6, 9, 10, 3, 7, 8, 4, 5}}},
        // Only the capacitances have partners.
        {"(R1,C1)-(L2,C2)", {{1, 4, 3, 2}}},
        // Three different arcs: every pair, in layout order. A C facing a
        // CPE takes the other arc's time constant, and the CPE a
        // capacitance's with alpha2 = 0.99: C1 = tau_rq / R1' and
        // q2 = (R1 C1)^0.99 / R2' for the first pair, q2 = (R3 C3)^0.99 / R2'
        // and C3 = tau_rq / R3' for the last.
        {"(R1,C1)-(R2,CPE2)-(R3-W3,C3)",
         {{3, tau_rq / 3.0, 1, std::pow(2.0, 0.99), 0.99, 6, 7, 8},
          {6, 8, 3, 4, 5, 1, 7, 2},
          {1, 2, 6, std::pow(48.0, 0.99) / 6.0, 0.99, 3, 7, tau_rq / 3.0}}},
        // Identical arcs trade nothing; a single arc has no partner.
        {"R0-(R1,CPE1)-(R2,CPE2)-(R3,CPE3)", {}},
        {"R0-(R1,CPE1)-W2", {}},
        {"R0-(R1-(R2,CPE2),CPE1)", {}},
        {"L0-R0", {}},
    };
    for (const Case& c : cases) {
        const SeriesList nodes = parse(c.text).value();
        std::vector<double> values(param_count(nodes));
        std::iota(values.begin(), values.end(), 1.0);
        EXPECT_EQ(arc_swaps(nodes, values), c.expected) << c.text;
    }
}

TEST(ArcSwaps, TimeConstantsThatCannotBeTradedLeaveTheResistancesTraded) {
    // A zero resistance gives the CPE no finite value.
    const SeriesList nodes = parse("(R1,C1)-(R2,CPE2)").value();
    const std::vector<double> values{0.0, 2.0, 3.0, 4.0, 0.5};
    EXPECT_EQ(arc_swaps(nodes, values), (std::vector<std::vector<double>>{{3.0, 2.0, 0.0, 4.0, 0.5}}));
}

TEST(ArcSwaps, AWrongNumberOfValuesGivesNoStart) {
    const SeriesList nodes = parse("R0-(R1,C1)-(R2,CPE2)").value();
    EXPECT_TRUE(arc_swaps(nodes, std::vector<double>{1.0, 2.0}).empty());
}

TEST(ArcEdgeMoves, EachArcTakesTheTimeConstantOfEitherEndOfTheWindow) {
    // R1 = 2, C1 = 3; R3 = 5 (the first resistance of its member), CPE3 q = 7, alpha = 0.5.
    const SeriesList nodes = parse("R0-(R1,C1)-(R3-R4,CPE3)-W5").value();
    const std::vector<double> values{1.0, 2.0, 3.0, 5.0, 6.0, 7.0, 0.5, 9.0};
    const double low = 0.1, high = 1e4;
    const std::vector<std::vector<double>> moves = arc_edge_moves(nodes, values, low, high);
    ASSERT_EQ(moves.size(), 4u);
    auto with = [&](std::size_t index, double value) {
        std::vector<double> v = values;
        v[index] = value;
        return v;
    };
    EXPECT_EQ(moves[0], with(2, 1.0 / (low * 2.0)));
    EXPECT_EQ(moves[1], with(2, 1.0 / (high * 2.0)));
    // (R q)^(1 / alpha) = 1 / omega: q = omega^-alpha / R.
    EXPECT_EQ(moves[2], with(5, std::pow(1.0 / low, 0.5) / 5.0));
    EXPECT_EQ(moves[3], with(5, std::pow(1.0 / high, 0.5) / 5.0));
}

TEST(ArcEdgeMoves, ArcsWithoutAResistanceOrAFiniteValueGiveNoStart) {
    EXPECT_TRUE(arc_edge_moves(parse("R0-(L1,C1)-W2").value(), std::vector<double>{1.0, 2.0, 3.0, 4.0}, 1.0, 10.0)
                    .empty());
    EXPECT_TRUE(arc_edge_moves(parse("R0-(R1,C1)").value(), std::vector<double>{1.0, 0.0, 3.0}, 1.0, 10.0).empty());
    EXPECT_TRUE(arc_edge_moves(parse("R0-(R1,C1)").value(), std::vector<double>{1.0, 2.0}, 1.0, 10.0).empty());
}

TEST(ArcMovesTo, EachArcTakesTheResistanceTheTimeConstantAndTheExponentGiven) {
    // R1 = 2, C1 = 3; R3 = 5 (the first resistance of its member), CPE3 q = 7, alpha = 0.5.
    const SeriesList nodes = parse("R0-(R1,C1)-(R3-R4,CPE3)-W5").value();
    const std::vector<double> values{1.0, 2.0, 3.0, 5.0, 6.0, 7.0, 0.5, 9.0};
    const double r = 40.0, omega = 1e3, alpha = 0.9;
    const std::vector<std::vector<double>> moves = arc_moves_to(nodes, values, r, omega, alpha);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], (std::vector<double>{1.0, r, (1.0 / omega) / r, 5.0, 6.0, 7.0, 0.5, 9.0}));
    EXPECT_EQ(moves[1], (std::vector<double>{1.0, 2.0, 3.0, r, 6.0, std::pow(1.0 / omega, alpha) / r, alpha, 9.0}));
    EXPECT_TRUE(arc_moves_to(nodes, values, 0.0, omega, alpha).empty());
    // R1 C1 = 6: the first arc is already at omega = 1 / 6 and stays.
    const std::vector<std::vector<double>> near = arc_moves_to(nodes, values, r, 1.0 / 6.0 * 1.5, alpha);
    ASSERT_EQ(near.size(), 1u);
    EXPECT_EQ(near[0][2], values[2]);
}

TEST(DiffusionMovesTo, EachDiffusionElementTakesTheTimeKeepingItsWarburgCoefficient) {
    // Wo1: z0 = 2, tau = 3; Ws3: z0 = 5, tau = 0.05; W2 is no diffusion element with a time.
    const SeriesList nodes = parse("R0-Wo1-W2-Ws3").value();
    const std::vector<double> values{1.0, 2.0, 3.0, 4.0, 5.0, 0.05};
    const double tau = 300.0;
    const std::vector<std::vector<double>> moves = diffusion_moves_to(nodes, values, tau);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], (std::vector<double>{1.0, 2.0 * std::sqrt(tau / 3.0), tau, 4.0, 5.0, 0.05}));
    EXPECT_EQ(moves[1], (std::vector<double>{1.0, 2.0, 3.0, 4.0, 5.0 * std::sqrt(tau / 0.05), tau}));
    // Within half a decade of tau: Wo1 stays, only Ws3 moves.
    EXPECT_EQ(diffusion_moves_to(nodes, values, 6.0).size(), 1u);
    EXPECT_TRUE(diffusion_moves_to(nodes, std::vector<double>{1.0, 0.0, 3.0, 4.0, 5.0, 6.0}, tau).empty());
    EXPECT_TRUE(diffusion_moves_to(nodes, std::vector<double>{1.0, 2.0}, tau).empty());
}

TEST(BroadArcsSharpened, OnlyABroadCpeArcNearTheTopIsSharpenedAtTheTop) {
    // Arc 1: R1 = 4, C1 (no CPE). Arc 2: R3 = 2, CPE3 q = 5e-3, alpha 0.5, tau = (2 * 5e-3)^2 = 1e-4.
    // Arc 3: R5 = 1, CPE5 q = 1e-6, alpha 0.9 (not broad).
    const SeriesList nodes = parse("R0-(R1,C1)-(R3,CPE3)-(R5,CPE5)").value();
    const std::vector<double> values{1.0, 4.0, 1e-6, 2.0, 5e-3, 0.5, 1.0, 1e-6, 0.9};
    const double alpha = 0.9, below = 0.6;
    // The top of the window half a decade above 1 / tau.
    const double omega_high = 1e4 * std::sqrt(10.0);
    const std::vector<std::vector<double>> moves = broad_arcs_sharpened(nodes, values, omega_high, below, alpha);
    ASSERT_EQ(moves.size(), 1u);
    std::vector<double> expected = values;
    expected[4] = std::pow(1.0 / omega_high, alpha) / 2.0;
    expected[5] = alpha;
    EXPECT_EQ(moves[0], expected);
    // Two decades away from the top, or not broad: nothing.
    EXPECT_TRUE(broad_arcs_sharpened(nodes, values, 1e6, below, alpha).empty());
    EXPECT_TRUE(broad_arcs_sharpened(nodes, values, omega_high, 0.5, alpha).empty());
}

}  // namespace vorlane
