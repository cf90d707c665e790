// The seeded random source of the global methods: ChaCha with 12 rounds,
// keyed by PCG32 output from a 64-bit seed or by operating-system entropy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vorlane {

using ChaChaState = std::array<std::uint32_t, 16>;

// One ChaCha block: `rounds` rounds (an even number) over `input`, then the
// input added word by word. Words 12-13 hold the 64-bit block counter (low
// word first), words 14-15 the 64-bit stream number.
ChaChaState chacha_block(const ChaChaState& input, int rounds);

// The eight key words a 64-bit seed expands to: successive PCG32 outputs
// (XSH RR), each taken after one step of the 64-bit LCG started at `seed`.
std::array<std::uint32_t, 8> pcg32_key_words(std::uint64_t seed);

// Fills `words` from getrandom, falling back to /dev/urandom; false when
// neither delivers.
bool fill_from_os_entropy(std::span<std::uint32_t> words);

class ChaChaRng {
public:
    static constexpr int ROUNDS = 12;
    static constexpr std::size_t BLOCKS_PER_REFILL = 4;
    static constexpr std::size_t BUFFER_WORDS = 16 * BLOCKS_PER_REFILL;

    explicit ChaChaRng(const std::array<std::uint32_t, 8>& key);
    static ChaChaRng from_seed(std::uint64_t seed) { return ChaChaRng(pcg32_key_words(seed)); }
    // Nothing when the operating system gives no entropy.
    static std::optional<ChaChaRng> from_entropy();
    // Seeded from `seed` when given, else from the operating system.
    static std::optional<ChaChaRng> from_seed_or_entropy(std::optional<std::uint64_t> seed);

    std::uint32_t next_u32();
    // Two consecutive words, the first as the low half, also across refills.
    std::uint64_t next_u64();

    // [0, 1): the top 52 bits as the fraction of a double in [1, 2), minus 1.
    double unit() { return unit_from_bits(next_u64()); }
    // a when a == b (nothing drawn), else min + (max - min) * unit().
    double between(double a, double b);
    // [0, 1) with 53 bits of resolution.
    double probability() { return probability_from_bits(next_u64()); }

    static double unit_from_bits(std::uint64_t x);
    static double probability_from_bits(std::uint64_t x);

private:
    void refill();

    ChaChaState input_{};
    std::array<std::uint32_t, BUFFER_WORDS> buffer_{};
    std::size_t index_ = BUFFER_WORDS;
};

}  // namespace vorlane
