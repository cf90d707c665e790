// Network layers, the forward pass and the structure check of hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include "eisnn_test_files.hpp"
#include "nn/guesser.hpp"
#include "nn/pooling.hpp"
#include "unwrap.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
using eisnn_test::FileBuilder;
using eisnn_test::NetworkSpec;

namespace {


Guesser load(const FileBuilder& b) {
    return test::unwrap(Guesser::from_bytes(b.bytes()));
}

Features flat_features(const Guesser& g, double value) {
    return Features{std::vector<double>(3 * g.n_grid, value), {0.5, 0.25}};
}

// One channel, one input row: the probe layer is a bare convolution.
Guesser probe_conv(std::uint32_t n_grid, std::uint32_t kernel, const std::vector<double>& taps, double bias) {
    NetworkSpec net;
    net.channels = 1;
    net.groups = 1;
    net.n_grid = n_grid;
    net.kernel = kernel;
    auto b = eisnn_test::network_file(net);
    b.tensor("w.probe.weight", {1, 1, kernel}, taps).tensor("w.probe.bias", {1}, {bias});
    return load(b);
}

std::vector<double> ramp(std::size_t n) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = 100.0 + static_cast<double>(i);
    return x;
}

}  // namespace

// K = 5, d = 8: padding 16, so tap k of output l reads input l - 16 + 8k.
TEST(Conv1d, DilatedPaddingReadsOnlyExistingPositions) {
    const std::size_t length = 32;
    const auto x = ramp(length);
    const Guesser all = probe_conv(length, 5, {1, 1, 1, 1, 1}, 0.5);
    const auto y = all.conv1d("probe", x, 1, 8).value();
    EXPECT_EQ(y[0], 0.5 + x[0] + x[8] + x[16]);
    EXPECT_EQ(y[31], 0.5 + x[15] + x[23] + x[31]);
    for (int k = 0; k < 5; ++k) {
        std::vector<double> taps(5, 0.0);
        taps[static_cast<std::size_t>(k)] = 1.0;
        const auto yk = probe_conv(length, 5, taps, 0.0).conv1d("probe", x, 1, 8).value();
        for (std::size_t l = 0; l < length; ++l) {
            const long src = static_cast<long>(l) - 16 + 8 * k;
            const double expected = src >= 0 && src < static_cast<long>(length) ? x[static_cast<std::size_t>(src)] : 0.0;
            ASSERT_EQ(yk[l], expected) << "tap " << k << " position " << l;
        }
    }
}

TEST(Conv1d, HugeDilationLeavesOnlyTheCentreTap) {
    const auto x = ramp(8);
    const Guesser g = probe_conv(8, 5, {1, 2, 4, 8, 16}, 0.0);
    for (std::size_t d : {std::size_t{8}, std::size_t{1} << 63, std::numeric_limits<std::size_t>::max()}) {
        const auto y = g.conv1d("probe", x, 1, d).value();
        for (std::size_t l = 0; l < 8; ++l) EXPECT_EQ(y[l], 4.0 * x[l]) << d;
    }
}

TEST(Conv1d, ZeroTapsKeepInfinityAndNaNOut) {
    std::vector<double> x = ramp(8);
    x[3] = Inf;
    x[5] = NaN;
    const auto y = probe_conv(8, 3, {0.0, 2.0, -0.0}, 1.0).conv1d("probe", x, 1, 1).value();
    for (std::size_t l : {0u, 1u, 2u, 4u, 6u, 7u}) EXPECT_EQ(y[l], 1.0 + 2.0 * x[l]) << l;
    EXPECT_EQ(y[3], Inf);
    EXPECT_TRUE(std::isnan(y[5]));
}

