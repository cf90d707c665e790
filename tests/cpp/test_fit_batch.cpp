#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"
#include "fit/fit_batch.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::same_bits;
namespace {

using Vec = std::vector<double>;

// A spectrum of "R0-(R1,C1)" at `truth` with a deterministic ripple, so
// that no fit ends exactly on the data.
FitOptions spectrum_item(const SeriesList& nodes, const Vec& truth, std::size_t n = 30) {
    FitOptions item;
    for (std::size_t i = 0; i < n; ++i) {
        const double f = std::pow(10.0, -1.0 + 6.0 * static_cast<double>(i) / static_cast<double>(n - 1));
        const Complex z = impedance_with_params(nodes, truth, f * TWO_PI);
        const double ripple = 1.0 + 0.01 * std::sin(3.0 * static_cast<double>(i));
        item.frequencies.push_back(f);
        item.impedances.push_back({z.re * ripple, z.im * ripple});
    }
    return item;
}

StartRule circuit_values() {
    return [](const SeriesList& circuit, std::span<const double>, std::span<const Complex>) {
        return std::expected<Start, std::string>(Start{circuit, {}});
    };
}

void expect_same_outcome(const FitOutcome& a, const FitOutcome& b) {
    ASSERT_EQ(a.params.size(), b.params.size());
    for (std::size_t i = 0; i < a.params.size(); ++i) EXPECT_TRUE(same_bits(a.params[i], b.params[i])) << i;
    EXPECT_TRUE(same_bits(a.cost, b.cost));
    EXPECT_EQ(a.iterations, b.iterations);
    EXPECT_EQ(a.impedance_evals, b.impedance_evals);
    EXPECT_EQ(a.success, b.success);
}

std::vector<std::optional<BatchOutcome>> run_batch(BatchPlan plan, std::vector<FitOptions> items) {
    FitBatch batch(std::move(plan), std::move(items));
    batch.start();
    batch.wait();
    return std::move(batch.outcomes());
}

class BatchFixture : public ::testing::Test {
protected:
    SeriesList shape = *parse("R0-(R1,C1)");
    SeriesList circuit = rebuild_with_values(shape, Vec{5.0, 50.0, 1e-4});

