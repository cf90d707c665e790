// atan, atan2 and asin.
//
// atan is table-driven: below 1/16, atan x = x + x^3 A(x^2); from 1/16 to
// 16, x is matched with the centre c of its sixteenth of a binade, atan x =
// atan c + atan t with t = (x - c)/(1 + x c), |t| <= 2^-5 |x|/(1 + x^2), and
// atan c from a table as head and rest; from 16 on, atan x = pi/2 -
// atan(1/x). The same polynomial A serves all three.
//
// atan2 divides the smaller of |y| and |x| by the larger, keeps the
// division's remainder (exact, from Dekker's product) as a correction, and
// assembles the angle from pi/2, pi and atan of the quotient in double-double
// before the one final rounding; its special cases are C99 Annex F's.
//
// asin: below 1/2, asin x = x + x R(x^2); above, asin x = pi/2 - 2 asin s
// with s = sqrt((1 - x)/2), s carried to twice double precision as in
// fdlibm, and the same R.
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

// atan u = u + u^3 A(u^2) for |u| <= 1/16, relative error below 2^-63.
constexpr double A0 = -0x1.5555555555555p-2;
constexpr double A1 = 0x1.999999999994dp-3;
constexpr double A2 = -0x1.249249245aab3p-3;
constexpr double A3 = 0x1.c71c6fec9beacp-4;
constexpr double A4 = -0x1.745983fa98cbfp-4;
constexpr double A5 = 0x1.37e510ea8c2fcp-4;

inline double atan_poly(double z) noexcept {
    const double z2 = z * z;
    return ((A0 + z * A1) + z2 * (A2 + z * A3)) + (z2 * z2) * (A4 + z * A5);
}

