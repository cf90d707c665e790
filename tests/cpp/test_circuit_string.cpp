#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "circuit/circuit_string.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"

namespace vorlane {
namespace {

struct Written {
    std::string parsed;
    std::string written;
};

class CircuitStringOfParsed : public ::testing::TestWithParam<Written> {};

TEST_P(CircuitStringOfParsed, GivesTheTextBackAndParsesToTheSameNames) {
    const auto tree = parse(GetParam().parsed);
    ASSERT_TRUE(tree.has_value());
    const std::string text = circuit_string(*tree);
    EXPECT_EQ(text, GetParam().written);
    const auto again = parse(text);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(param_names(*again), param_names(*tree));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CircuitStringOfParsed,
    ::testing::Values(Written{"R0", "R0"}, Written{"R0-(R1,C1)", "R0-(R1,C1)"},
                      Written{"R0-p(R1,CPE1)", "R0-(R1,CPE1)"}, Written{"((R1))", "((R1))"},
                      Written{"CPE1-Cpe1-R01-R1", "CPE1-Cpe1-R01-R1"},
                      Written{"L0-R0-(R1-(R2,C2)-Wo3,p(T4,TLMQ5))-Zarc6", "L0-R0-(R1-(R2,C2)-Wo3,(T4,TLMQ5))-Zarc6"}));

TEST(CircuitString, UnlabeledLeavesTakeTheirAutomaticLabels) {
    // R(1) - (R(2), Cpe - C), as composed from element objects.
    SeriesList nodes;
    nodes.push_back(Node{Leaf{Element::from_values(Kind::R, std::array{1.0}.data()), std::nullopt}});
    ParallelNode group;
    group.branches.push_back(SeriesList{Node{Leaf{Element::from_values(Kind::R, std::array{2.0}.data()), std::nullopt}}});
    group.branches.push_back(SeriesList{
        Node{Leaf{Element::from_values(Kind::Cpe, std::array{1.0, 0.5}.data()), std::nullopt}},
        Node{Leaf{Element::from_values(Kind::C, std::array{1e-3}.data()), std::string("C7")}}});
    nodes.push_back(Node{std::move(group)});
    EXPECT_EQ(circuit_string(nodes), "R0-(R1,Cpe0-C7)");
    EXPECT_EQ(param_names(*parse(circuit_string(nodes))), param_names(nodes));
}

TEST(CircuitString, ShapesNoStringCanHoldAreWrittenAsTheyAre) {
    EXPECT_EQ(circuit_string(SeriesList{}), "");
    EXPECT_EQ(circuit_string(SeriesList{Node{ParallelNode{}}}), "()");
    EXPECT_EQ(circuit_string(SeriesList{Node{ParallelNode{{SeriesList{}, SeriesList{}}}}}), "(,)");
}

}  // namespace
}  // namespace vorlane
