#include <gtest/gtest.h>

#include "circuit/named_values.hpp"
#include "circuit/parser.hpp"
#include "core/quoting.hpp"
#include "core/utf8.hpp"
#include "tree_builders.hpp"

namespace vorlane {
using test::parsed;
namespace {

using Entries = std::vector<std::pair<std::string, double>>;

std::string failure(const char* circuit, const Entries& entries) {
    auto result = assign_named_values(parsed(circuit), entries);
    return result ? "(assigned)" : result.error();
}

TEST(NamedValues, AssignsInLayoutOrderWhateverTheEntryOrder) {
    const auto values = assign_named_values(parsed("R0-(R1,C1)"), {{"C1.c", 3}, {"R0.r", 1}, {"R1.r", 2}});
    ASSERT_TRUE(values);
    EXPECT_EQ(*values, (std::vector<double>{1, 2, 3}));
}

TEST(NamedValues, DuplicateNamesReceiveTheSameValue) {
    const double r[] = {1};
    const SeriesList tree{Node{Leaf{Element::from_values(Kind::R, r), "R0"}},
                          Node{Leaf{Element::from_values(Kind::R, r), std::nullopt}}};
    EXPECT_EQ(assign_named_values(tree, {{"R0.r", 7}}).value(), (std::vector<double>{7, 7}));
}

TEST(NamedValues, MisspeltKeyMessage) {
    EXPECT_EQ(failure("R0-(R1,C1)", {{"R0.r", 1}, {"R1.r", 2}, {"C1.C", 3}}),
              "unknown parameter \"C1.C\" (did you mean \"C1.c\"?)\n"
              "missing parameter(s): [\"C1.c\"]\n"
              "\n"
              "valid parameters for this circuit:\n"
              "  R0.r  [ohm]  bounds (1e-12, inf)\n"
              "  R1.r  [ohm]  bounds (1e-12, inf)\n"
              "  C1.c  [F]  bounds (1e-12, inf)");
}

TEST(NamedValues, ExtraOrMissingAloneAndPaddedTable) {
    EXPECT_EQ(failure("R0-CPE12", {{"R0.r", 1}, {"CPE12.q", 2}, {"CPE12.alpha", 3}, {"zzzzzzzz", 4}}),
              "unknown parameter \"zzzzzzzz\"\n"
              "\n"
              "valid parameters for this circuit:\n"
              "  R0.r         [ohm]  bounds (1e-12, inf)\n"
              "  CPE12.q      [ohm^-1*s^alpha]  bounds (1e-12, inf)\n"
              "  CPE12.alpha  [-]  bounds (0, 1)");
    EXPECT_EQ(failure("R0-C1", {{"R0.r", 1}}),
              "missing parameter(s): [\"C1.c\"]\n\nvalid parameters for this circuit:\n"
              "  R0.r  [ohm]  bounds (1e-12, inf)\n  C1.c  [F]  bounds (1e-12, inf)");
}

TEST(NamedValues, CircuitWithoutParameters) {
    const SeriesList empty;
    EXPECT_TRUE(assign_named_values(empty, {}).value().empty());
    EXPECT_EQ(assign_named_values(empty, {{"R0.r", 1}}).error(),
              "unknown parameter \"R0.r\"\n\nvalid parameters for this circuit:");
}

TEST(NamedValues, KeysAreQuotedWithEscapes) {
    const std::string message = failure("R0", {{"R0.r", 1}, {std::string("a\"b\\c\td\re\nf\0g\x01h\x7fΩ", 18), 2}});
    EXPECT_EQ(message.substr(0, message.find('\n')),
              "unknown parameter \"a\\\"b\\\\c\\td\\re\\nf\\0g\\u{1}h\\u{7f}Ω\"");
}

struct SuggestionCase {
    std::string key;
    std::vector<std::string> names;
    std::optional<std::string> expected;
};

class Suggest : public ::testing::TestWithParam<SuggestionCase> {};

TEST_P(Suggest, AppliesTheLengthDependentThreshold) {
    EXPECT_EQ(suggestion_for(GetParam().key, GetParam().names), GetParam().expected) << GetParam().key;
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, Suggest,
    ::testing::Values(SuggestionCase{"r0.r", {"R0.r", "R1.r"}, "R0.r"},
                      SuggestionCase{"abcdefghij", {"xyz", "abcdeVWXYZ"}, "abcdeVWXYZ"},  // 10 chars, distance 5
                      SuggestionCase{"abcdefghij", {"abcdUVWXYZ"}, std::nullopt},          // distance 6
                      SuggestionCase{"abcdefghi", {"abcdeWXYZ"}, "abcdeWXYZ"},             // 9 chars, distance 4
                      SuggestionCase{"abcdefghi", {"abcdVWXYZ"}, std::nullopt},
                      SuggestionCase{"x", {"abc"}, std::nullopt}, SuggestionCase{"x", {"ab"}, "ab"},
                      SuggestionCase{"", {"ab", "c"}, "c"},
                      // Six characters in twelve bytes: threshold 3, not 6.
                      SuggestionCase{"ΩΩΩΩΩΩ", {"ΩΩΩabcd"}, std::nullopt},
                      SuggestionCase{"ΩΩΩΩΩΩ", {"ΩΩΩΩΩx"}, "ΩΩΩΩΩx"}, SuggestionCase{"R0.r", {}, std::nullopt}));

TEST(ClosestParamName, TiesGoToTheEarlierName) {
    const auto best = closest_param_name("ab.z", {"zz.zz", "ab.x", "ab.y"});
    ASSERT_TRUE(best);
    EXPECT_EQ(best->index, 1u);
    EXPECT_EQ(best->distance, 1u);
    EXPECT_EQ(closest_param_name("Ω", {"ΩΩ"})->distance, 1u);
    EXPECT_FALSE(closest_param_name("a", {}));
}

TEST(Quoting, ListsAndMalformedText) {
    EXPECT_EQ(quoted_list({}), "[]");
    EXPECT_EQ(quoted_list({"a", "b\"c"}), "[\"a\", \"b\\\"c\"]");
    EXPECT_EQ(quote("\xff" "a"), "\"\xef\xbf\xbd" "a\"");
    EXPECT_EQ(quote("\u2028\u00e9"), "\"\\u{2028}\u00e9\"");
}

TEST(Utf8, MalformedBytesDecodeToReplacementEach) {
    const auto decoded = decode_utf8("a\xc0\xaf" "b\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82");
    EXPECT_EQ(decoded.size(), 2u + 2u + 3u + 4u + 2u);
    EXPECT_EQ(decode_utf8("\xf0\x9f\x98\x80Ω"), (std::vector<char32_t>{0x1F600, 0x3A9}));
    std::string out;
    for (char32_t c : {U'a', U'Ω', U'€', char32_t{0x1F600}}) append_utf8(out, c);
    EXPECT_EQ(out, "aΩ€\xf0\x9f\x98\x80");
}

}  // namespace
}  // namespace vorlane
