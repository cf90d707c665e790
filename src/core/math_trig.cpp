// sin, cos and sincos, and the reduction of their argument by multiples of
// pi/2.
//
// Reduction: x = n pi/2 + y with |y| <= pi/4 (plus a rounding), y as a
// double-double. Below 2^19 this is Cody and Waite's: pi/2 in a 33-bit head,
// whose product with n is exact, and a double for the rest; when the result
// has cancelled so much that the rest's rounding would matter, and for all
// larger x, it is Payne and Hanek's: the product of x's 53-bit integer
// significand with a 192-bit window of the bits of 2/pi, taken at x's
// exponent, gives x 2/pi modulo 4 to within 2^-137, which covers the worst
// cancellation any double suffers (about 61 bits).
//
// Kernel: for |y| < 1/8, sin y = y + y^3 S(y^2) and cos y = 1 - y^2/2 +
// y^4 C(y^2). Above, the table-driven method: y = a + t with a = j/64 and
// |t| <= 1/128, and sin y = sin a + cos a t + (sin a (cos t - 1) + cos a
// (sin t - t)), cos y likewise, with sin a and cos a tabulated to about
// 2^-107 and sin t - t, cos t - 1 from the same two polynomials. The terms
// after the first two are below 1/16 of the result, so their roundings are
// small against the final one.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/math.hpp"

