// Weight-file reader: byte layout, every error, hostile lengths, metadata.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "eisnn_test_files.hpp"
#include "nn/guesser.hpp"
#include "nn/meta_values.hpp"
#include "unwrap.hpp"

namespace vorlane {
using eisnn_test::FileBuilder;
using eisnn_test::Record;

namespace {

std::string load_error(const std::vector<std::uint8_t>& bytes) {
    const auto g = Guesser::from_bytes(bytes);
    return g ? std::string("<loaded>") : g.error().message();
}

FileBuilder valid_file() { return eisnn_test::network_file({}); }

// A file whose last record is `r`, placed after a complete valid file body.
std::vector<std::uint8_t> with_record(Record r) { return valid_file().record(std::move(r)).bytes(); }

Record raw_record(std::string name, std::uint8_t encoding, std::vector<std::uint32_t> shape,
                  std::vector<std::uint8_t> data) {
    return Record{std::move(name), encoding, std::move(shape), std::move(data)};
}

const Tensor& loaded_tensor(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    static thread_local std::optional<Guesser> keep;
    keep = test::unwrap(Guesser::from_bytes(bytes));
    return *keep->tensor(name).value();
}

}  // namespace

TEST(WeightReader, LoadsEveryField) {
    const auto g = Guesser::from_bytes(valid_file().meta("param_names", "a,,b").meta("extra", "ignored").bytes());
    ASSERT_TRUE(g.has_value()) << g.error().message();
    EXPECT_EQ(g->circuit, "R0-(R1,C1)");
    EXPECT_EQ(g->param_names, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(g->dilations, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(g->n_grid, 8u);
    EXPECT_EQ(g->channels, 4u);
    EXPECT_EQ(g->kernel, 3u);
    EXPECT_EQ(g->groups, 2u);
    EXPECT_EQ(g->alpha_min, 0.05);
    EXPECT_EQ(g->alpha_max, 1.0);
    EXPECT_EQ(g->log_params, (std::vector<bool>{true, true, true}));
    ASSERT_EQ(g->scaling.size(), 3u);
    EXPECT_EQ(g->scaling[0].z_exponent, 1.0);
    EXPECT_EQ(g->scaling[0].coupled, -1);
    EXPECT_EQ(g->tensor("w.stem.weight").value()->shape, (std::vector<std::size_t>{4, 3, 3}));
    EXPECT_EQ(g->tensor("nope").error().message(), "weight file is missing \"nope\"");
}

TEST(WeightReader, EmptyParamNamesGiveOneEmptyName) {
    const auto g = Guesser::from_bytes(valid_file().meta("param_names", "").bytes());
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->param_names, std::vector<std::string>{""});
}

TEST(WeightReader, MagicAndHeaderLengths) {
    const std::vector<std::uint8_t> magic = {'E', 'I', 'S', 'N', 'N', '0', '0', '1'};
    EXPECT_EQ(load_error({}), "weight file is truncated");
    EXPECT_EQ(load_error(std::vector<std::uint8_t>(magic.begin(), magic.begin() + 7)), "weight file is truncated");
    EXPECT_EQ(load_error({'E', 'I', 'S', 'N', 'N', '0', '0', '2'}), "not an eisnn weight file (bad magic bytes)");
    EXPECT_EQ(load_error({'E', 'I', 'S', 'N', 'N', '0', '0', '2', 0, 0}), "not an eisnn weight file (bad magic bytes)");
    EXPECT_EQ(load_error(magic), "weight file is truncated");
    auto eleven = magic;
    eleven.insert(eleven.end(), {0, 0, 0});
    EXPECT_EQ(load_error(eleven), "weight file is truncated");
}

// Cutting a valid file anywhere leaves a truncated file, never a crash or a
// different error; bytes after the last record are ignored.
TEST(WeightReader, EveryPrefixIsTruncated) {
    const auto bytes = valid_file().bytes();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_EQ(load_error(prefix), "weight file is truncated") << "prefix of " << n << " bytes";
    }
    auto padded = bytes;
    padded.insert(padded.end(), {1, 2, 3});
    EXPECT_EQ(load_error(padded), "<loaded>");
}

TEST(WeightReader, InvalidUtf8IsTruncated) {
    for (const std::string bad : {"\xff", "\xc0\x80", "\xed\xa0\x80", "a\xe2\x82", "\xf4\x90\x80\x80"}) {
        EXPECT_EQ(load_error(valid_file().meta("circuit", bad).bytes()), "weight file is truncated");
        EXPECT_EQ(load_error(valid_file().meta(bad, "x").bytes()), "weight file is truncated");
        EXPECT_EQ(load_error(with_record(eisnn_test::f32_record(bad, {}, {1.0}))), "weight file is truncated");
    }
    EXPECT_EQ(load_error(valid_file().meta("circuit", "R\xce\xa9").bytes()), "<loaded>");
}

struct HostileCase {
    const char* what;
    Record record;
    const char* message;
};

class HostileRecords : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileRecords, FailWithoutAllocating) {
    EXPECT_EQ(load_error(with_record(GetParam().record)), GetParam().message);
}

