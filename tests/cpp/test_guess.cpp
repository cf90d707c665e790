// The guess pipeline: bundled slots, weight files from disk, the mapping
// back to the user's parameters and every failure message.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "circuit/parser.hpp"
#include "core/quoting.hpp"
#include "eisnn_test_files.hpp"
#include "models/bundled_weights.hpp"
#include "models/registry.hpp"
#include "tree_builders.hpp"

namespace vorlane {
using test::parsed;
using eisnn_test::rc_spectrum;
using eisnn_test::Spectrum;
namespace fs = std::filesystem;

namespace {

// A directory of this process's test files, removed when the tests end.
struct ScratchDirectory {
    fs::path path = fs::temp_directory_path() / ("vorlane_guess_" + std::to_string(::getpid()));
    ScratchDirectory() { fs::create_directories(path); }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::string unique_path(const std::string& stem) {
    static const ScratchDirectory scratch;
    static std::atomic<int> counter{0};
    return (scratch.path / (stem + std::to_string(counter++) + ".eisnn")).string();
}

// A network whose outputs are 10^bias (or the bias itself where
// log_params is 0), in the file's parameter order and units.
eisnn_test::FileBuilder constant_network(const std::string& circuit, const std::string& names,
                                         const std::vector<double>& biases, std::vector<double> log_params = {}) {
    eisnn_test::NetworkSpec net;
    net.circuit = circuit;
    net.param_names = names;
    net.params = biases.size();
    net.weight_scale = 0.0;
    net.log_params = std::move(log_params);
    for (std::size_t i = 0; i < biases.size(); ++i) net.scaling.insert(net.scaling.end(), {0, 0, 0, -1});
    auto b = eisnn_test::network_file(net);
    const auto p = static_cast<std::uint32_t>(biases.size());
    std::vector<double> head = biases;
    head.resize(2 * biases.size(), 0.0);
    b.tensor("w.head.4.bias", {2 * p}, head)
        .tensor("target_mean", {p}, std::vector<double>(p, 0.0))
        .tensor("target_std", {p}, std::vector<double>(p, 1.0));
    return b;
}

std::string rc_file() {
    const std::string path = unique_path("rc");
    constant_network("R0-(R1,C1)", "R0.r,R1.r,C1.c", {1, 2, 3}).write(path);
    return path;
}

std::expected<std::vector<double>, std::string> guess(std::string_view circuit, const Spectrum& s,
                                                      const std::string* path) {
    auto guessed = guess_params(parsed(circuit), s.f, s.z, path);
    if (!guessed) return std::unexpected(guessed.error());
    return std::move(guessed->values);
}

std::string wrapped(const std::string& sentence) { return "weight file has an unparsable value for " + quote(sentence); }

}  // namespace

// Runs first so that the slots are still empty: every thread must see the
// one outcome of a single load.
TEST(ModelSlots, ConcurrentFirstUseLoadsOnce) {
    std::vector<std::vector<std::expected<const Guesser*, std::string>>> seen(8);
    std::vector<std::thread> threads;
    for (auto& mine : seen) {
        threads.emplace_back([&mine] {
            for (std::size_t i = 0; i < MODEL_COUNT; ++i) mine.push_back(model_guesser(i));
        });
    }
    for (auto& t : threads) t.join();
    for (const auto& mine : seen) EXPECT_EQ(mine, seen[0]);
    EXPECT_FALSE(model_guesser(MODEL_COUNT));
}

TEST(ModelSlots, OutcomeMatchesTheBundledFiles) {
    for (std::size_t i = 0; i < MODEL_COUNT; ++i) {
        const ModelEntry& entry = model_entries()[i];
        const auto loaded = model_guesser(i);
        if (bundled_weights(entry.name).empty()) {
            ASSERT_FALSE(loaded);
            EXPECT_EQ(loaded.error(), "model " + quote(entry.name) + " has no bundled weights in this build");
            continue;
        }
        ASSERT_TRUE(loaded) << loaded.error();
        EXPECT_EQ((*loaded)->circuit, entry.circuit);
        EXPECT_TRUE((*loaded)->validate_structure()) << entry.name;
    }
}

TEST(GuessBundled, ReportsTheSlotOrGuesses) {
    const Spectrum s = rc_spectrum(30);
    const auto result = guess("(R1,C2)-R3", s, nullptr);
    if (bundled_weights("rc").empty()) {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), "weight file has an unparsable value for \"model \\\"rc\\\" has no bundled weights "
                                  "in this build\"");
        return;
    }
    ASSERT_TRUE(result) << result.error();
    ASSERT_EQ(result->size(), 3u);
    for (double v : *result) EXPECT_GT(v, 0.0);
}

