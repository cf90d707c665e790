// Starts with two arcs' values traded.
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
        // CPE takes the other arc's time constant: C1 = tau_rq / R1' and
        // q2 = (R1 C1)^alpha2 / R2' for the first pair, q2 = (R3 C3)^alpha2 / R2'
        // and C3 = tau_rq / R3' for the last.
        {"(R1,C1)-(R2,CPE2)-(R3-W3,C3)",
         {{3, tau_rq / 3.0, 1, 32, 5, 6, 7, 8},
          {6, 8, 3, 4, 5, 1, 7, 2},
          {1, 2, 6, std::pow(48.0, 5.0) / 6.0, 5, 3, 7, tau_rq / 3.0}}},
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

}  // namespace vorlane
