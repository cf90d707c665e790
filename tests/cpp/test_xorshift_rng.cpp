#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "fit/xorshift_rng.hpp"

namespace vorlane {

// Marsaglia's xor128 from (123456789, 362436069, 521288629, 88675123); an
// all-zero state falls back to exactly those words.
TEST(XorShiftRng, PublishedSequenceAndZeroStateFallback) {
    for (const auto& state : {std::array<std::uint32_t, 4>{123456789u, 362436069u, 521288629u, 88675123u},
                              std::array<std::uint32_t, 4>{}}) {
        XorShiftRng rng(state);
        EXPECT_EQ(rng.next_u32(), 3701687786u);
        EXPECT_EQ(rng.next_u32(), 458299110u);
        EXPECT_EQ(rng.next_u32(), 2500872618u);
    }
}

TEST(XorShiftRng, UnitDrawsStayInTheHalfOpenInterval) {
    XorShiftRng rng({1, 2, 3, 4});
    for (int i = 0; i < 100000; ++i) {
        const float u = rng.unit_f32();
        ASSERT_GE(u, 0.0f);
        ASSERT_LT(u, 1.0f);
    }
}

class XorShiftBelow : public ::testing::TestWithParam<std::uint32_t> {};

// Every value of the range occurs, none outside it, with frequencies close to
// uniform (a modulo reduction of 2^32 by 3 * 2^30 + 1 would be far off).
TEST_P(XorShiftBelow, CoversTheRangeUniformly) {
    const std::uint32_t n = GetParam();
    XorShiftRng rng({9, 8, 7, 6});
    if (n <= 100) {
        std::vector<int> hits(n, 0);
        const int draws = 2000 * static_cast<int>(n);
        for (int i = 0; i < draws; ++i) {
            const std::uint32_t k = rng.below(n);
            ASSERT_LT(k, n);
            ++hits[k];
        }
        for (int h : hits) EXPECT_NEAR(h, 2000, 300);
    } else {
        int low_half = 0;
        for (int i = 0; i < 100000; ++i) {
            const std::uint32_t k = rng.below(n);
            ASSERT_LT(k, n);
            low_half += k < n / 2;
        }
        EXPECT_NEAR(low_half, 50000, 800);
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, XorShiftBelow, ::testing::Values(1u, 2u, 3u, 100u, 3u * (1u << 30) + 1u));

TEST(XorShiftRng, EntropySeededSourcesDiffer) {
    auto a = XorShiftRng::from_entropy();
    auto b = XorShiftRng::from_entropy();
    ASSERT_TRUE(a && b);
    const std::uint64_t from_a = (std::uint64_t{a->next_u32()} << 32) | a->next_u32();
    const std::uint64_t from_b = (std::uint64_t{b->next_u32()} << 32) | b->next_u32();
    EXPECT_NE(from_a, from_b);
}

}  // namespace vorlane
