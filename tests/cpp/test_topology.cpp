// Canonical topology keys, permutations to a model's parameter order, the
// K/Zarc expansion and the registry's names.
#include <gtest/gtest.h>

#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "models/registry.hpp"
#include "models/topology.hpp"
#include "unwrap.hpp"
#include "tree_builders.hpp"

namespace vorlane {
using test::parsed;

namespace {

std::vector<std::string> user_to_model_names(const SeriesList& model, const SeriesList& user,
                                             const std::vector<std::size_t>& perm) {
    const auto model_names = param_names(model);
    std::vector<std::string> mapped;
    for (std::size_t index : perm) mapped.push_back(model_names.at(index));
    EXPECT_EQ(perm.size(), param_count(user));
    return mapped;
}

}  // namespace

TEST(Topology, CanonicalKeyAndSpans) {
    const auto [key, spans] = canonical(parsed("R0-(R1,C1)"));
    EXPECT_EQ(key, "[([C],[R]),R]");
    EXPECT_EQ(spans, (std::vector<ParamSpan>{{2, 1}, {1, 1}, {0, 1}}));
    const auto [other_key, other_spans] = canonical(parsed("(R5,C9)-R2"));
    EXPECT_EQ(other_key, key);
    EXPECT_EQ(other_spans, (std::vector<ParamSpan>{{1, 1}, {0, 1}, {2, 1}}));
    EXPECT_EQ(match_topology(parsed("R0-(R1,C1)"), parsed("(R5,C9)-R2")), (std::vector<std::size_t>{1, 2, 0}));
    EXPECT_EQ(canonical(parsed("R0-(R1-W1,CPE1)")).first, "[([Cpe],[R,W]),R]");
    EXPECT_EQ(canonical(SeriesList{}).first, "[]");
    EXPECT_EQ(match_topology(SeriesList{}, SeriesList{}), std::vector<std::size_t>{});
}

struct MatchCase {
    const char* user;
    const char* model;  // registry name
    bool expanded;
    std::vector<std::string> model_names;  // model parameter each user parameter takes
};

class RegistryMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(RegistryMatch, FindsModelAndPermutation) {
    const MatchCase& c = GetParam();
    const SeriesList user = parsed(c.user);
    const auto match = find_for_topology(user);
    ASSERT_TRUE(match.has_value()) << c.user;
    EXPECT_EQ(model_entries()[match->model_index].name, c.model);
    EXPECT_EQ(match->expanded, c.expanded);
    const SeriesList model = parsed(model_entries()[match->model_index].circuit);
    EXPECT_EQ(user_to_model_names(model, user, match->perm), c.model_names);
}

INSTANTIATE_TEST_SUITE_P(
    Topology, RegistryMatch,
    ::testing::Values(
        MatchCase{"R0-(R1,C1)", "rc", false, {"R0.r", "R1.r", "C1.c"}},
        MatchCase{"(R1,C2)-R3", "rc", false, {"R1.r", "C1.c", "R0.r"}},
        MatchCase{"R9-(C4,R7)", "rc", false, {"R0.r", "C1.c", "R1.r"}},
        MatchCase{"p(C1,R1)-R0", "rc", false, {"C1.c", "R1.r", "R0.r"}},
        MatchCase{"R0-(R1,C1)-(R2,C2)", "two_rc", false, {"R0.r", "R1.r", "C1.c", "R2.r", "C2.c"}},
        MatchCase{"(C2,R2)-(C1,R1)-R0", "two_rc", false, {"C1.c", "R1.r", "C2.c", "R2.r", "R0.r"}},
        MatchCase{"(R2,CPE2)-L0-(CPE1,R1)-R0", "two_rq_l", false,
                  {"R1.r", "CPE1.q", "CPE1.alpha", "L0.l", "CPE2.q", "CPE2.alpha", "R2.r", "R0.r"}},
        MatchCase{"(CPE5,W3-R2)-R1", "randles", false, {"CPE1.q", "CPE1.alpha", "W1.aw", "R1.r", "R0.r"}},
        MatchCase{"(Cpe7,W9-R2)-(R4,CPE3)-R8", "sei_randles", false,
                  {"CPE2.q", "CPE2.alpha", "W2.aw", "R2.r", "R1.r", "CPE1.q", "CPE1.alpha", "R0.r"}},
        MatchCase{"R0-(Wo2-R2,CPE2)-(R1,CPE1)", "sei_randles_wo", false,
                  {"R0.r", "Wo2.z0", "Wo2.tau", "R2.r", "CPE2.q", "CPE2.alpha", "R1.r", "CPE1.q", "CPE1.alpha"}},
        MatchCase{"R0-Zarc1", "rq", true, {"R0.r", "R1.r", "CPE1.q", "CPE1.alpha"}},
        MatchCase{"R0-(R1,CPE1)", "rq", false, {"R0.r", "R1.r", "CPE1.q", "CPE1.alpha"}},
        MatchCase{"K1-R0", "rc", true, {"R1.r", "C1.c", "R0.r"}},
        MatchCase{"R0-K1", "rc", true, {"R0.r", "R1.r", "C1.c"}},
        MatchCase{"Zarc2-L0-R0-(R1,CPE1)", "two_rq_l", true,
                  {"R1.r", "CPE1.q", "CPE1.alpha", "L0.l", "R0.r", "R2.r", "CPE2.q", "CPE2.alpha"}},
        MatchCase{"Zarc1-Zarc2-R0", "two_rq", true,
                  {"R1.r", "CPE1.q", "CPE1.alpha", "R2.r", "CPE2.q", "CPE2.alpha", "R0.r"}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(Topology, NoMatch) {
    for (const char* text : {"R0-(R1,C1)-(R2,CPE2)", "R0", "R0-K1-K2-K3", "R0-(R1,C1,L1)", "R0-((R1,C1))"}) {
        EXPECT_FALSE(find_for_topology(parsed(text))) << text;
    }
    EXPECT_FALSE(find_for_topology(SeriesList{}));
}

TEST(Topology, ExpansionAtAnyDepth) {
    const SeriesList model = parsed("R0-(R1-(R2,C2),CPE1)");
    const SeriesList user = parsed("R0-(K2-R1,CPE1)");
    const auto match = match_or_expand(model, user);
    ASSERT_TRUE(match.has_value());
    EXPECT_TRUE(match->second);
    EXPECT_EQ(user_to_model_names(model, user, match->first),
              (std::vector<std::string>{"R0.r", "R2.r", "C2.c", "R1.r", "CPE1.q", "CPE1.alpha"}));
    const auto nested = match_or_expand(parsed("((R1,(R2,CPE2)))"), parsed("((R1,Zarc2))"));
    ASSERT_TRUE(nested.has_value());
    EXPECT_TRUE(nested->second);
    EXPECT_FALSE(match_or_expand(parsed("R0-(R1,C1)"), parsed("R0-(R1,C1)-R2")));
}

TEST(Registry, NamesAndCircuits) {
    EXPECT_EQ(model_names(), (std::vector<std::string>{"rc", "rc_l", "rq", "rq_l", "two_rc", "two_rc_l", "two_rq",
                                                        "two_rq_l", "randles", "sei_randles", "sei_randles_wo"}));
    EXPECT_EQ(quoted_model_names(),
              "'rc', 'rc_l', 'rq', 'rq_l', 'two_rc', 'two_rc_l', 'two_rq', 'two_rq_l', 'randles', 'sei_randles', "
              "'sei_randles_wo'");
    for (const ModelEntry& entry : model_entries()) {
        EXPECT_TRUE(parse(entry.circuit).has_value()) << entry.circuit;
        const auto match = find_for_topology(parsed(entry.circuit));
        ASSERT_TRUE(match.has_value());
        EXPECT_EQ(model_entries()[match->model_index].name, entry.name);
        EXPECT_FALSE(match->expanded);
    }
    EXPECT_EQ(registry_circuit_for_name("RC"), "R0-(R1,C1)");
    EXPECT_EQ(registry_circuit_for_name("Sei_Randles_WO"), "R0-(R1,CPE1)-(R2-Wo2,CPE2)");
    for (const char* text : {"rc ", "r c", "", "rc_", "\xc5\x99" "c"}) {
        EXPECT_FALSE(registry_circuit_for_name(text)) << text;
    }
    EXPECT_FALSE(registry_circuit_for_name(std::string_view("rc\0", 3)));
}

}  // namespace vorlane
