// The unseeded random source of differential evolution: Marsaglia's
// xorshift128 on four 32-bit words, keyed by operating-system entropy.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vorlane {

class XorShiftRng {
public:
    // An all-zero state would stay zero forever; it is replaced by
    // Marsaglia's published starting words.
    explicit XorShiftRng(const std::array<std::uint32_t, 4>& state);
    // Nothing when the operating system gives no entropy.
    static std::optional<XorShiftRng> from_entropy();

    std::uint32_t next_u32();
    // [0, 1) in single precision: the top 24 bits scaled by 2^-24.
    float unit_f32() { return static_cast<float>(next_u32() >> 8) * 0x1p-24f; }
    // Uniform in 0 .. n-1 without modulo bias (Lemire's multiply-and-reject);
    // n must be positive.
    std::uint32_t below(std::uint32_t n);

private:
    std::uint32_t x_, y_, z_, w_;
};

}  // namespace vorlane
