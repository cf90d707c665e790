#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fit/chacha_rng.hpp"

namespace vorlane {

namespace {

ChaChaState state_for(const std::array<std::uint32_t, 8>& key, std::uint64_t counter, std::uint64_t stream) {
    ChaChaState s{0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};
    for (int i = 0; i < 8; ++i) s[4 + i] = key[i];
    s[12] = static_cast<std::uint32_t>(counter);
    s[13] = static_cast<std::uint32_t>(counter >> 32);
    s[14] = static_cast<std::uint32_t>(stream);
    s[15] = static_cast<std::uint32_t>(stream >> 32);
    return s;
}

std::vector<std::uint8_t> bytes_of(const ChaChaState& s, std::size_t count) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t w : s)
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
    out.resize(count);
    return out;
}

}  // namespace

// RFC 8439, 2.3.2: key 00..1f, nonce 00:00:00:09:00:00:00:4a:00:00:00:00,
// block count 1. The 96-bit nonce occupies words 13-15 there, which is the
// same input state as counter 0x09000000_00000001 with stream 0x4a000000.
TEST(ChaChaBlock, Rfc8439BlockVectorWithTwentyRounds) {
    std::array<std::uint32_t, 8> key{};
    for (int i = 0; i < 8; ++i) {
        const auto b = static_cast<std::uint32_t>(4 * i);
        key[i] = b | (b + 1) << 8 | (b + 2) << 16 | (b + 3) << 24;
    }
    const ChaChaState out = chacha_block(state_for(key, 0x0900000000000001u, 0x4a000000u), 20);
    const ChaChaState expected = {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
                                  0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
                                  0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
    EXPECT_EQ(out, expected);
}

// Zero key and zero IV with the 64-bit counter/stream layout; the twenty-round
// keystream is RFC 8439 A.1 #1, the twelve-round one the published
// reduced-round test vector for the same input.
TEST(ChaChaBlock, ZeroKeyKeystreamForTwelveAndTwentyRounds) {
    const ChaChaState input = state_for({}, 0, 0);
    const std::vector<std::uint8_t> twenty = {0x76, 0xb8, 0xe0, 0xad, 0xa0, 0xf1, 0x3d, 0x90,
                                              0x40, 0x5d, 0x6a, 0xe5, 0x53, 0x86, 0xbd, 0x28};
    const std::vector<std::uint8_t> twelve = {0x9b, 0xf4, 0x9a, 0x6a, 0x07, 0x55, 0xf9, 0x53,
                                              0x81, 0x1f, 0xce, 0x12, 0x5f, 0x26, 0x83, 0xd5};
    EXPECT_EQ(bytes_of(chacha_block(input, 20), 16), twenty);
    EXPECT_EQ(bytes_of(chacha_block(input, 12), 16), twelve);
}

// Reference words computed independently with arbitrary-precision integers.
TEST(ChaChaSeeding, Pcg32KeyWords) {
    EXPECT_EQ(pcg32_key_words(0), (std::array<std::uint32_t, 8>{0xf973f2ec, 0x45cdb581, 0x7346f087, 0xad6cad06,
                                                                0xe3a3d0d0, 0x67e71733, 0x72ea9bf2, 0xfe7d8ad7}));
    EXPECT_EQ(pcg32_key_words(42), (std::array<std::uint32_t, 8>{0x7ba18fa4, 0x0a3d3258, 0xcca1b8ea, 0xb8140169,
                                                                 0x75c88c2b, 0x54f7b418, 0xa16e448d, 0xf220dfe4}));
    EXPECT_EQ(pcg32_key_words(UINT64_MAX),
              (std::array<std::uint32_t, 8>{0xe392472f, 0x102810d6, 0x952d5435, 0x435ef92c, 0x7b34e99a,
                                            0x37c5dd03, 0xb0c77a63, 0x3e612043}));
}

// The generator's words are the twelve-round blocks at counters 0, 1, 2, ...
// of stream 0, in order, across several refills.
TEST(ChaChaRng, WordsAreConsecutiveBlocksOfStreamZero) {
    const auto key = pcg32_key_words(7);
    ChaChaRng rng = ChaChaRng::from_seed(7);
    for (std::uint64_t block = 0; block < 9; ++block) {
        const ChaChaState expected = chacha_block(state_for(key, block, 0), 12);
        for (std::uint32_t word : expected) ASSERT_EQ(rng.next_u32(), word) << "block " << block;
    }
}

// With w words consumed before it, a 64-bit draw pairs words w (low) and
// w+1 (high), also when w is the last word of a 64-word buffer.
TEST(ChaChaRng, SixtyFourBitDrawsPairWordsAcrossBufferBoundaries) {
    std::vector<std::uint32_t> words;
    ChaChaRng reference = ChaChaRng::from_seed(99);
    for (int i = 0; i < 200; ++i) words.push_back(reference.next_u32());
    for (std::size_t skip : {std::size_t{0}, std::size_t{62}, std::size_t{63}, std::size_t{64}, std::size_t{127}}) {
        ChaChaRng rng = ChaChaRng::from_seed(99);
        for (std::size_t i = 0; i < skip; ++i) rng.next_u32();
        const std::uint64_t expected = (std::uint64_t{words[skip + 1]} << 32) | words[skip];
        EXPECT_EQ(rng.next_u64(), expected) << "after " << skip << " words";
        EXPECT_EQ(rng.next_u32(), words[skip + 2]);
    }
}

TEST(ChaChaRng, FloatConversionsOfExtremeBits) {
    EXPECT_EQ(ChaChaRng::unit_from_bits(0), 0.0);
    EXPECT_EQ(ChaChaRng::unit_from_bits(UINT64_MAX), 1.0 - 0x1p-52);
    EXPECT_EQ(ChaChaRng::unit_from_bits(std::uint64_t{1} << 63), 0.5);
    EXPECT_EQ(ChaChaRng::unit_from_bits(0xfff), 0.0);  // the low 12 bits are dropped
    EXPECT_EQ(ChaChaRng::probability_from_bits(0), 0.0);
    EXPECT_EQ(ChaChaRng::probability_from_bits(UINT64_MAX), 1.0 - 0x1p-53);
    EXPECT_EQ(ChaChaRng::probability_from_bits(std::uint64_t{1} << 11), 0x1p-53);
}

TEST(ChaChaRng, BetweenDrawsOnlyForDistinctLimitsAndAcceptsEitherOrder) {
    ChaChaRng a = ChaChaRng::from_seed(5);
    ChaChaRng b = ChaChaRng::from_seed(5);
    EXPECT_EQ(a.between(3.0, 3.0), 3.0);  // nothing drawn
    const double u = b.unit();
    EXPECT_EQ(a.between(4.0, -2.0), -2.0 + 6.0 * u);
    EXPECT_EQ(a.next_u32(), b.next_u32());
}

TEST(ChaChaRng, UnseededSourcesDiffer) {
    auto a = ChaChaRng::from_entropy();
    auto b = ChaChaRng::from_entropy();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->next_u64(), b->next_u64());
}

}  // namespace vorlane