TEST(Conv1d, ShortInputOrTensorIsRejected) {
    const Guesser g = probe_conv(8, 3, {0, 1, 0}, 0.0);
    EXPECT_EQ(g.conv1d("probe", std::vector<double>(7), 1, 1).error().message(),
              "tensor \"probe\" has 7 elements, expected 8");
    EXPECT_EQ(g.conv1d("probe", std::vector<double>(16), 2, 1).error().message(),
              "tensor \"w.probe.weight\" has 3 elements, expected 6");
    EXPECT_EQ(g.conv1d("absent", std::vector<double>(8), 1, 1).error().message(),
              "weight file is missing \"w.absent.weight\"");
}

TEST(GroupNorm, EachGroupIsStandardisedOnItsOwn) {
    NetworkSpec net;  // 4 channels in 2 groups, 8 positions
    auto b = eisnn_test::network_file(net);
    b.tensor("w.gn.weight", {4}, {1, 2, 3, 4}).tensor("w.gn.bias", {4}, {0.5, -0.5, 1, 2});
    const Guesser g = load(b);
    auto x = eisnn_test::pseudo_random(32, 7, 3.0);
    std::fill(x.begin() + 16, x.end(), 42.0);  // the second group is constant
    ASSERT_TRUE(g.group_norm("gn", x));
    std::vector<double> z;
    for (std::size_t c = 0; c < 2; ++c) {
        for (std::size_t l = 0; l < 8; ++l) z.push_back((x[c * 8 + l] - (c == 0 ? 0.5 : -0.5)) / (c == 0 ? 1 : 2));
    }
    double mean = 0, var = 0;
    for (double v : z) mean += v / 16;
    for (double v : z) var += (v - mean) * (v - mean) / 16;
    EXPECT_NEAR(mean, 0.0, 1e-12);
    EXPECT_NEAR(var, 1.0, 1e-4);
    for (std::size_t i = 16; i < 32; ++i) EXPECT_EQ(x[i], i < 24 ? 1.0 : 2.0);
}

TEST(Linear, ValuesAndWidthMismatch) {
    auto b = eisnn_test::network_file({});
    b.tensor("w.fc.weight", {2, 2}, {1, 2, 3, 4}).tensor("w.fc.bias", {2}, {0.5, -1});
    const Guesser g = load(b);
    EXPECT_EQ(g.linear("fc", std::vector<double>{1, 1}).value(), (std::vector<double>{3.5, 6.0}));
    EXPECT_EQ(g.linear("fc", std::vector<double>{1, 1, 1}).error().message(),
              "tensor \"fc\" has 3 elements, expected 2");
}

struct Violation {
    const char* what;
    std::function<void(FileBuilder&)> mutate;
    const char* message;
};

class StructureCheck : public ::testing::TestWithParam<Violation> {};

// Every violation is reported by the check and by predict, never read.
TEST_P(StructureCheck, RejectsBeforeReading) {
    auto b = eisnn_test::network_file({});
    GetParam().mutate(b);
    const Guesser g = load(b);
    ASSERT_FALSE(g.validate_structure());
    EXPECT_EQ(g.validate_structure().error().message(), GetParam().message);
    const auto predicted = g.predict(Features{std::vector<double>(3 * 8, 0.1), {0.5, 0.25}}, 1.0, 1.0);
    ASSERT_FALSE(predicted);
    EXPECT_EQ(predicted.error().message(), GetParam().message);
}

