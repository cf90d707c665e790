// A bundled topology found inside a larger circuit, and the data-scaled
// start of any circuit.
#include <gtest/gtest.h>

#include <cmath>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/data_scaled_start.hpp"
#include "models/partial_match.hpp"
#include "models/registry.hpp"
#include "tree_builders.hpp"

namespace vorlane {
using test::parsed;

namespace {

// "user name <- model name" for every parameter the network gives.
std::vector<std::string> taken(const PartialMatch& match) {
    const auto model_names = param_names(*registry_trees()[match.model_index]);
    const auto user_names = param_names(match.tree);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < match.from_model.size(); ++i) {
        if (match.from_model[i]) out.push_back(user_names[i] + " <- " + model_names[*match.from_model[i]]);
    }
    return out;
}

}  // namespace

TEST(PartialMatch, ExtraMembersAroundABundledTopology) {
    struct Case {
        const char* user;
        const char* model;
        std::vector<std::string> taken;
        std::vector<std::size_t> extras;
    };
    const std::vector<Case> cases = {
        {"L0-R0-(R1-W1,CPE1)", "randles",
         {"R0.r <- R0.r", "R1.r <- R1.r", "W1.aw <- W1.aw", "CPE1.q <- CPE1.q", "CPE1.alpha <- CPE1.alpha"},
         {0}},
        {"R0-(R1,C1)-(R2,C2)-(R3,C3)", "two_rc",
         {"R0.r <- R0.r", "R1.r <- R1.r", "C1.c <- C1.c", "R2.r <- R2.r", "C2.c <- C2.c"}, {5, 6}},
        // rq_l covers five parameters, rc_l only four.
        {"L0-R0-(R1,C1)-(R2,CPE2)-Wo3", "rq_l",
         {"L0.l <- L0.l", "R0.r <- R0.r", "R2.r <- R1.r", "CPE2.q <- CPE1.q", "CPE2.alpha <- CPE1.alpha"},
         {2, 3, 7, 8}},
        {"(R1,CPE1)-W2-R9", "rq", {"R1.r <- R1.r", "CPE1.q <- CPE1.q", "CPE1.alpha <- CPE1.alpha", "R9.r <- R0.r"},
         {3}},
    };
    for (const Case& c : cases) {
        const auto match = find_partial_match(parsed(c.user));
        ASSERT_TRUE(match.has_value()) << c.user;
        EXPECT_EQ(model_entries()[match->model_index].name, c.model) << c.user;
        EXPECT_FALSE(match->expanded);
        EXPECT_EQ(taken(*match), c.taken) << c.user;
        EXPECT_EQ(match->extra_params, c.extras) << c.user;
        EXPECT_EQ(match->matched_params.size() + match->extra_params.size(), param_count(parsed(c.user)));
    }
}

TEST(PartialMatch, AbbreviationsAreExpandedOnlyWhenNeeded) {
    const auto match = find_partial_match(parsed("R0-Zarc1-K2-W3"));
    ASSERT_TRUE(match.has_value());
    EXPECT_TRUE(match->expanded);
    EXPECT_EQ(model_entries()[match->model_index].name, "rq");
    EXPECT_EQ(param_names(match->tree), (std::vector<std::string>{"R0.r", "R0.r", "Cpe0.q", "Cpe0.alpha", "R1.r", "C0.c",
                                                                  "W3.aw"}));
}

TEST(PartialMatch, NothingForExactMatchesAndCircuitsNoNetworkIsPartOf) {
    for (const char* text : {"R0-(R1,C1)", "L0-R0-(R1,CPE1)-(R2,CPE2)", "R0-(R1-(R2,CPE2),CPE1)", "R0-C1", "L1-W2",
                             "(R1,L1)-(R2,C2,L2)"}) {
        EXPECT_FALSE(find_partial_match(parsed(text)).has_value()) << text;
    }
}