namespace vorlane::math {

namespace {

using detail::DoubleDouble;
using detail::fast_two_sum;
using detail::from_bits;
using detail::to_bits;

// sin y = y + y^3 (S3 + S5 z + S7 z^2 + S9 z^3), z = y^2 <= 1/64: relative
// error below 2^-62.
constexpr double S3 = -0x1.5555555555555p-3;
constexpr double S5 = 0x1.111111110db1ep-7;
constexpr double S7 = -0x1.a01a00929efe2p-13;
constexpr double S9 = 0x1.71c34e2b6e66bp-19;
// cos y = 1 - z/2 + z^2 (C4 + C6 z + C8 z^2 + C10 z^3): error below 2^-70.
constexpr double C4 = 0x1.5555555555555p-5;
constexpr double C6 = -0x1.6c16c16c1481fp-10;
constexpr double C8 = 0x1.a01a00ec71612p-16;
constexpr double C10 = -0x1.27d30898a8f9ep-22;

inline double sin_poly(double z) noexcept { return (S3 + z * S5) + (z * z) * (S7 + z * S9); }
inline double cos_poly(double z) noexcept { return (C4 + z * C6) + (z * z) * (C8 + z * C10); }

// sin(j/64) and cos(j/64), each as head and rest, for j = 8 ... 50.
struct SinCosEntry {
    double sin_hi;
    double sin_lo;
    double cos_hi;
    double cos_lo;
};
constexpr int SINCOS_FIRST = 8;
constexpr SinCosEntry SINCOS_TABLE[] = {
    {0x1.feaaeee86ee36p-4, -0x1.afcb2bcc6f03bp-59, 0x1.fc015527d5bd3p-1, 0x1.b68f35094efb8p-55},
    {0x1.1f0d3d7afceafp-3, -0x1.6ef95099769a5p-57, 0x1.faf22263c4bd3p-1, -0x1.52ace133a2769p-58},
    {0x1.3eb312c5d66cbp-3, 0x1.47d666b66cb91p-57, 0x1.f9c340a7cc428p-1, 0x1.c5b6b063b7462p-55},
    {0x1.5e44fcfa126f3p-3, -0x1.6f443063f89b6p-57, 0x1.f874c2e1eecf6p-1, -0x1.c6514e1332b16p-55},
    {0x1.7dc102fbaf2b5p-3, 0x1.5ab50e23c97c3p-59, 0x1.f706bdf9ece1cp-1, -0x1.698c80c36dcb4p-55},
    {0x1.9d252d0cec312p-3, 0x1.9c43d80b1137dp-58, 0x1.f57948cff6797p-1, 0x1.e3a0d3e03b1d4p-57},
    {0x1.bc6f84edc6199p-3, 0x1.9c1a56a7b0cabp-57, 0x1.f3cc7c3b3d16ep-1, -0x1.21a3ad28a3494p-57},
    {0x1.db9e15fb5a5d0p-3, -0x1.32e20d6cc6fc2p-57, 0x1.f20073086649fp-1, 0x1.b940416c1984bp-56},
    {0x1.faaeed4f31577p-3, -0x1.15d88508e32b8p-57, 0x1.f01549f7deea1p-1, 0x1.d3c1e99e5cafdp-55},
    {0x1.0cd00cef36436p-2, -0x1.9fb0a0c93e2b4p-56, 0x1.ee0b1fbc0f11cp-1, -0x1.bfd2380bbc3b1p-59},
    {0x1.1c37d64c6b876p-2, 0x1.46076fe0dcff4p-56, 0x1.ebe214f76efa8p-1, -0x1.02f9f12ba543ep-55},
    {0x1.2b8ddc43eb49fp-2, 0x1.1553899f2d807p-57, 0x1.e99a4c3a7cd83p-1, -0x1.2264b1bc53ce8p-55},
    {0x1.3ad129769d3d8p-2, 0x1.03d550487839ap-63, 0x1.e733ea0193d40p-1, -0x1.6428b3546ce13p-55},
    {0x1.4a00c9b0f3d20p-2, 0x1.823ba6bb08eadp-56, 0x1.e4af14b2a449cp-1, -0x1.68ca02e8a6833p-55},
    {0x1.591bc9fa2f597p-2, 0x1.7c74bac3fe0cbp-57, 0x1.e20bf49acd6c1p-1, -0x1.660aec7ef636bp-58},
    {0x1.682138a38d7f7p-2, -0x1.d889202444aadp-56, 0x1.df4ab3ebd875ep-1, -0x1.e2d8a7e6736c4p-55},
    {0x1.7710255764214p-2, -0x1.6ead7314bb6cep-57, 0x1.dc6b7eb995912p-1, 0x1.4b364776dcd35p-58},
    {0x1.85e7a12826949p-2, 0x1.8a40e9b5face0p-56, 0x1.d96e82f71a9dcp-1, 0x1.ff61bd5d2039dp-55},
    {0x1.94a6be9f546c5p-2, -0x1.69ce13e683f58p-56, 0x1.d653f073e4040p-1, -0x1.76236434bec37p-55},
    {0x1.a34c91cc50ccap-2, -0x1.a310e3b50cecdp-58, 0x1.d31bf8d8d7c06p-1, 0x1.e60dd3089cbddp-56},
    {0x1.b1d8305321617p-2, -0x1.ae242cb99f519p-56, 0x1.cfc6cfa52ad9fp-1, 0x1.8b5b5508f2a0dp-55},
    {0x1.c048b17b140a3p-2, 0x1.19fe6757e9fa7p-57, 0x1.cc54aa2b2972ep-1, 0x1.4ee162ba83a98p-57},
    {0x1.ce9d2e3d4a51fp-2, -0x1.2fc8a12dae298p-57, 0x1.c8c5bf8ce1a84p-1, 0x1.ab3d1a1590123p-56},
    {0x1.dcd4c15329c9ap-2, 0x1.0d4c6e171fd9ap-56, 0x1.c51a48b8b175ep-1, -0x1.1bbb43b9aa880p-57},
    {0x1.eaee8744b05f0p-2, -0x1.789b43c9b027dp-58, 0x1.c1528065b7d50p-1, -0x1.892111312e828p-55},
    {0x1.f8e99e76abc97p-2, 0x1.9d950af2d00a3p-58, 0x1.bd6ea310294f5p-1, 0x1.31bbcc88c109dp-56},
    {0x1.0362939c69955p-1, -0x1.2d8cd78397b01p-55, 0x1.b96eeef58840ep-1, 0x1.45a3cc78fade0p-58},
    {0x1.0a4021e9e1001p-1, -0x1.6f643a13914f6p-55, 0x1.b553a410c104ep-1, 0x1.8ff7947027a15p-58},
    {0x1.110d0c4b69c3bp-1, 0x1.d918998809981p-55, 0x1.b11d04162a4c6p-1, 0x1.1dd561efbc0c2p-56},
    {0x1.17c8e5f2eedb0p-1, 0x1.35e57102e2488p-57, 0x1.accb526f69de5p-1, 0x1.8fb6a8dd6b6ccp-55},
    {0x1.1e7343236574cp-1, 0x1.22a3fa4f41d5ap-56, 0x1.a85ed4373e02dp-1, 0x1.9be06385ec792p-57},
    {0x1.250bb93788bbbp-1, 0x1.ea3d02457bccep-56, 0x1.a3d7d0352bdcfp-1, -0x1.68dbaeca19669p-55},
    {0x1.2b91dea88421ep-1, -0x1.fa371db216ab0p-55, 0x1.9f368ed912f85p-1, -0x1.1d200c5791606p-55},
    {0x1.32054b148bc4fp-1, 0x1.f6b42095a135bp-55, 0x1.9a7b5a36a6514p-1, 0x1.722cfcc9fa7a9p-55},
    {0x1.386597456282bp-1, -0x1.10fada93b07a8p-56, 0x1.95a67e00cb1fdp-1, -0x1.0befda21f862dp-55},
    {0x1.3eb25d36cd53ap-1, -0x1.be570e1570fc0p-58, 0x1.90b84784ddaf7p-1, -0x1.0feb10ab93b87p-56},
    {0x1.44eb381cf386bp-1, -0x1.3ed6c1e6a5505p-55, 0x1.8bb105a5dc900p-1, 0x1.863e03e9474c1p-55},
    {0x1.4b0fc46aab761p-1, 0x1.0da05738cc59cp-61, 0x1.869108d77a6c6p-1, 0x1.338ffe2bfe9ddp-56},
    {0x1.511f9fd7b351cp-1, -0x1.5c0e861c48831p-55, 0x1.8158a31916d5dp-1, -0x1.de8b90b8228dep-57},
    {0x1.571a6966d59b3p-1, 0x1.c843b4d0fb197p-58, 0x1.7c0827f09e54fp-1, -0x1.c73d6d72aee68p-57},
    {0x1.5cffc16bf8f0dp-1, 0x1.96cb370eb578ap-55, 0x1.769fec655211fp-1, -0x1.827d5cf8c68c5p-57},
    {0x1.62cf49921ac79p-1, -0x1.edd9855b6241ap-55, 0x1.712046fa77678p-1, 0x1.425b0a5029c81p-55},
    {0x1.6888a4e134b2fp-1, -0x1.6b7d37644d5e6p-55, 0x1.6b898fa9efb5dp-1, 0x1.15ac786ccf4b2p-56},
};

// pi/2 in a 33-bit head (n * P1 is exact for n < 2^20) and the rest.
constexpr double PIO2_1 = 0x1.921fb54400000p+0;
constexpr double PIO2_1T = 0x1.0b4611a626331p-34;
constexpr double PIO2_HI = 0x1.921fb54442d18p+0;
constexpr double PIO2_LO = 0x1.1a62633145c07p-54;
constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
constexpr double ROUND_SHIFT = 0x1.8p52;

// The bits of 2/pi after the point, 64 to a word, after a word of zeros: the
// zeros stand for the bits before the point, which a window starting just
// below x's exponent reaches for x < 2^10.
constexpr std::uint64_t TWO_OVER_PI_BITS[] = {
    0x0000000000000000,
    0xa2f9836e4e441529, 0xfc2757d1f534ddc0, 0xdb6295993c439041,
    0xfe5163abdebbc561, 0xb7246e3a424dd2e0, 0x06492eea09d1921c,
    0xfe1deb1cb129a73e, 0xe88235f52ebb4484, 0xe99c7026b45f7e41,
    0x3991d639835339f4, 0x9c845f8bbdf9283b, 0x1ff897ffde05980f,
    0xef2f118b5a0a6d1f, 0x6d367ecf27cb09b7, 0x4f463f669e5fea2d,
    0x7527bac7ebe5f17b, 0x3d0739f78a5292ea, 0x6bfb5fb11f8d5d08,
    0x56033046fc7b6bab, 0xf0cfbc209af4361d, 0xa9e391615ee61b08,
    0x6599855f14a06840,
};

struct Reduced {
    int n;  // the quadrant, modulo 4
    double hi;
    double lo;
};

// 2^e for -1022 <= e <= 1023.
inline double pow2(int e) noexcept { return from_bits(static_cast<std::uint64_t>(1023 + e) << 52); }

// Payne and Hanek's reduction; for finite |x| >= pi/4.
Reduced reduce_payne_hanek(double x) noexcept {
    using u128 = unsigned __int128;
    const std::uint64_t ix = to_bits(x);
    // |x| = m 2^e with m a 53-bit integer.
    const int e = static_cast<int>((ix >> 52) & 0x7ff) - 1075;
    const std::uint64_t m = (ix & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    // The bits of 2/pi from number e - 1 on (numbered from 1 after the
    // point): those before it make m 2^e 2/pi change by multiples of 4 only,
    // and 192 bits leave a product error below 2^-137.
    const int start = e + 62;  // bit e - 1 counted from the start of the table
    const int word = start >> 6;
    const int shift = start & 63;
    std::uint64_t window[3];
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t a = TWO_OVER_PI_BITS[word + i];
        const std::uint64_t b = TWO_OVER_PI_BITS[word + i + 1];
        window[i] = shift == 0 ? a : (a << shift) | (b >> (64 - shift));
    }
    // m * window modulo 2^192 is x 2/pi modulo 4 scaled by 2^190.
    const u128 p0 = static_cast<u128>(m) * window[2];
    const u128 p1 = static_cast<u128>(m) * window[1];
    const std::uint64_t p2 = m * window[0];  // only its low 64 bits matter
    const std::uint64_t w0 = static_cast<std::uint64_t>(p0);
    const u128 mid = (p0 >> 64) + static_cast<std::uint64_t>(p1);
    std::uint64_t w1 = static_cast<std::uint64_t>(mid);
    std::uint64_t w2 = static_cast<std::uint64_t>(mid >> 64) + static_cast<std::uint64_t>(p1 >> 64) + p2;
    std::uint64_t w0m = w0;

    int n = static_cast<int>(w2 >> 62);
    w2 &= (std::uint64_t{1} << 62) - 1;
    // The fraction f = (w2:w1:w0) / 2^190; round to the nearest quadrant.
    const bool negative = (w2 >> 61) != 0;
    if (negative) {
        ++n;
        // 2^190 - f, in 190 bits.
        w0m = ~w0m + 1;
        const std::uint64_t carry1 = w0m == 0 ? 1 : 0;
        w1 = ~w1 + carry1;
        const std::uint64_t carry2 = (carry1 && w1 == 0) ? 1 : 0;
        w2 = (~w2 + carry2) & ((std::uint64_t{1} << 62) - 1);
    }
    // Normalise so that the leading one is bit 191.
    int lz;
    if (w2 != 0) {
        lz = std::countl_zero(w2);
    } else if (w1 != 0) {
        lz = 64 + std::countl_zero(w1);
    } else {
        lz = 128 + std::countl_zero(w0m | 1);
    }
    std::uint64_t u;
    std::uint64_t v;
    if (lz < 64) {
        u = lz == 0 ? w2 : (w2 << lz) | (w1 >> (64 - lz));
        v = lz == 0 ? w1 : (w1 << lz) | (w0m >> (64 - lz));
    } else if (lz < 128) {
        const int s = lz - 64;
        u = s == 0 ? w1 : (w1 << s) | (w0m >> (64 - s));
        v = w0m << s;
    } else {
        u = w0m << (lz - 128);
        v = 0;
    }
    // f = u 2^(-62-lz) + v 2^(-126-lz): a 53-bit head and the next 64 bits.
    const double f_hi = static_cast<double>(u >> 11) * pow2(-51 - lz);
    const double f_lo = static_cast<double>(((u & 0x7ff) << 53) | (v >> 11)) * pow2(-115 - lz);
    // y = f pi/2.
    const DoubleDouble p = detail::two_product(f_hi, PIO2_HI);
    const DoubleDouble y = fast_two_sum(p.hi, p.lo + (f_hi * PIO2_LO + f_lo * PIO2_HI));
    const double sign = (negative != (x < 0)) ? -1.0 : 1.0;
    return {x < 0 ? -n : n, sign * y.hi, sign * y.lo};
}

// For finite |x| >= 2^-27 (below that the callers answer directly).
inline Reduced reduce(double x) noexcept {
    const double ax = std::fabs(x);
    if (ax <= 0x1.921fb54442d18p-1) return {0, x, 0.0};  // |x| <= pi/4
    if (ax < 0x1p19) {
        const double nd = (x * TWO_OVER_PI + ROUND_SHIFT) - ROUND_SHIFT;
        // x - nd PIO2_1 is exact: nd PIO2_1 is, and lies within a factor 2 of x.
        const double a = x - nd * PIO2_1;
        const double w = nd * PIO2_1T;
        const double hi = a - w;
        // The error of hi + lo is below |nd| 2^-86; accept it while that is
        // 2^-64 of the result.
        if (std::fabs(hi) > std::fabs(nd) * 0x1p-22) {
            return {static_cast<int>(nd), hi, (a - hi) - w};
        }
    }
    return reduce_payne_hanek(x);
}

struct SinCos {
    double s;
    double c;
};

// sin and cos of hi + lo, for |hi| <= pi/4 + 2^-40 and |lo| <= 2^-52 |hi|.
inline SinCos sincos_kernel(double hi, double lo) noexcept {
    const double ay = std::fabs(hi);
    if (ay < 0.125) {
        const double z = hi * hi;
        const double s = hi + (hi * z * sin_poly(z) + lo * (1.0 - 0.5 * z));
        const double hz = 0.5 * z;
        const double w = 1.0 - hz;
        const double c = w + (((1.0 - w) - hz) + ((z * z) * cos_poly(z) - hi * lo));
        return {s, c};
    }
    // |hi| = a + t with a = j/64: t is exact.
    const int j = static_cast<int>(ay * 64.0 + 0.5);
    const double t = ay - j * 0x1p-6;
    const double tl = hi < 0 ? -lo : lo;
    const SinCosEntry& e = SINCOS_TABLE[j - SINCOS_FIRST];
    const double z = t * t;
    const double sin_t = t * z * sin_poly(z) + tl;      // sin(t + tl) - t
    const double cos_t = z * (-0.5 + z * cos_poly(z));  // cos(t + tl) - 1
    const DoubleDouble s1 = fast_two_sum(e.sin_hi, e.cos_hi * t);
    const double s = s1.hi + (s1.lo + ((e.sin_lo + e.cos_lo * t) + (e.cos_hi * sin_t + e.sin_hi * cos_t)));
    const DoubleDouble c1 = fast_two_sum(e.cos_hi, -(e.sin_hi * t));
    const double c = c1.hi + (c1.lo + ((e.cos_lo - e.sin_lo * t) + (e.cos_hi * cos_t - e.sin_hi * sin_t)));
    return {hi < 0 ? -s : s, c};
}

inline SinCos sincos_reduced(double x) noexcept {
    const Reduced r = reduce(x);
    const SinCos k = sincos_kernel(r.hi, r.lo);
    switch (r.n & 3) {
    case 0:
        return k;
    case 1:
        return {k.c, -k.s};
    case 2:
        return {-k.s, -k.c};
    default:
        return {-k.c, k.s};
    }
}

}  // namespace

double sin(double x) noexcept {
    const double ax = std::fabs(x);
    if (ax < 0x1p-26) return x;  // sin x rounds to x, signed zeros included
    if (!(ax <= std::numeric_limits<double>::max())) return x - x;  // NaN for inf and NaN
    return sincos_reduced(x).s;
}

double cos(double x) noexcept {
    const double ax = std::fabs(x);
    if (ax < 0x1p-27) return 1.0;
    if (!(ax <= std::numeric_limits<double>::max())) return x - x;
    return sincos_reduced(x).c;
}

void sincos(double x, double& s, double& c) noexcept {
    const double ax = std::fabs(x);
    if (ax < 0x1p-27) {
        s = x;
        c = 1.0;
        return;
    }
    if (!(ax <= std::numeric_limits<double>::max())) {
        s = c = x - x;
        return;
    }
    const SinCos r = sincos_reduced(x);
    s = r.s;
    c = r.c;
}

}  // namespace vorlane::math