TEST(GuessBundled, NoTrainingDataComesFirst) {
    const std::string message =
        "No training data on this circuit. Machine-learning based initial parameters available for 'rc', 'rc_l', "
        "'rq', 'rq_l', 'two_rc', 'two_rc_l', 'two_rq', 'two_rq_l', 'randles', 'sei_randles', 'sei_randles_wo'";
    for (std::size_t n : {0u, 1u, 20u}) {
        EXPECT_EQ(guess("R0-(R1,C1)-(R2,CPE2)", rc_spectrum(n), nullptr).error(), message);
    }
}

TEST(GuessFile, ParametersMapToTheUsersOrder) {
    const std::string path = rc_file();
    const Spectrum s = rc_spectrum(25);
    EXPECT_EQ(guess("R0-(R1,C1)", s, &path).value(), (std::vector<double>{10.0, 100.0, 1000.0}));
    EXPECT_EQ(guess("(R1,C2)-R3", s, &path).value(), (std::vector<double>{100.0, 1000.0, 10.0}));
    EXPECT_EQ(guess("R9-(C4,R7)", s, &path).value(), (std::vector<double>{10.0, 1000.0, 100.0}));
    // K gets r = R and tau_k = R * C.
    EXPECT_EQ(guess("R0-K1", s, &path).value(), (std::vector<double>{10.0, 100.0, 100.0 * 1000.0}));
    EXPECT_EQ(guess("K1-R0", s, &path).value(), (std::vector<double>{100.0, 100.0 * 1000.0, 10.0}));
}

TEST(GuessFile, ZarcTakesTheClampedExponent) {
    const Spectrum s = rc_spectrum(25);
    for (auto [raw, gamma] : {std::pair{0.75, 0.75}, std::pair{7.0, 1.0}, std::pair{-2.0, 0.05}}) {
        const std::string path = unique_path("rq");
        constant_network("R0-(R1,CPE1)", "R0.r,R1.r,CPE1.q,CPE1.alpha", {1, 2, -3, raw}, {1, 1, 1, 0}).write(path);
        const auto v = guess("R0-Zarc1", s, &path).value();
        ASSERT_EQ(v.size(), 4u);
        EXPECT_EQ(v[0], 10.0);
        EXPECT_EQ(v[1], 100.0);
        EXPECT_EQ(v[3], gamma);
        EXPECT_EQ(v[2], std::pow(100.0 * std::pow(10.0, -3.0), 1.0 / gamma));
    }
}

// The NaN exponent also reaches the user's gamma, which then starts at its
// placeholder and is reported as replaced.
TEST(GuessFile, NaNExponentCountsAsTinyInTheTimeConstantOnly) {
    const std::string path = unique_path("rq");
    constant_network("R0-(R1,CPE1)", "R0.r,R1.r,CPE1.q,CPE1.alpha", {1, 0.5, -0.5, std::nan("")}, {1, 1, 1, 0})
        .write(path);
    const Spectrum s = rc_spectrum(10);
    const auto g = guess_params(parsed("Zarc1-R0"), s.f, s.z, &path);
    ASSERT_TRUE(g) << g.error();
    EXPECT_EQ(g->values[1], std::pow(std::pow(10.0, 0.5) * std::pow(10.0, -0.5), 1e6));
    EXPECT_EQ(g->values[2], 0.8);
    EXPECT_EQ(g->values[3], 10.0);
    EXPECT_EQ(g->replaced, std::vector<std::size_t>{2});
}

TEST(GuessFile, OtherTopologyOrUnparsableCircuit) {
    const std::string path = rc_file();
    EXPECT_EQ(guess("R0-(R1,CPE1)", rc_spectrum(10), &path).error(),
              wrapped(path + " was trained for \"R0-(R1,C1)\", which is a different circuit"));
    const std::string broken = unique_path("broken");
    constant_network("R0-(R1", "R0.r", {1}).write(broken);
    EXPECT_EQ(guess("R0-(R1,C1)", rc_spectrum(10), &broken).error(), wrapped("circuit \"R0-(R1\" in " + broken));
    EXPECT_EQ(guess("R0-(R1,C1)", rc_spectrum(10), &broken).error().rfind("weight file has an unparsable value for \"circuit \\\"R0-(R1\\\" in ", 0), 0u);
}

TEST(GuessFile, UnreadableFiles) {
    const Spectrum s = rc_spectrum(10);
    const std::string missing = unique_path("missing");
    EXPECT_EQ(guess("R0-(R1,C1)", s, &missing).error(), "reading weights: No such file or directory");
    const std::string dir = fs::path(unique_path("d")).parent_path().string();
    EXPECT_EQ(guess("R0-(R1,C1)", s, &dir).error(), "reading weights: Is a directory");
    const std::string with_nul = rc_file() + std::string(1, '\0') + "x";
    EXPECT_EQ(guess("R0-(R1,C1)", s, &with_nul).error(), "reading weights: Invalid argument");
}