// atan(c) as head and rest for c = 2^e (1 + (2i + 1)/32), e = -4 ... 3,
// i = 0 ... 15, in that order.
struct AtanEntry {
    double hi;
    double lo;
};
constexpr AtanEntry ATAN_TABLE[128] = {
    {0x1.07a2a58a0c16fp-4, 0x1.286a0aa8fbfd2p-58},
    {0x1.1790a88aca931p-4, 0x1.c57fd08281008p-58},
    {0x1.277c80c02ec4dp-4, 0x1.869be03c4d7f0p-58},
    {0x1.37660f1a6b5d8p-4, 0x1.00c2bea115ef0p-58},
    {0x1.474d34a4bbb9dp-4, -0x1.0d3965910af34p-62},
    {0x1.5731d286c4ecbp-4, -0x1.e6e754b5c9fd0p-59},
    {0x1.6713ca05f38b3p-4, 0x1.8844be8e0089bp-61},
    {0x1.76f2fc86d613dp-4, -0x1.0517b6267cdb9p-59},
    {0x1.86cf4b8e73cbfp-4, -0x1.dcdd915cf736bp-58},
    {0x1.96a898c39fefbp-4, -0x1.1cfa6eef407cep-58},
    {0x1.a67ec5f04910ap-4, 0x1.9eda51bd12082p-58},
    {0x1.b651b502c480ap-4, -0x1.c46fc87331ba0p-58},
    {0x1.c621480f15a6ap-4, -0x1.cfccaa3f66870p-60},
    {0x1.d5ed6150311dcp-4, 0x1.eb3fd6855286cp-59},
    {0x1.e5b5e3293b7cfp-4, 0x1.d4aae80ff2fd5p-59},
    {0x1.f57ab026c3a90p-4, -0x1.c26c3afc8b17ap-59},
    {0x1.068d584212b3ep-3, -0x1.9e2d283019bfdp-57},
    {0x1.1646541060850p-3, 0x1.6bcee8ae7ea92p-57},
    {0x1.25f6e171a535cp-3, 0x1.7c6d7bde1a310p-57},
    {0x1.359e8edeb99a4p-3, -0x1.a5fd74e4604c6p-57},
    {0x1.453cec6092a9ep-3, 0x1.1f653b3a5a78bp-57},
    {0x1.54d18ba11570ap-3, 0x1.18282f2884073p-57},
    {0x1.645bfffb3aa74p-3, -0x1.f536b677c2cb4p-60},
    {0x1.73dbde8a7d202p-3, -0x1.5ad0f6d4a665dp-58},
    {0x1.8350be398ebc8p-3, -0x1.5a91332b9c90dp-58},
    {0x1.92ba37d050272p-3, -0x1.0d3ded0ff4764p-57},
    {0x1.a217e601081a6p-3, -0x1.0def8a60af374p-57},
    {0x1.b1696574d780cp-3, -0x1.85ab8fc15a673p-58},
    {0x1.c0ae54d768467p-3, -0x1.04cdbf55f26dcp-57},
    {0x1.cfe654e1d5395p-3, 0x1.47b9a3f71eafbp-57},
    {0x1.df110864c9d9ep-3, -0x1.5818b53bf4781p-60},
    {0x1.ee2e1451d980dp-3, -0x1.9a7708c46ba91p-58},
    {0x1.025fa510665b6p-2, -0x1.672df6832fa48p-56},
    {0x1.1151a362431cap-2, -0x1.4dc8dc9077b9fp-56},
    {0x1.2025567e47c96p-2, -0x1.1832328f4290ep-57},
    {0x1.2ed987a823cfep-2, 0x1.b91258ea012cap-57},
    {0x1.3d6d129271134p-2, 0x1.137ca41cc958ap-56},
    {0x1.4bdee586890e7p-2, -0x1.e4dc77c22a757p-57},
    {0x1.5a2e0175e0f4ep-2, 0x1.13b7a8f82e457p-56},
    {0x1.685979f5fa6fep-2, -0x1.257814d1ada9cp-59},
    {0x1.7660752817502p-2, -0x1.dd11791cc7600p-59},
    {0x1.84422b8df95d7p-2, 0x1.d76a0299b41b6p-56},
    {0x1.91fde7cd0c662p-2, 0x1.1074188054b53p-56},
    {0x1.9f93066168002p-2, -0x1.c827047c9439ap-56},
    {0x1.ad00f5422058bp-2, 0x1.fc4c33891d2e8p-56},
    {0x1.ba473378624a5p-2, 0x1.519a1b46e4affp-56},
    {0x1.c76550aad71f9p-2, -0x1.74b8bff7043e4p-56},
    {0x1.d45aec9ec862bp-2, 0x1.89421163ef92dp-57},
    {0x1.e77eb7f175a34p-2, 0x1.0e53dc1bf3435p-56},
    {0x1.0039c73c1a40cp-1, -0x1.b32c949c9d593p-55},
    {0x1.0c6145b5b43dap-1, 0x1.974fa13b5404fp-58},
    {0x1.1835a88be7c13p-1, 0x1.c621cec00c301p-55},
    {0x1.23b71e2cc9e6ap-1, 0x1.c421c9f38224ep-57},
    {0x1.2ee628406cbcap-1, 0x1.c5d5e9ff0cf8dp-55},
    {0x1.39c391cd4171ap-1, -0x1.2304331d8bf46p-55},
    {0x1.445065b795b56p-1, -0x1.f76d0163f79c8p-56},
    {0x1.4e8de5bb6ec04p-1, 0x1.4a33dbeb3796cp-55},
    {0x1.587d81f732fbbp-1, -0x1.5e5c9d8c5a950p-56},
    {0x1.6220d115d7b8ep-1, -0x1.2b785350ee8c1p-57},
    {0x1.6b798920b3d99p-1, -0x1.a80386188c50ep-55},
    {0x1.748978fba8e0fp-1, 0x1.7b2a6165884a1p-59},
    {0x1.7d528289fa093p-1, 0x1.560821e2f3aa9p-55},
    {0x1.85d69576cc2c5p-1, 0x1.6b66e7fc8b8c3p-57},
    {0x1.8e17aa99cc05ep-1, -0x1.ec182ab042f61p-56},
    {0x1.9a000a935bd8ep-1, 0x1.59411df0dccefp-56},
    {0x1.a908afa5b1d4ap-1, -0x1.5d7be5d5f808bp-56},
    {0x1.b7291b4e25bdap-1, -0x1.c49cc26e63660p-56},
    {0x1.c470abf2d3d01p-1, 0x1.6a61dbf199479p-56},
    {0x1.d0ee2253886a6p-1, 0x1.2c9f73793ddedp-55},
    {0x1.dcaf82dc1a6f4p-1, -0x1.f99cb3ddd4790p-55},
    {0x1.e7c2042350f87p-1, -0x1.0e14d8d5a7dd8p-57},
    {0x1.f232073aeb172p-1, -0x1.5f5b3a2cdfc2cp-55},
    {0x1.fc0b171ec926cp-1, -0x1.3337369af334fp-58},
    {0x1.02abf692f6d0cp+0, -0x1.7e03a29351e05p-54},
    {0x1.07113c6a93a21p+0, 0x1.c2bc4d3a3e69fp-56},
    {0x1.0b39f4eca23aep+0, 0x1.25934545c016cp-54},
    {0x1.0f2a5d9fff026p+0, 0x1.e6ac2e9161719p-55},
    {0x1.12e65fa32aaedp+0, -0x1.f25b08b14d8d6p-54},
    {0x1.167195a203265p+0, 0x1.1a5aca105c6aep-54},
    {0x1.19cf51b0603ddp+0, -0x1.4b79cf12e503dp-55},
    {0x1.1e8d473c5d5cap+0, 0x1.40b5b2505c143p-54},
    {0x1.245b4faf23111p+0, -0x1.bcadba0fe318bp-54},
    {0x1.29a33f97bdbeap+0, 0x1.20768f82d028dp-54},
    {0x1.2e75728833a54p+0, 0x1.16e3ef7326bdap-56},
    {0x1.32dfe01c11c21p+0, 0x1.cb1af39d75eb5p-54},
    {0x1.36ee7f2a24644p+0, -0x1.2c820975621fbp-54},
    {0x1.3aab98641f26bp+0, -0x1.dc349cc175bc7p-55},
    {0x1.3e200aea00d99p+0, -0x1.4794dda3dc8fbp-54},
    {0x1.41538521b2f98p+0, 0x1.b0a24edb2ee98p-57},
    {0x1.444cb3d7d780cp+0, 0x1.84edbdae1963fp-54},
    {0x1.4711695fedde2p+0, -0x1.369e22089162cp-55},
    {0x1.49a6be20c3a52p+0, 0x1.61f86cbdae1abp-54},
    {0x1.4c112bb9f7c63p+0, 0x1.f746650006c33p-57},
    {0x1.4e54a3b8e6cf8p+0, -0x1.546673bfb75f0p-55},
    {0x1.5074a2a612ac3p+0, -0x1.70b6f0046b390p-55},
    {0x1.5274400eea72bp+0, -0x1.c8ca264844338p-54},
    {0x1.553ce48a04765p+0, -0x1.fb2a15b01af76p-55},
    {0x1.58990974dfc9bp+0, -0x1.38724877fdf56p-54},
    {0x1.5b9c9494c0d73p+0, -0x1.dbb3cb11f72aep-56},
    {0x1.5e545b9b1a4c8p+0, -0x1.b1f8afb3dd31dp-54},
    {0x1.60cadf03e444dp+0, -0x1.1cafc7209e76bp-54},
    {0x1.6308ca2a1ee29p+0, 0x1.69afbaa88c2dcp-55},
    {0x1.6515542adf35bp+0, 0x1.1abca6117c655p-54},
    {0x1.66f689fe6ecd7p+0, 0x1.296b3ad3ab6dap-56},
    {0x1.68b187b9d2c61p+0, -0x1.e65414ed76ae6p-54},
    {0x1.6a4aa53aac449p+0, -0x1.4371a18cdc2a7p-55},
    {0x1.6bc59952bf3b1p+0, 0x1.977d7c13d209cp-56},
    {0x1.6d2595b4f5943p+0, 0x1.6d3e45139467ep-54},
    {0x1.6e6d5d4f4d24bp+0, 0x1.bc3dadd1ee93fp-58},
    {0x1.6f9f5650fd3efp+0, 0x1.9b070ed3f43e4p-54},
    {0x1.70bd98cd96433p+0, 0x1.a965f981024a8p-58},
    {0x1.71c9fab4414b2p+0, 0x1.ed22abd9c91bcp-54},
    {0x1.733e83ec95ff3p+0, 0x1.daa1cb741b5afp-54},
    {0x1.74fe3c2f08578p+0, -0x1.85702971de777p-55},
    {0x1.768e250aec6fcp+0, 0x1.7d3c945f7481bp-55},
    {0x1.77f57d148f11cp+0, -0x1.2113a4a1ff42dp-56},
    {0x1.793a1f5a56d14p+0, -0x1.436a317c1ec50p-54},
    {0x1.7a60d4728e3dap+0, -0x1.3ccc36faf1683p-54},
    {0x1.7b6d8e630ad5ep+0, 0x1.8a1b0e4f4fe5bp-55},
    {0x1.7c63958a05d02p+0, -0x1.47cce616ff378p-54},
    {0x1.7d45aab9c6633p+0, -0x1.8eca10bf2b832p-54},
    {0x1.7e16216f80625p+0, 0x1.df2f346b6593dp-56},
    {0x1.7ed6f431b596fp+0, -0x1.cc4ff0c22192ep-57},
    {0x1.7f89d48cc7f43p+0, 0x1.eb24ac99c7f13p-56},
    {0x1.803037bd17135p+0, -0x1.d61a03be8ededp-54},
    {0x1.80cb60cd9f7edp+0, -0x1.e3611150d62acp-54},
    {0x1.815c68beac681p+0, 0x1.733b941c0a1c0p-54},
    {0x1.81e445233973dp+0, -0x1.5943116be80adp-55},
};

