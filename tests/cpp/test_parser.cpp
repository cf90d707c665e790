#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"

namespace vorlane {
namespace {

std::string first_line_of_failure(const std::string& text) {
    const auto result = parse(text);
    if (result) return "(parsed)";
    const std::string message = parse_error_message(result.error(), text);
    return message.substr(0, message.find('\n'));
}

struct Failure {
    std::string text;
    std::string first_line;
};

class ParseFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(ParseFailure, ReportsTheFirstErrorAtItsCharacterPosition) {
    EXPECT_EQ(first_line_of_failure(GetParam().text), GetParam().first_line) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ParseFailure,
    ::testing::Values(Failure{"", "unexpected end of input"}, Failure{"R", "unexpected character at position 1"},
                      Failure{"R1-", "unexpected end of input"},
                      Failure{"R1--C1", "unexpected character at position 3"},
                      Failure{"1R", "unexpected character at position 0"},
                      Failure{"-R1", "unexpected character at position 0"},
                      Failure{"P(R1,C1)", "unexpected character at position 1"},
                      Failure{"p1", "unknown element code \"p\" at position 0"},
                      Failure{"r0", "unknown element code \"r\" at position 0"},
                      Failure{"RC1", "unknown element code \"RC\" at position 0"},
                      Failure{"R0-cpe1", "unknown element code \"cpe\" at position 3"},
                      Failure{"R0 -C1", "unexpected trailing input at position 2"},
                      Failure{"R0,C1", "unexpected trailing input at position 2"},
                      Failure{"(R1)C1", "unexpected trailing input at position 4"},
                      Failure{"(R1;C1)", "unexpected end of input"}, Failure{"(R1,C1", "unexpected end of input"},
                      Failure{"p(", "unexpected end of input"}, Failure{"()", "unexpected character at position 1"},
                      Failure{"(R1,)", "unexpected character at position 4"},
                      Failure{"R1-R1", "duplicate element label \"R1\""},
                      Failure{"R1-(R2,R1)", "duplicate element label \"R1\""},
                      Failure{"Ω1", "unexpected character at position 0"},
                      Failure{"R1-Ω2", "unexpected character at position 3"},
                      Failure{"R1-\xff", "unexpected character at position 3"},
                      Failure{"R1-p(C1,Ω1)", "unexpected character at position 8"}));

TEST(ParseMessage, UnknownCodeHasEchoCaretAndHelp) {
    const auto result = parse("R0-(R1,X2)");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ParseError::Kind::UnknownCode);
    EXPECT_EQ(parse_error_message(result.error(), "R0-(R1,X2)"),
              "unknown element code \"X\" at position 7\n"
              "\n"
              "  R0-(R1,X2)\n"
              "         ^\n"
              "\n"
              "syntax:\n"
              "  - every element needs a numeric label, e.g. \"R0\" and \"C1\", not \"R\" and \"C\"\n"
              "  - connect elements in series with '-', e.g. \"R0-C1\"\n"
              "  - connect elements in parallel with '(...)' or 'p(...)', e.g. \"R0-(R1,C1)\" or \"R0-p(R1,C1)\"\n"
              "\n"
              "available elements (code, parameters, [units]):\n"
              "  R     r [ohm]\n"
              "  C     c [F]\n"
              "  L     l [H]\n"
              "  La    l [H*s], alpha [-]\n"
              "  CPE   q [ohm^-1*s^alpha], alpha [-]\n"
              "  W     aw [ohm*s^-0.5]\n"
              "  Wo    z0 [ohm], tau [s]\n"
              "  Ws    z0 [ohm], tau [s]\n"
              "  G     rg [ohm], tg [s]\n"
              "  Gs    rg [ohm], tg [s], phi [-]\n"
              "  K     r [ohm], tau_k [s]\n"
              "  Zarc  r [ohm], tau_k [s], gamma [-]\n"
              "  TLMQ  r_ion [ohm], qs [F*s^(gamma-1)], gamma [-]\n"
              "  T     a [ohm*m^2], b [ohm*m^2], k_tau [-], tau [s]");
}

TEST(ParseMessage, PositionlessErrorsHaveNoEcho) {
    for (const char* text : {"R1-(R2,R1)", "(R1"}) {
        const auto result = parse(text);
        ASSERT_FALSE(result);
        const std::string message = parse_error_message(result.error(), text);
        const std::string first = message.substr(0, message.find('\n'));
        EXPECT_TRUE(message.starts_with(first + "\n\nsyntax:\n")) << message;
    }
}

TEST(ParseMessage, CaretCountsCharactersNotBytes) {
    const std::string text = "R1-Ω2";
    const auto message = parse_error_message(parse(text).error(), text);
    EXPECT_NE(message.find("\n  R1-Ω2\n     ^\n"), std::string::npos) << message;
}

TEST(Parse, LabelsKeepTheTextAsWritten) {
    const auto tree = parse("CPE1-Cpe1-R01-R1-p(Zarc7,TLMQ0)");
    ASSERT_TRUE(tree);
    std::vector<std::string> labels;
    for (const Leaf* leaf : collect_leaves(*tree)) labels.push_back(*leaf->label);
    EXPECT_EQ(labels, (std::vector<std::string>{"CPE1", "Cpe1", "R01", "R1", "Zarc7", "TLMQ0"}));
    EXPECT_EQ(collect_leaves(*tree)[0]->element.kind, Kind::Cpe);
    EXPECT_EQ(collect_leaves(*tree)[5]->element.kind, Kind::Tlmq);
}

TEST(Parse, SingleBranchParenthesesStayParallelNodes) {
    const auto one = parse("(R1)");
    ASSERT_TRUE(one);
    ASSERT_EQ(one->size(), 1u);
    ASSERT_TRUE((*one)[0].parallel());
    EXPECT_EQ((*one)[0].parallel()->branches.size(), 1u);
    const auto nested = parse("((R1))");
    ASSERT_TRUE(nested);
    const auto& inner = (*nested)[0].parallel()->branches[0];
    ASSERT_EQ(inner.size(), 1u);
    ASSERT_TRUE(inner[0].parallel());
    EXPECT_TRUE(inner[0].parallel()->branches[0][0].leaf());
}

TEST(Parse, NestingIsCappedWithoutExhaustingTheStack) {
    const auto nest = [](std::string open, std::size_t depth) {
        std::string text;
        for (std::size_t i = 0; i < depth; ++i) text += open;
        text += "R1";
        return text + std::string(depth, ')');
    };
    EXPECT_EQ(parallel_depth(parse(nest("(", 256)).value()), MAX_PARALLEL_DEPTH);
    EXPECT_TRUE(parse(nest("p(", 256)));
    for (std::size_t depth : {257u, 100000u}) {
        const auto plain = parse(nest("(", depth));
        ASSERT_FALSE(plain);
        EXPECT_EQ(plain.error().kind, ParseError::Kind::UnexpectedChar);
        EXPECT_EQ(plain.error().pos, 256u);
        const auto with_p = parse(nest("p(", depth));
        ASSERT_FALSE(with_p);
        EXPECT_EQ(with_p.error().pos, 2 * 256u + 1);
    }
}

TEST(ExpandSeries, ReplacesKAndZarcAtAnyDepth) {
    const auto tree = parse("R0-K1-(C2,Zarc3)");
    ASSERT_TRUE(tree);
    bool changed = false;
    const SeriesList expanded = expand_series(*tree, changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(param_names(expanded),
              (std::vector<std::string>{"R0.r", "R0.r", "C0.c", "C2.c", "R1.r", "Cpe0.q", "Cpe0.alpha"}));
    const auto& pair = expanded[1].parallel()->branches;
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_FALSE(pair[0][0].leaf()->label);
    EXPECT_EQ(pair[1][0].leaf()->element.v[0], 0.001 / 1.0);
    const auto& zarc_pair = expanded[2].parallel()->branches[1][0].parallel()->branches;
    EXPECT_EQ(zarc_pair[1][0].leaf()->element.v[0], std::pow(0.001, 0.8) / 1.0);
    for (double omega : {0.1, 10.0, 1e4}) {
        const Complex a = impedance(*tree, omega);
        const Complex b = impedance(expanded, omega);
        EXPECT_LE(std::abs(std::complex(a.re - b.re, a.im - b.im)), 1e-12 * std::abs(std::complex(a.re, a.im)));
    }
}

TEST(ExpandSeries, LeavesOtherTreesAndTheFlagAlone) {
    bool changed = false;
    const auto tree = parse("R0-(C1,p(W2))");
    EXPECT_EQ(param_names(expand_series(*tree, changed)), param_names(*tree));
    EXPECT_FALSE(changed);
    changed = true;
    expand_series(*tree, changed);
    EXPECT_TRUE(changed);
}

}  // namespace
}  // namespace vorlane
