// ChaCha block function (D. J. Bernstein, "ChaCha, a variant of Salsa20"),
// PCG32 key expansion (M. O'Neill, PCG XSH RR) and the buffered draws.
#include "fit/chacha_rng.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace vorlane {

namespace {

constexpr std::array<std::uint32_t, 4> SIGMA = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};

inline void quarter_round(ChaChaState& s, int a, int b, int c, int d) {
    s[a] += s[b]; s[d] = std::rotl(s[d] ^ s[a], 16);
    s[c] += s[d]; s[b] = std::rotl(s[b] ^ s[c], 12);
    s[a] += s[b]; s[d] = std::rotl(s[d] ^ s[a], 8);
    s[c] += s[d]; s[b] = std::rotl(s[b] ^ s[c], 7);
}

// Calls read_some(out, size) until `size` bytes arrived; interrupted and
// short reads continue, an error or an end of data fails.
template <class ReadSome>
bool fill_bytes(ReadSome read_some, unsigned char* out, std::size_t size) {
    while (size > 0) {
        const ssize_t got = read_some(out, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool getrandom_all(unsigned char* out, std::size_t size) {
    return fill_bytes([](unsigned char* p, std::size_t n) { return getrandom(p, n, 0); }, out, size);
}

bool urandom_all(unsigned char* out, std::size_t size) {
    int fd;
    do {
        fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    const bool ok = fill_bytes([fd](unsigned char* p, std::size_t n) { return read(fd, p, n); }, out, size);
    close(fd);
    return ok;
}

}  // namespace

ChaChaState chacha_block(const ChaChaState& input, int rounds) {
    ChaChaState s = input;
    for (int r = 0; r < rounds; r += 2) {
        quarter_round(s, 0, 4, 8, 12);
        quarter_round(s, 1, 5, 9, 13);
        quarter_round(s, 2, 6, 10, 14);
        quarter_round(s, 3, 7, 11, 15);
        quarter_round(s, 0, 5, 10, 15);
        quarter_round(s, 1, 6, 11, 12);
        quarter_round(s, 2, 7, 8, 13);
        quarter_round(s, 3, 4, 9, 14);
    }
    for (std::size_t i = 0; i < s.size(); ++i) s[i] += input[i];
    return s;
}

std::array<std::uint32_t, 8> pcg32_key_words(std::uint64_t seed) {
    constexpr std::uint64_t MULTIPLIER = 6364136223846793005u;
    constexpr std::uint64_t INCREMENT = 11634580027462260723u;
    std::array<std::uint32_t, 8> key{};
    std::uint64_t state = seed;
    for (auto& word : key) {
        state = state * MULTIPLIER + INCREMENT;
        const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
        word = std::rotr(xorshifted, static_cast<int>(state >> 59));
    }
    return key;
}

bool fill_from_os_entropy(std::span<std::uint32_t> words) {
    auto* bytes = reinterpret_cast<unsigned char*>(words.data());
    const std::size_t size = words.size_bytes();
    return getrandom_all(bytes, size) || urandom_all(bytes, size);
}

ChaChaRng::ChaChaRng(const std::array<std::uint32_t, 8>& key) {
    std::copy(SIGMA.begin(), SIGMA.end(), input_.begin());
    std::copy(key.begin(), key.end(), input_.begin() + 4);
    // Block counter (words 12-13) and stream (words 14-15) start at 0.
}

std::optional<ChaChaRng> ChaChaRng::from_entropy() {
    std::array<std::uint32_t, 8> key{};
    if (!fill_from_os_entropy(key)) return std::nullopt;
    return ChaChaRng(key);
}

std::optional<ChaChaRng> ChaChaRng::from_seed_or_entropy(std::optional<std::uint64_t> seed) {
    if (seed) return from_seed(*seed);
    return from_entropy();
}

void ChaChaRng::refill() {
    for (std::size_t b = 0; b < BLOCKS_PER_REFILL; ++b) {
        const ChaChaState block = chacha_block(input_, ROUNDS);
        std::copy(block.begin(), block.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(16 * b));
        const std::uint64_t counter = ((std::uint64_t{input_[13]} << 32) | input_[12]) + 1;
        input_[12] = static_cast<std::uint32_t>(counter);
        input_[13] = static_cast<std::uint32_t>(counter >> 32);
    }
    index_ = 0;
}

std::uint32_t ChaChaRng::next_u32() {
    if (index_ >= BUFFER_WORDS) refill();
    return buffer_[index_++];
}

std::uint64_t ChaChaRng::next_u64() {
    const std::uint64_t low = next_u32();
    const std::uint64_t high = next_u32();
    return (high << 32) | low;
}

double ChaChaRng::between(double a, double b) {
    if (a == b) return a;
    const double lo = a > b ? b : a;
    const double hi = a > b ? a : b;
    return lo + (hi - lo) * unit();
}

double ChaChaRng::unit_from_bits(std::uint64_t x) {
    constexpr std::uint64_t ONE_BITS = 0x3ff0000000000000u;
    return std::bit_cast<double>((x >> 12) | ONE_BITS) - 1.0;
}

double ChaChaRng::probability_from_bits(std::uint64_t x) {
    constexpr double TWO_POW_MINUS_53 = 1.0 / 9007199254740992.0;
    return static_cast<double>(x >> 11) * TWO_POW_MINUS_53;
}

}  // namespace vorlane