constexpr double PIO2_HI = 0x1.921fb54442d18p+0;
constexpr double PIO2_LO = 0x1.1a62633145c07p-54;
constexpr double PI_HI = 0x1.921fb54442d18p+1;
constexpr double PI_LO = 0x1.1a62633145c07p-53;
constexpr double PIO4 = 0x1.921fb54442d18p-1;     // pi/4 rounded
constexpr double PI3O4 = 0x1.2d97c7f3321d2p+1;    // 3pi/4 rounded

// asin s = s + s z R(z), z = s^2 <= 1/4; error of z R(z) below 2^-58.
constexpr double R[15] = {
    0x1.5555555555555p-3, 0x1.333333333332cp-4, 0x1.6db6db6db7e2cp-5, 0x1.f1c71c70d8d58p-6,
    0x1.6e8ba3211e7f7p-6, 0x1.1c4ebce6a1954p-6, 0x1.c99b15f544363p-7, 0x1.7a6f775ba876bp-7,
    0x1.40f044c88ad61p-7, 0x1.0a404b9fbdef2p-7, 0x1.21dcf2c7a6b65p-7, 0x1.baeafcaf8d4fap-13,
    0x1.7792bdd4a4231p-6, -0x1.9151d8c474b1ap-6, 0x1.fbbe4d2b48ecbp-6,
};