TEST(GuessFile, FailedLoadsAreNotCached) {
    const std::string path = unique_path("late");
    const Spectrum s = rc_spectrum(10);
    std::ofstream(path) << "EISNN002 not yet";
    EXPECT_EQ(guess("R0-(R1,C1)", s, &path).error(), "not an eisnn weight file (bad magic bytes)");
    constant_network("R0-(R1,C1)", "R0.r,R1.r,C1.c", {1, 2, 3}).write(path);
    EXPECT_EQ(guess("R0-(R1,C1)", s, &path).value(), (std::vector<double>{10.0, 100.0, 1000.0}));
}

TEST(GuessFile, LoadedFileOutlivesItsDeletionAndChanges) {
    const std::string path = rc_file();
    const Spectrum s = rc_spectrum(10);
    const auto first = guess("R0-(R1,C1)", s, &path).value();
    constant_network("R0-(R1,C1)", "R0.r,R1.r,C1.c", {4, 5, 6}).write(path);
    EXPECT_EQ(guess("R0-(R1,C1)", s, &path).value(), first);
    fs::remove(path);
    EXPECT_EQ(guess("R0-(R1,C1)", s, &path).value(), first);
}

TEST(GuessFile, ConcurrentFirstLoadOfOnePath) {
    const std::string path = rc_file();
    const Spectrum s = rc_spectrum(10);
    std::vector<std::expected<std::vector<double>, std::string>> results(6);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&] { r = guess("(C1,R1)-R0", s, &path); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, (std::vector<double>{1000.0, 100.0, 10.0}));
}

TEST(GuessFile, PointCountIsCheckedAfterTheNetworkIsChosen) {
    const std::string path = rc_file();
    EXPECT_EQ(guess("R0-(R1,C1)", rc_spectrum(1), &path).error(), "need at least 2 frequency points to guess, got 1");
    EXPECT_EQ(guess("R0-(R1,C1)", rc_spectrum(0), &path).error(), "need at least 2 frequency points to guess, got 0");
    Spectrum uneven = rc_spectrum(5);
    uneven.z.resize(1);
    EXPECT_EQ(guess("R0-(R1,C1)", uneven, &path).error(), "need at least 2 frequency points to guess, got 1");
    EXPECT_EQ(guess("R0-(R1,CPE1)", rc_spectrum(1), &path).error(),
              wrapped(path + " was trained for \"R0-(R1,C1)\", which is a different circuit"));
}

TEST(GuessFile, StructuralFaultsAreReportedUnwrapped) {
    const std::string path = unique_path("holes");
    constant_network("R0-(R1,C1)", "R0.r,R1.r,C1.c", {1, 2, 3}).drop_tensor("w.blocks.0.conv1.weight").write(path);
    EXPECT_EQ(guess("R0-(R1,C1)", rc_spectrum(1), &path).error(), "need at least 2 frequency points to guess, got 1");
    EXPECT_EQ(guess("R0-(R1,C1)", rc_spectrum(8), &path).error(), "weight file is missing \"w.blocks.0.conv1.weight\"");
}

// The file's parameter list is not tied to its circuit by the reader; a
// list shorter than the circuit must not let the mapping read past it.
TEST(GuessFile, ParameterListMustFitTheCircuit) {
    const std::string path = unique_path("short");
    constant_network("R0-(R1,C1)", "R0.r,R1.r", {1, 2}).write(path);
    EXPECT_EQ(guess("R0-(R1,C1)", rc_spectrum(8), &path).error(),
              "weight file has an unparsable value for \"param_names\"");
}

// The network reads only points with a finite, positive frequency and a
// finite impedance; the others neither count nor spoil the features.
TEST(GuessFile, UnusablePointsAreLeftOut) {
    const std::string path = rc_file();
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const Spectrum hostile{{nan, -1.0, 0.0, inf, 1e300}, {{nan, 1}, {inf, -inf}, {0, 0}, {1, -1}, {-1e300, 1e300}}};
    EXPECT_EQ(guess("R0-(R1,C1)", hostile, &path).error(),
              "need at least 2 frequency points to guess, got 1 with a finite, positive frequency and a finite "
              "impedance (of 5 points)");
    Spectrum clean = rc_spectrum(12);
    const auto expected = guess("R0-(R1,C1)", clean, &path);
    ASSERT_TRUE(expected) << expected.error();
    Spectrum spoiled = clean;
    spoiled.f.insert(spoiled.f.begin() + 3, {0.0, -5.0, nan});
    spoiled.z.insert(spoiled.z.begin() + 3, {{1, -1}, {1, -1}, {1, -1}});
    spoiled.f.push_back(20.0);
    spoiled.z.push_back({inf, 0.0});
    EXPECT_EQ(guess("R0-(R1,C1)", spoiled, &path), expected);
}

}  // namespace vorlane