constexpr std::uint32_t U32_MAX = 0xFFFFFFFFu;

INSTANTIATE_TEST_SUITE_P(
    WeightReader, HostileRecords,
    ::testing::Values(
        // Four dimensions of 2^32 - 1 multiply to more than 2^128.
        HostileCase{"huge_binary32", raw_record("x", 0, {U32_MAX, U32_MAX, U32_MAX, U32_MAX, U32_MAX}, {0, 0}),
                    "weight file is truncated"},
        HostileCase{"huge_int8", raw_record("x", 2, std::vector<std::uint32_t>(255, U32_MAX), {0, 0, 0, 0, 1}),
                    "weight file is truncated"},
        HostileCase{"one_short", raw_record("x", 0, {3}, std::vector<std::uint8_t>(11)), "weight file is truncated"},
        HostileCase{"half_one_short", raw_record("x", 1, {2, 2}, std::vector<std::uint8_t>(7)),
                    "weight file is truncated"},
        HostileCase{"int8_without_scale", raw_record("x", 2, {}, {0, 0, 0}), "weight file is truncated"},
        HostileCase{"unknown_encoding", raw_record("x", 3, {U32_MAX, U32_MAX}, {}),
                    "weight file uses tensor encoding 3, which this build does not know"},
        HostileCase{"encoding_255", raw_record("x", 255, {}, {}),
                    "weight file uses tensor encoding 255, which this build does not know"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(WeightReader, UnknownEncodingOnlyAfterCompleteDimensions) {
    auto bytes = with_record(raw_record("x", 3, {1, 2}, {}));
    bytes.pop_back();
    EXPECT_EQ(load_error(bytes), "weight file is truncated");
}

TEST(WeightReader, HugeCountsAndLengthsAreTruncated) {
    std::vector<std::uint8_t> bytes = {'E', 'I', 'S', 'N', 'N', '0', '0', '1'};
    eisnn_test::put_u32(bytes, U32_MAX);  // metadata pairs
    EXPECT_EQ(load_error(bytes), "weight file is truncated");
    eisnn_test::put_u32(bytes, U32_MAX);  // key length
    bytes.insert(bytes.end(), 64, 'a');
    EXPECT_EQ(load_error(bytes), "weight file is truncated");

    std::vector<std::uint8_t> tensors = {'E', 'I', 'S', 'N', 'N', '0', '0', '1', 0, 0, 0, 0};
    eisnn_test::put_u32(tensors, U32_MAX);
    EXPECT_EQ(load_error(tensors), "weight file is truncated");
}

TEST(WeightReader, ZeroDimensionHoldsExactlyOneElement) {
    // A zero among huge dimensions still stores one value.
    const Tensor& t = loaded_tensor(with_record(eisnn_test::f32_record("z", {U32_MAX, 0, U32_MAX}, {2.5})), "z");
    EXPECT_EQ(t.shape, (std::vector<std::size_t>{U32_MAX, 0, U32_MAX}));
    EXPECT_EQ(t.data, std::vector<double>{2.5});
    const Tensor& scalar = loaded_tensor(with_record(eisnn_test::f32_record("s", {}, {-3.0})), "s");
    EXPECT_TRUE(scalar.shape.empty());
    EXPECT_EQ(scalar.data, std::vector<double>{-3.0});
    // The single element of [0] is consumed: the record after it still reads.
    auto b = valid_file();
    b.record(eisnn_test::f32_record("z", {0}, {7.0})).tensor("after", {1}, {9.0});
    EXPECT_EQ(loaded_tensor(b.bytes(), "after").data, std::vector<double>{9.0});
}

TEST(WeightReader, Binary16DecodesExactly) {
    const std::vector<std::pair<std::uint16_t, double>> cases = {
        {0x3C00, 1.0},
        {0x0001, std::ldexp(1.0, -24)},
        {0x03FF, std::ldexp(1023.0, -24)},
        {0x0400, std::ldexp(1.0, -14)},
        {0x7BFF, 65504.0},
        {0xC000, -2.0},
        {0x3555, 0.333251953125},
        {0x7C00, std::numeric_limits<double>::infinity()},
        {0xFC00, -std::numeric_limits<double>::infinity()},
    };
    std::vector<std::uint8_t> data;
    for (auto [bits, value] : cases) data.insert(data.end(), {std::uint8_t(bits & 0xFF), std::uint8_t(bits >> 8)});
    data.insert(data.end(), {0x00, 0x7E, 0x01, 0xFC, 0x00, 0x80});  // NaN, NaN with sign, -0
    const auto n = static_cast<std::uint32_t>(cases.size() + 3);
    const Tensor& t = loaded_tensor(with_record(raw_record("h", 1, {n}, data)), "h");
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(t.data[i], cases[i].second) << i;
    EXPECT_TRUE(std::isnan(t.data[cases.size()]));
    EXPECT_TRUE(std::isnan(t.data[cases.size() + 1]));
    EXPECT_EQ(t.data[cases.size() + 2], 0.0);
    EXPECT_TRUE(std::signbit(t.data[cases.size() + 2]));
}

TEST(WeightReader, ScaledInt8) {
    std::vector<std::uint8_t> data;
    eisnn_test::put_f32(data, 0.5f);
    data.insert(data.end(), {0x02, 0xFF, 0x80, 0x7F});
    const Tensor& t = loaded_tensor(with_record(raw_record("q", 2, {2, 2}, data)), "q");
    EXPECT_EQ(t.data, (std::vector<double>{1.0, -0.5, -64.0, 63.5}));
    // The scale is widened before the product: 0.1f * 3 in double, not in float.
    std::vector<std::uint8_t> tenth;
    eisnn_test::put_f32(tenth, 0.1f);
    tenth.push_back(3);
    EXPECT_EQ(loaded_tensor(with_record(raw_record("t", 2, {1}, tenth)), "t").data[0], double(0.1f) * 3.0);
}

TEST(WeightReader, RepeatedNamesLastWins) {
    auto b = valid_file();
    b.append(eisnn_test::f32_record("target_mean", {3}, {7.0, 8.0, 9.0})).append_meta("n_grid", "4");
    const auto g = Guesser::from_bytes(b.bytes());
    ASSERT_TRUE(g.has_value()) << g.error().message();
    EXPECT_EQ(g->target_mean, (std::vector<double>{7.0, 8.0, 9.0}));
    EXPECT_EQ(g->n_grid, 4u);
}

struct MetaCase {
    const char* key;
    const char* value;  // nullptr: the key is left out
    const char* message;
};

class MetadataErrors : public ::testing::TestWithParam<MetaCase> {};

TEST_P(MetadataErrors, Message) {
    auto b = valid_file();
    if (GetParam().value) {
        b.meta(GetParam().key, GetParam().value);
    } else {
        b.drop_meta(GetParam().key);
    }
    EXPECT_EQ(load_error(b.bytes()), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    WeightReader, MetadataErrors,
    ::testing::Values(
        MetaCase{"alpha_max", nullptr, "weight file is missing \"alpha_max\""},
        MetaCase{"circuit", nullptr, "weight file is missing \"circuit\""},
        MetaCase{"dilations", nullptr, "weight file is missing \"dilations\""},
        MetaCase{"estimator", nullptr, "weight file is missing \"estimator\""},
        MetaCase{"estimator", "median",
                 "weight file was normalised with the \"median\" scale estimator, which this build does not implement "
                 "(supported: reactive_centroid)"},
        MetaCase{"estimator", "Reactive_centroid",
                 "weight file was normalised with the \"Reactive_centroid\" scale estimator, which this build does "
                 "not implement (supported: reactive_centroid)"},
        MetaCase{"n_grid", " 64", "weight file has an unparsable value for \"n_grid\""},
        MetaCase{"n_grid", "64 ", "weight file has an unparsable value for \"n_grid\""},
        MetaCase{"n_grid", "-1", "weight file has an unparsable value for \"n_grid\""},
        MetaCase{"n_grid", "", "weight file has an unparsable value for \"n_grid\""},
        MetaCase{"n_grid", "+", "weight file has an unparsable value for \"n_grid\""},
        MetaCase{"channels", "18446744073709551616", "weight file has an unparsable value for \"channels\""},
        MetaCase{"kernel", "5.0", "weight file has an unparsable value for \"kernel\""},
        MetaCase{"groups", "0x8", "weight file has an unparsable value for \"groups\""},
        MetaCase{"dilations", "", "weight file has an unparsable value for \"dilations\""},
        MetaCase{"dilations", "1,,2", "weight file has an unparsable value for \"dilations\""},
        MetaCase{"dilations", "1,2,", "weight file has an unparsable value for \"dilations\""},
        MetaCase{"dilations", "1;2", "weight file has an unparsable value for \"dilations\""},
        MetaCase{"alpha_min", " 0.05", "weight file has an unparsable value for \"alpha_min\""},
        MetaCase{"alpha_max", "1,0", "weight file has an unparsable value for \"alpha_max\""}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// Steps run in a fixed order: the first problem met is the one reported.
TEST(WeightReader, ErrorOrder) {
    auto b = valid_file();
    b.drop_tensor("target_std").drop_tensor("scaling").drop_meta("circuit").meta("estimator", "median");
    EXPECT_EQ(load_error(b.bytes()), "weight file is missing \"target_std\"");
    b.drop_tensor("target_mean");
    EXPECT_EQ(load_error(b.bytes()), "weight file is missing \"target_mean\"");
    auto c = valid_file();
    c.drop_tensor("scaling").drop_tensor("log_params");
    EXPECT_EQ(load_error(c.bytes()), "weight file is missing \"log_params\"");
    auto d = valid_file();
    d.meta("dilations", "x").meta("estimator", "median");
    EXPECT_EQ(load_error(d.bytes()), "weight file has an unparsable value for \"dilations\"");
    auto e = valid_file();
    e.meta("estimator", "median").drop_meta("circuit");
    EXPECT_NE(load_error(e.bytes()).find("median"), std::string::npos);
    auto f = valid_file();
    f.meta("n_grid", "x").meta("channels", "y");
    EXPECT_EQ(load_error(f.bytes()), "weight file has an unparsable value for \"n_grid\"");
}

TEST(WeightReader, ScalingMustHoldFourValuesPerParameter) {
    auto b = valid_file();
    b.tensor("target_mean", {4}, {0, 0, 0, 0}).tensor("scaling", {3, 4}, std::vector<double>(12, 0.0));
    EXPECT_EQ(load_error(b.bytes()), "tensor \"scaling\" has 12 elements, expected 16");
    b.tensor("scaling", {17}, std::vector<double>(17, 0.0));
    EXPECT_EQ(load_error(b.bytes()), "tensor \"scaling\" has 17 elements, expected 16");
}

TEST(WeightReader, CoupledIndexRounding) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> fourth = {2.5, -2.5, 1e10, -1e10, nan, -0.4, 0.49999997};
    const std::vector<std::int32_t> expected = {3, -3, 2147483647, -2147483647 - 1, 0, 0, 0};
    std::vector<double> rows;
    for (double v : fourth) rows.insert(rows.end(), {0, 0, 0, v});
    auto b = valid_file();
    b.tensor("target_mean", {7}, std::vector<double>(7, 0.0)).tensor("scaling", {7, 4}, rows);
    const auto g = Guesser::from_bytes(b.bytes());
    ASSERT_TRUE(g.has_value()) << g.error().message();
    for (std::size_t i = 0; i < fourth.size(); ++i) EXPECT_EQ(g->scaling[i].coupled, expected[i]) << i;
}

TEST(WeightReader, LogParamsAreNonZeroFlags) {
    auto b = valid_file();
    b.tensor("log_params", {3}, {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()});
    const auto g = Guesser::from_bytes(b.bytes());
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->log_params, (std::vector<bool>{false, false, true}));
}

TEST(MetaValues, Sizes) {
    EXPECT_EQ(parse_size("+64"), 64u);
    EXPECT_EQ(parse_size("007"), 7u);
    EXPECT_EQ(parse_size("18446744073709551615"), std::numeric_limits<std::size_t>::max());
    for (const char* bad : {"", "+", "++1", "-0", " 1", "1 ", "1e3", "\xd9\xa1"}) EXPECT_FALSE(parse_size(bad)) << bad;
}

TEST(MetaValues, Floats) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<const char*, double>> good = {
        {"1e-3", 1e-3}, {"+0.5", 0.5}, {"-2", -2.0}, {".5", 0.5}, {"5.", 5.0}, {"1E+2", 100.0},
        {"inf", inf}, {"-Infinity", -inf}, {"INF", inf}, {"1e400", inf}, {"-1e400", -inf},
        {"1e-400", 0.0}, {"4.9e-324", 4.9e-324}, {"0.1", 0.1}, {"00012.5e0", 12.5},
        {"1000000000000000000000000000000e-330", 1e-300}};
    for (auto [text, value] : good) {
        const auto parsed = parse_float(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(*parsed, value) << text;
    }
    EXPECT_TRUE(std::isnan(*parse_float("nan")));
    EXPECT_TRUE(std::isnan(*parse_float("NaN")));
    EXPECT_TRUE(std::signbit(*parse_float("-0.0")));
    for (const char* bad : {"", " 1", "1 ", "0x10", "nan(1)", "e5", "1e", "1e+", ".", "-", "in", "infinit", "1.2.3",
                            "+-1", "1,5", "\xd9\xa1"}) {
        EXPECT_FALSE(parse_float(bad)) << bad;
    }
}

TEST(MetaValues, SizeLists) {
    EXPECT_EQ(parse_size_list("1, 2,4"), (std::vector<std::size_t>{1, 2, 4}));
    EXPECT_EQ(parse_size_list(" 8\t"), std::vector<std::size_t>{8});
    EXPECT_EQ(parse_size_list("1,\xc2\xa0" "2\xe3\x80\x80"), (std::vector<std::size_t>{1, 2}));
    for (const char* bad : {"", ",", "1,,2", " , 1", "1 2", "-1"}) EXPECT_FALSE(parse_size_list(bad)) << bad;
}

TEST(NnErrorMessages, QuotingAndNumbers) {
    EXPECT_EQ(NnError::missing("a\"b\\c\n").message(), "weight file is missing \"a\\\"b\\\\c\\n\"");
    EXPECT_EQ(NnError::unparsable("circuit \"R0\" in x").message(),
              "weight file has an unparsable value for \"circuit \\\"R0\\\" in x\"");
    EXPECT_EQ((NnError{NnError::Kind::Io, "No such file or directory"}.message()),
              "reading weights: No such file or directory");
    EXPECT_EQ((NnError{NnError::Kind::TooFewPoints, {}, 1}.message()),
              "need at least 2 frequency points to guess, got 1");
    EXPECT_EQ(NnError::shape_mismatch("head.0", 34, 33).message(), "tensor \"head.0\" has 34 elements, expected 33");
}

}  // namespace vorlane