inline double asin_poly(double z) noexcept {
    // Estrin's scheme: fewer dependent steps than Horner's for 15 terms.
    const double z2 = z * z;
    const double z4 = z2 * z2;
    const double z8 = z4 * z4;
    const double q0 = ((R[0] + z * R[1]) + z2 * (R[2] + z * R[3])) + z4 * ((R[4] + z * R[5]) + z2 * (R[6] + z * R[7]));
    const double q1 = ((R[8] + z * R[9]) + z2 * (R[10] + z * R[11])) + z4 * ((R[12] + z * R[13]) + z2 * R[14]);
    return z * (q0 + z8 * q1);
}

// atan(x + xl) as hi + lo, for x >= 2^-30 (infinity included) and
// |xl| <= 2^-52 x; relative error below 2^-57.
DoubleDouble atan_dd(double x, double xl) noexcept {
    const std::uint64_t ix = to_bits(x);
    const int e = static_cast<int>(ix >> 52);
    if (e < 0x3ff - 4) {
        // x < 1/16
        const double z = x * x;
        return {x, x * z * atan_poly(z) + xl};
    }
    if (e >= 0x3ff + 4) {
        // x >= 16: atan x = pi/2 - atan u, u = 1/x; d atan x/dx = u^2/(1 + u^2).
        const double u = 1.0 / x;
        const double z = u * u;
        const DoubleDouble h = fast_two_sum(PIO2_HI, -u);
        return {h.hi, h.lo + ((PIO2_LO - u * z * atan_poly(z)) + xl * z)};
    }
    // c: x's exponent and top 4 bits of significand, plus half a step.
    const int index = ((e - (0x3ff - 4)) << 4) | static_cast<int>((ix >> 48) & 15);
    const double c = from_bits((ix & ~((std::uint64_t{1} << 48) - 1)) | (std::uint64_t{1} << 47));
    const double q = 1.0 / (1.0 + x * c);
    const double t = (x - c) * q;  // x - c is exact
    const double z = t * t;
    const AtanEntry& entry = ATAN_TABLE[index];
    const DoubleDouble h = fast_two_sum(entry.hi, t);
    return {h.hi, h.lo + (entry.lo + (t * z * atan_poly(z) + xl * q))};
}

}  // namespace

