#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "circuit/arc_order.hpp"
#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/fit_dispatch.hpp"
#include "fit/fit_model.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
namespace {

using Vec = std::vector<double>;
using Order = std::vector<std::size_t>;

Constraints fixed_at(std::size_t count, std::initializer_list<std::size_t> indices) {
    Constraints c;
    c.fixed.assign(count, false);
    for (const std::size_t i : indices) c.fixed[i] = true;
    return c;
}

TEST(FitModel, SeesOnlyTheFreeParametersWithinTheirEffectiveBounds) {
    const SeriesList nodes = rebuild_with_values(*parse("R0-(R1,CPE1)"), Vec{5.0, 100.0, 1e-5, 0.9});
    Constraints c = fixed_at(4, {0, 3});
    c.bounds = {std::nullopt, Bound{10.0, 500.0}, std::nullopt, std::nullopt};
    const FitModel model(nodes, c);
    EXPECT_EQ(model.size(), 2u);
    EXPECT_FALSE(model.all_free());
    EXPECT_EQ(model.start(), (Vec{100.0, 1e-5}));
    EXPECT_EQ(model.bounds(), (Bounds{{10.0, 500.0}, {1e-12, Inf}}));
    EXPECT_EQ(model.names(), (std::vector<std::string>{"R1.r", "CPE1.q"}));
    EXPECT_EQ(model.full(Vec{7.0, 2e-5}), (Vec{5.0, 7.0, 2e-5, 0.9}));
    EXPECT_EQ(model.free_part(Vec{1.0, 2.0, 3.0, 4.0}), (Vec{2.0, 3.0}));
    EXPECT_EQ(param_values(model.with_start(Vec{7.0, 2e-5}).tree()), (Vec{5.0, 7.0, 2e-5, 0.9}));
}

// Exact data of R0-(R1,C1) with R0 = 10; R0 held at 12 leaves the fit to the rest.
TEST(RunFit, AFixedParameterEndsAtItsValueAndCountsNoDegreeOfFreedom) {
    const SeriesList truth = rebuild_with_values(*parse("R0-(R1,C1)"), Vec{10.0, 100.0, 1e-5});
    FitOptions options;
    options.nodes = rebuild_with_values(truth, Vec{12.0, 50.0, 1e-4});
    options.constraints = fixed_at(3, {0});
    for (int i = 0; i < 30; ++i) {
        const double f = std::pow(10.0, -1.0 + 0.2 * i);
        options.frequencies.push_back(f);
        options.impedances.push_back(impedance(truth, f * TWO_PI));
    }
    for (const char* method : {"levenberg_marquardt", "nelder_mead", "basin_hopping"}) {
        options.method = method;
        options.seed = 7;
        const FitResultOr result = run_fit(options);
        ASSERT_TRUE(result) << method;
        EXPECT_EQ(result->params[0], 12.0) << method;
        ASSERT_TRUE(result->stderr_) << method;
        EXPECT_TRUE(std::isnan((*result->stderr_)[0])) << method;
        EXPECT_TRUE(std::isfinite((*result->stderr_)[1])) << method;
        EXPECT_GT(result->cost, 0.0) << method;
    }
}

struct OrderCase {
    const char* text;
    Vec values;
    Order order;
};

class ArcOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(ArcOrder, PutsTheFastestMemberOfEachGroupFirst) {
    const SeriesList nodes = *parse(GetParam().text);
    Constraints c;
    c.ordered_arcs = true;
    EXPECT_EQ(arc_order(nodes, GetParam().values, c), GetParam().order);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ArcOrder,
    ::testing::Values(
        // (R,CPE): (r q)^(1/alpha) is 1e-2 for the first, 1e-4 for the second.
        OrderCase{"(R1,CPE1)-(R2,CPE2)", {1.0, 1e-1, 0.5, 1.0, 1e-2, 0.5}, {3, 4, 5, 0, 1, 2}},
        // Groups inside a branch are ordered within that branch only.
        OrderCase{"(R1-K1-K2,C1)-K3", {1.0, 1.0, 1e-2, 1.0, 1e-4, 1e-3, 1.0, 1e-9}, {0, 3, 4, 1, 2, 5, 6, 7}},
        // Two shapes in one series list form two groups.
        OrderCase{"K1-(R1,C1)-K2-(R2,C2)", {1.0, 1e-1, 1.0, 1e-3, 1.0, 1e-2, 1.0, 1e-4},
                  {4, 5, 6, 7, 0, 1, 2, 3}},
        // A NaN time constant goes last; ties keep their places.
        OrderCase{"K1-K2-K3", {1.0, std::nan(""), 1.0, 1e-3, 1.0, 1e-3}, {2, 3, 4, 5, 0, 1}},
        // A parallel node with a third branch is no arc.
        OrderCase{"(R1,C1,L1)-(R2,C2,L2)", {1.0, 1.0, 1.0, 1.0, 1e-6, 1.0}, {0, 1, 2, 3, 4, 5}}));

TEST(ArcOrder, LeavesAGroupWhoseMembersCarryDifferentConstraints) {
    const SeriesList nodes = *parse("K1-K2");
    const Vec values{1.0, 1e-1, 1.0, 1e-3};
    Constraints c = fixed_at(4, {0});
    EXPECT_EQ(arc_order(nodes, values, c), (Order{0, 1, 2, 3}));
    c = fixed_at(4, {0, 2});  // both held at the same value: free to trade places
    EXPECT_EQ(arc_order(nodes, values, c), (Order{2, 3, 0, 1}));
    c = Constraints{};
    c.bounds = {Bound{0.5, 2.0}, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_EQ(arc_order(nodes, values, c), (Order{0, 1, 2, 3}));
}

TEST(Constraints, ConcatenateKeepsEachPartsFlagsInParameterOrder) {
    Constraints a = fixed_at(2, {1});
    Constraints b;
    b.bounds = {Bound{1.0, 2.0}};
    b.ordered_arcs = true;
    const Constraints c = concatenate({a, Constraints{}, b}, {2, 1, 1});
    EXPECT_EQ(c.fixed, (std::vector<bool>{false, true, false, false}));
    ASSERT_EQ(c.bounds.size(), 4u);
    EXPECT_EQ(c.bounds[3], (Bound{1.0, 2.0}));
    EXPECT_FALSE(c.bounds[0].has_value());
    EXPECT_TRUE(c.ordered_arcs);
    EXPECT_TRUE(concatenate({Constraints{}, Constraints{}}, {1, 2}).empty());
}

}  // namespace
}  // namespace vorlane