    std::vector<FitOptions> study(std::size_t count) {
        std::vector<FitOptions> items;
        for (std::size_t k = 0; k < count; ++k) {
            items.push_back(spectrum_item(shape, {10.0 + static_cast<double>(k), 100.0 * (1.0 + 0.1 * k), 1e-5}));
        }
        return items;
    }
};

TEST_F(BatchFixture, SideBySideOutcomesEqualLoneFitsBitForBit) {
    for (std::size_t workers : {0u, 1u, 3u}) {
        std::vector<FitOptions> items = study(12);
        const auto outcomes = run_batch(BatchPlan{circuit, circuit_values(), false, false, workers}, items);
        ASSERT_EQ(outcomes.size(), items.size());
        for (std::size_t k = 0; k < items.size(); ++k) {
            items[k].nodes = circuit;
            const FitResultOr alone = run_fit(items[k]);
            ASSERT_TRUE(alone && outcomes[k] && *outcomes[k]);
            expect_same_outcome(**outcomes[k], *alone);
        }
    }
}

TEST_F(BatchFixture, ErrorsAreCollectedInPlaceOrStopTheBatch) {
    std::vector<FitOptions> items = study(40);
    items[3].impedances.pop_back();
    const auto collected = run_batch(BatchPlan{circuit, circuit_values(), false, false, 0}, items);
    for (std::size_t k = 0; k < items.size(); ++k) {
        ASSERT_TRUE(collected[k]);
        EXPECT_EQ(collected[k]->has_value(), k != 3) << k;
    }
    EXPECT_EQ(collected[3]->error().message, "frequencies and impedances must have the same length");

    const auto stopped = run_batch(BatchPlan{circuit, circuit_values(), false, true, 1}, items);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_TRUE(stopped[k] && *stopped[k]) << k;
    EXPECT_TRUE(stopped[3] && !*stopped[3]);
    EXPECT_FALSE(stopped.back().has_value());
}

TEST_F(BatchFixture, StartRuleErrorsAndExceptionsBecomeTheSpectrumsError) {
    StartRule failing = [](const SeriesList&, std::span<const double> f, std::span<const Complex>) {
        if (f.size() == 5) throw std::runtime_error("broken invariant");
        return std::expected<Start, std::string>(std::unexpected("no start"));
    };
    std::vector<FitOptions> items = study(2);
    items[1] = spectrum_item(shape, {1.0, 2.0, 3.0}, 5);
    const auto outcomes = run_batch(BatchPlan{circuit, failing, false, false, 0}, items);
    EXPECT_EQ(outcomes[0]->error().kind, BatchError::Kind::Fit);
    EXPECT_EQ(outcomes[0]->error().message, "no start");
    EXPECT_EQ(outcomes[1]->error().kind, BatchError::Kind::Internal);
    EXPECT_EQ(outcomes[1]->error().message, "broken invariant");
}

TEST_F(BatchFixture, CancelStartsNoFurtherFit) {
    std::atomic<int> started{0};
    StartRule slow = [&](const SeriesList& c, std::span<const double>, std::span<const Complex>) {
        ++started;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::expected<Start, std::string>(Start{c, {}});
    };
    FitBatch batch(BatchPlan{circuit, slow, false, false, 1}, study(200));
    batch.start();
    EXPECT_FALSE(batch.wait_for(std::chrono::milliseconds(50)));
    batch.cancel();
    batch.wait();
    EXPECT_LT(started.load(), 20);
    EXPECT_EQ(batch.finished(), static_cast<std::size_t>(started.load()));
}

TEST_F(BatchFixture, WarmStartsFollowThePreviousFit) {
    std::vector<FitOptions> items = study(6);
    const auto outcomes = run_batch(BatchPlan{circuit, circuit_values(), true, false, 0}, items);
    for (std::size_t k = 0; k < items.size(); ++k) {
        items[k].nodes = k == 0 ? circuit : (*outcomes[k - 1])->circuit;
        const FitResultOr alone = run_fit(items[k]);
        ASSERT_TRUE(alone && outcomes[k] && *outcomes[k]);
        expect_same_outcome(**outcomes[k], *alone);
    }
}

TEST_F(BatchFixture, AWarmStartThatFitsClearlyWorseIsReplacedByTheFreshFit) {
    // Fitted to a spectrum that is nearly a pure resistor, R1 and C1 run
    // off; with few iterations allowed, the capacitive spectrum after it
    // does not converge from there, but does from the fresh start, which
    // here lies at its optimum.
    const SeriesList near_arc = rebuild_with_values(shape, Vec{10.0, 100.0, 1e-5});
    std::vector<FitOptions> items{spectrum_item(shape, {10.0, 1e-6, 1e3}), spectrum_item(shape, {10.0, 100.0, 1e-5})};
    for (FitOptions& item : items) item.max_iterations = 3;
    const auto warm = run_batch(BatchPlan{near_arc, circuit_values(), true, false, 0}, items);
    const auto fresh = run_batch(BatchPlan{near_arc, circuit_values(), false, false, 0}, items);
    items[1].nodes = (*warm[0])->circuit;
    const FitResultOr warm_alone = run_fit(items[1]);
    ASSERT_TRUE(warm_alone && fresh[1] && *fresh[1]);
    ASSERT_TRUE((*fresh[1])->success);
    ASSERT_TRUE(!warm_alone->success || warm_alone->cost > WARM_REPLACE_FACTOR * (*fresh[1])->cost)
        << "the case no longer tests the rule";
    expect_same_outcome(**warm[1], **fresh[1]);
}

}  // namespace
}  // namespace vorlane