double atan(double x) noexcept {
    const double ax = std::fabs(x);
    if (!(ax >= 0x1p-27)) return x;  // atan x rounds to x for tiny x; NaN stays NaN
    const DoubleDouble a = atan_dd(ax, 0.0);
    const double r = a.hi + a.lo;
    return x < 0 ? -r : r;
}

double atan2(double y, double x) noexcept {
    if (std::isnan(x) || std::isnan(y)) return x + y;
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const bool x_negative = std::signbit(x);
    double angle;  // of (|x|, |y|) or (x, |y|), before the sign of y
    if (ay == 0.0) {
        angle = x_negative ? PI_HI : 0.0;
    } else if (ax == 0.0) {
        angle = PIO2_HI;
    } else if (std::isinf(ax)) {
        if (std::isinf(ay)) {
            angle = x_negative ? PI3O4 : PIO4;
        } else {
            angle = x_negative ? PI_HI : 0.0;
        }
    } else if (std::isinf(ay)) {
        angle = PIO2_HI;
    } else {
        const bool steep = ay > ax;
        double num = steep ? ax : ay;
        double den = steep ? ay : ax;
        const double q = num / den;
        DoubleDouble a;  // atan of num/den
        if (q < 0x1p-30) {
            if (!steep && !x_negative) {
                // atan q = q (1 - q^2/3) is within 2^-62 of q, the rounded
                // quotient; a tiny or subnormal result keeps its one rounding.
                return std::copysign(q, y);
            }
            a = {q, 0.0};
        } else {
            // Scale by a power of 2, exactly, so that Dekker's product below
            // neither overflows nor underflows (num >= 2^-27 den here).
            if (den > 0x1p1000) {
                num *= 0x1p-100;
                den *= 0x1p-100;
            } else if (den < 0x1p-900) {
                num *= 0x1p1000;
                den *= 0x1p1000;
            }
            // num - q den exactly, and the correction it makes to q.
            const DoubleDouble p = detail::two_product(q, den);
            const double ql = ((num - p.hi) - p.lo) / den;
            a = atan_dd(q, ql);
        }
        DoubleDouble th = a;  // angle in [0, pi/2]
        if (steep) {
            const DoubleDouble h = fast_two_sum(PIO2_HI, -a.hi);
            th = {h.hi, h.lo + (PIO2_LO - a.lo)};
        }
        if (x_negative) {
            const DoubleDouble h = fast_two_sum(PI_HI, -th.hi);
            th = {h.hi, h.lo + (PI_LO - th.lo)};
        }
        angle = th.hi + th.lo;
    }
    return std::signbit(y) ? -angle : angle;
}

double asin(double x) noexcept {
    const double ax = std::fabs(x);
    if (ax < 0.5) {
        if (ax < 0x1p-26) return x;  // asin x rounds to x, signed zeros included
        return x + x * asin_poly(x * x);
    }
    if (!(ax < 1.0)) {
        if (ax == 1.0) return std::copysign(PIO2_HI, x);
        return std::numeric_limits<double>::quiet_NaN();  // |x| > 1 or NaN
    }
    // asin |x| = pi/2 - 2 (s_hi + s_lo + s R(z)) with z = (1 - |x|)/2 exact
    // and s_hi + s_lo = sqrt(z) to about 2^-78: s_hi has 26 bits, so
    // z - s_hi^2 is exact.
    const double z = 0.5 * (1.0 - ax);
    const double s = std::sqrt(z);
    const double s_hi = from_bits(to_bits(s) & ~((std::uint64_t{1} << 27) - 1));
    const double s_lo = (z - s_hi * s_hi) / (s + s_hi);
    // pi/2 - 2 s_hi is exact: both lie on the grid 2^-52.
    const double h = PIO2_HI - 2.0 * s_hi;
    const double r = h + (PIO2_LO - 2.0 * (s_lo + s * asin_poly(z)));
    return x < 0 ? -r : r;
}

}  // namespace vorlane::math