using B = FileBuilder&;
INSTANTIATE_TEST_SUITE_P(
    Network, StructureCheck,
    ::testing::Values(
        Violation{"missing_block_weight", [](B b) { b.drop_tensor("w.blocks.1.conv2.weight"); },
                  "weight file is missing \"w.blocks.1.conv2.weight\""},
        Violation{"missing_stem_bias", [](B b) { b.drop_tensor("w.stem.bias"); },
                  "weight file is missing \"w.stem.bias\""},
        Violation{"missing_head", [](B b) { b.drop_tensor("w.head.4.bias"); },
                  "weight file is missing \"w.head.4.bias\""},
        Violation{"more_blocks_than_tensors", [](B b) { b.meta("dilations", "1,2,4"); },
                  "weight file is missing \"w.blocks.2.conv1.weight\""},
        Violation{"stem_rows", [](B b) { b.tensor("w.stem.weight", {2, 6, 3}, std::vector<double>(36, 0.1)); },
                  "weight file has an unparsable value for \"w.stem.weight\""},
        Violation{"stem_too_small", [](B b) { b.tensor("w.stem.weight", {4, 3, 2}, std::vector<double>(24, 0.1)); },
                  "tensor \"w.stem.weight\" has 24 elements, expected 36"},
        Violation{"conv_bias_short", [](B b) { b.tensor("w.blocks.0.conv1.bias", {3}, {0, 0, 0}); },
                  "tensor \"w.blocks.0.conv1.bias\" has 3 elements, expected 4"},
        Violation{"zero_dimension", [](B b) { b.tensor("w.blocks.0.conv2.weight", {4, 0, 3}, {1.0}); },
                  "tensor \"w.blocks.0.conv2.weight\" has 1 elements, expected 48"},
        Violation{"norm_short", [](B b) { b.tensor("w.blocks.1.norm2.weight", {2}, {1, 1}); },
                  "tensor \"w.blocks.1.norm2.weight\" has 2 elements, expected 4"},
        Violation{"head0_width", [](B b) { b.tensor("w.head.0.weight", {6, 9}, std::vector<double>(54, 0.1)); },
                  "tensor \"head.0\" has 10 elements, expected 9"},
        Violation{"head0_too_small", [](B b) { b.tensor("w.head.0.weight", {6, 10, 0}, {0.1}); },
                  "tensor \"w.head.0.weight\" has 1 elements, expected 60"},
        Violation{"head2_width", [](B b) { b.tensor("w.head.2.weight", {6, 5}, std::vector<double>(30, 0.1)); },
                  "tensor \"head.2\" has 6 elements, expected 5"},
        Violation{"head4_outputs",
                  [](B b) {
                      b.tensor("w.head.4.weight", {2, 6}, std::vector<double>(12, 0.1)).tensor("w.head.4.bias", {2}, {0, 0});
                  },
                  "tensor \"head.4\" has 2 elements, expected 3"},
        Violation{"head4_bias_short", [](B b) { b.tensor("w.head.4.bias", {5}, std::vector<double>(5, 0.0)); },
                  "tensor \"w.head.4.bias\" has 5 elements, expected 6"},
        Violation{"target_std_short", [](B b) { b.tensor("target_std", {2}, {1, 1}); },
                  "tensor \"target_std\" has 2 elements, expected 3"},
        Violation{"log_params_short", [](B b) { b.tensor("log_params", {1}, {1}); },
                  "tensor \"log_params\" has 1 elements, expected 3"},
        Violation{"fewer_names_than_rows", [](B b) { b.meta("param_names", "a,b"); },
                  "tensor \"scaling\" has 12 elements, expected 8"},
        Violation{"coupled_out_of_range",
                  [](B b) { b.tensor("scaling", {3, 4}, {1, 0, 0, -1, -1, 0, -1, 3, 0, 0, 0, -1}); },
                  "weight file has an unparsable value for \"scaling\""},
        Violation{"groups_zero", [](B b) { b.meta("groups", "0"); }, "weight file has an unparsable value for \"groups\""},
        Violation{"groups_not_dividing", [](B b) { b.meta("groups", "3"); },
                  "weight file has an unparsable value for \"groups\""},
        Violation{"kernel_zero", [](B b) { b.meta("kernel", "0"); }, "weight file has an unparsable value for \"kernel\""},
        Violation{"n_grid_zero", [](B b) { b.meta("n_grid", "0"); }, "weight file has an unparsable value for \"n_grid\""},
        Violation{"n_grid_absurd", [](B b) { b.meta("n_grid", "1000000000000"); },
                  "weight file has an unparsable value for \"n_grid\""},
        Violation{"channels_absurd", [](B b) { b.meta("channels", "4000000"); },
                  "weight file has an unparsable value for \"channels\""},
        Violation{"alpha_range", [](B b) { b.meta("alpha_min", "2").meta("alpha_max", "1"); },
                  "weight file has an unparsable value for \"alpha_min\""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Predict, ShortFeatureMatrixIsRejected) {
    const Guesser g = load(eisnn_test::network_file({}));
    EXPECT_EQ(g.predict(Features{std::vector<double>(23, 0.0), {0, 0}}, 1, 1).error().message(),
              "tensor \"stem\" has 23 elements, expected 24");
}

TEST(Pooling, MaxIgnoresNaNAndMeanDoesNot) {
    const std::vector<double> x = {1.0, NaN, 2.0, 0.5, NaN, NaN, NaN, NaN, -Inf, -1.0, -3.0, -2.0};
    const auto pooled = mean_max_pool(x, 3, 4);
    ASSERT_EQ(pooled.size(), 8u);
    EXPECT_TRUE(std::isnan(pooled[0]));
    EXPECT_TRUE(std::isnan(pooled[1]));
    EXPECT_EQ(pooled[2], -Inf);
    EXPECT_EQ(pooled[3], 2.0);
    EXPECT_EQ(pooled[4], -Inf);  // a row of NaN keeps the starting value
    EXPECT_EQ(pooled[5], -1.0);
}

// With zero weights the head returns its bias: the clamp and the coupled
// re-dimensioning of q by its own (clamped) exponent are then visible.
TEST(Predict, ClampAndCoupledRedimensioning) {
    NetworkSpec net;
    net.params = 4;
    net.param_names = "q,alpha,r,c";
    net.weight_scale = 0.0;
    net.log_params = {1, 0, 1, 1};
    net.scaling = {-1, 0, -1, 1, 0, 0, 0, -1, 1, 0, 0, -1, -1, -1, 0, -1};
    auto b = eisnn_test::network_file(net);
    b.tensor("target_mean", {4}, {0, 0, 0, 0}).tensor("target_std", {4}, {1, 1, 1, 1});
    const double z = 2.0, w = 8.0;
    for (auto [raw_alpha, alpha] : {std::pair{1.75, 1.0}, std::pair{-3.0, 0.05}, std::pair{0.5, 0.5}}) {
        b.tensor("w.head.4.bias", {8}, {2.0, raw_alpha, 3.0, -2.0, 99, 99, 99, 99});
        const Guesser g = load(b);
        const auto v = g.predict(flat_features(g, 0.3), z, w).value();
        EXPECT_EQ(v[1], alpha);
        EXPECT_DOUBLE_EQ(v[0], 100.0 * std::pow(w, -alpha) / z);
        EXPECT_DOUBLE_EQ(v[2], 1000.0 * z);  // logarithmic outputs are never clamped
        EXPECT_DOUBLE_EQ(v[3], 0.01 / (z * w));
    }
    b.tensor("w.head.4.bias", {8}, {2.0, NaN, 3.0, -2.0, 0, 0, 0, 0});
    const Guesser g = load(b);
    const auto v = g.predict(flat_features(g, 0.3), z, w).value();
    EXPECT_TRUE(std::isnan(v[1]));
    EXPECT_TRUE(std::isnan(v[0]));
}

TEST(Predict, SameResultFromManyThreads) {
    NetworkSpec net;
    net.channels = 16;
    net.groups = 4;
    net.n_grid = 32;
    net.kernel = 5;
    net.dilations = {1, 2, 4, 8};
    const Guesser g = load(eisnn_test::network_file(net, 9));
    Features features{eisnn_test::pseudo_random(96, 3, 2.0), {0.875, 0.6}};
    const auto reference = g.predict(features, 3.0, 50.0).value();
    for (double v : reference) EXPECT_TRUE(std::isfinite(v));
    std::vector<std::vector<double>> results(4);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&] { r = g.predict(features, 3.0, 50.0).value(); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, reference);
}

}  // namespace vorlane
