// xorshift128 (G. Marsaglia, "Xorshift RNGs", 2003) and bounded integers by
// D. Lemire, "Fast random integer generation in an interval", 2019.
#include "fit/xorshift_rng.hpp"

#include <span>

#include "fit/chacha_rng.hpp"

namespace vorlane {

XorShiftRng::XorShiftRng(const std::array<std::uint32_t, 4>& state)
    : x_(state[0]), y_(state[1]), z_(state[2]), w_(state[3]) {
    if ((x_ | y_ | z_ | w_) == 0) {
        x_ = 123456789u;
        y_ = 362436069u;
        z_ = 521288629u;
        w_ = 88675123u;
    }
}

std::optional<XorShiftRng> XorShiftRng::from_entropy() {
    std::array<std::uint32_t, 4> state{};
    if (!fill_from_os_entropy(state)) return std::nullopt;
    return XorShiftRng(state);
}

std::uint32_t XorShiftRng::next_u32() {
    const std::uint32_t t = x_ ^ (x_ << 11);
    x_ = y_;
    y_ = z_;
    z_ = w_;
    w_ = w_ ^ (w_ >> 19) ^ (t ^ (t >> 8));
    return w_;
}

std::uint32_t XorShiftRng::below(std::uint32_t n) {
    std::uint64_t m = std::uint64_t{next_u32()} * n;
    auto low = static_cast<std::uint32_t>(m);
    if (low < n) {
        const std::uint32_t threshold = (0u - n) % n;
        while (low < threshold) {
            m = std::uint64_t{next_u32()} * n;
            low = static_cast<std::uint32_t>(m);
        }
    }
    return static_cast<std::uint32_t>(m >> 32);
}

}  // namespace vorlane