TEST(DataScaledStart, EveryKindGetsFiniteValuesInsideItsBounds) {
    const SeriesList nodes =
        parsed("R0-L1-La2-(R3-W3,CPE3)-(R4-(R5,C5),K4)-Zarc6-Wo7-Ws8-G9-Gs10-Tlmq11-T12-C13-CPE14");
    std::vector<double> f;
    std::vector<Complex> z;
    const SeriesList truth = parsed("L0-R0-(R1,CPE1)-(R2-W2,CPE2)");
    for (int i = 0; i < 50; ++i) {
        f.push_back(std::pow(10.0, -2.0 + 0.14 * i));
        z.push_back(impedance(truth, f.back() * TWO_PI));
    }
    for (std::size_t p = 0; p < ARC_PLACEMENT_COUNT; ++p) {
        const auto values = data_scaled_values(nodes, spectrum_scales(f, z), static_cast<ArcPlacement>(p));
        const auto bounds = param_bounds(nodes);
        ASSERT_EQ(values.size(), bounds.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_TRUE(std::isfinite(values[i]) && values[i] > bounds[i].first && values[i] <= bounds[i].second)
                << param_names(nodes)[i] << " = " << values[i];
        }
    }
    // No usable point: the values still exist and are finite.
    const auto empty = data_scaled_values(nodes, spectrum_scales({}, {}));
    for (const double v : empty) EXPECT_TRUE(std::isfinite(v));
}

TEST(DataScaledStart, AnArcIsReadOffItsSpectrum) {
    const SeriesList rc = parsed("R0-(R1,C1)");
    const SeriesList exact = rebuild_with_values(rc, std::vector<double>{10.0, 100.0, 1e-5});
    std::vector<double> f;
    std::vector<Complex> z;
    for (int i = 0; i < 41; ++i) {
        f.push_back(std::pow(10.0, -1.0 + 0.15 * i));
        z.push_back(impedance(exact, f.back() * TWO_PI));
    }
    const auto values = data_scaled_values(rc, spectrum_scales(f, z));
    EXPECT_NEAR(values[0], 10.0, 1.0);        // the high-frequency intercept
    EXPECT_NEAR(values[1], 100.0, 10.0);      // the real span
    EXPECT_NEAR(std::log10(values[2]), -5.0, 0.2);  // from the -Im Z peak at 1 / (R1 C1)
}

TEST(DataScaledStart, ArcsWithoutAPeakAreSpreadInsideOrPlacedBeyondTheWindow) {
    // One arc at 1 / (R1 C1) = 1000 rad/s, measured from 0.1 Hz to 1 MHz.
    const SeriesList exact = rebuild_with_values(parsed("R0-(R1,C1)"), std::vector<double>{10.0, 100.0, 1e-5});
    std::vector<double> f;
    std::vector<Complex> z;
    for (int i = 0; i < 41; ++i) {
        f.push_back(std::pow(10.0, -1.0 + 0.175 * i));
        z.push_back(impedance(exact, f.back() * TWO_PI));
    }
    const SeriesList three = parsed("R0-(R1,C1)-(R2,C2)-(R3,C3)");
    const double lowest = std::log10(f.front() * TWO_PI), highest = std::log10(f.back() * TWO_PI);
    // log10 of each arc's 1 / (R C), in written order.
    auto arc_logs = [&](ArcPlacement placement) {
        const auto v = data_scaled_values(three, spectrum_scales(f, z), placement);
        return std::vector<double>{-std::log10(v[1] * v[2]), -std::log10(v[3] * v[4]), -std::log10(v[5] * v[6])};
    };
    const auto peaks = arc_logs(ArcPlacement::Peaks);
    const auto beyond = arc_logs(ArcPlacement::Beyond);
    EXPECT_NEAR(beyond[1], 3.0, 0.1);  // the one peak, between the other two
    EXPECT_NEAR(beyond[0], highest + 1.0, 1e-9);
    EXPECT_NEAR(beyond[2], lowest - 1.0, 1e-9);
    for (const double x : peaks) EXPECT_TRUE(x > lowest && x < highest) << x;
}

}  // namespace vorlane
