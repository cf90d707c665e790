// exp, log and log10, and the extended-precision exp and log that pow and
// the hyperbolic functions build on.
//
// exp follows Tang's table-driven method: x = (128 m + j) ln2/128 + r with
// |r| <= ln2/256, so e^x = 2^m 2^(j/128) e^r, with 2^(j/128) from a table
// (to about 2^-107) and e^r - 1 from a short polynomial. The table value and
// the polynomial are added as a small correction to 2^m 2^(j/128), so the
// only large rounding is the final one.
//
// log is table-driven too: x = 2^k z with z in [0.7071, 1.4142), and for the
// one of 128 subintervals that holds z, c = 1/invc near its centre, where
// invc has 8 significant bits. Then log x = k ln2 - log(invc) + log1p(r) with
// r = z invc - 1, and |r| < 2^-7 makes r exactly representable (z has 53
// significant bits, invc 8), so it is computed without error from a split of
// z. The subintervals next to 1 have invc = 1, so near 1, where log has its
// steepest relative change, r = z - 1 exactly. -log(invc) is tabulated in
// two parts and log1p(r) - r + r^2/2 comes from a polynomial. log and log10
// add -r^2/2 into the low part as it is, which leaves a double-double good
// to about 2^-62 that log rounds once and log10 multiplies by 1/ln10 in
// double-double first; pow's log_dd also takes r^2 exactly, from a split of
// r, and a longer polynomial, for about 2^-68.
//
// Polynomial coefficients are minimax fits (Remez exchange), rounded to
// double; table entries are the exact values rounded to nearest.
#include "core/math.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

namespace vorlane::math {

namespace {

using detail::DoubleDouble;
using detail::fast_two_sum;
using detail::from_bits;
using detail::to_bits;

constexpr double INF = std::numeric_limits<double>::infinity();

// ---- exp

// 2^(j/128) rounded, and the rest of it relative to the rounded value.
struct ExpEntry {
    double scale;
    double tail;
};
constexpr ExpEntry EXP_TABLE[128] = {
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.0163da9fb3335p+0, 0x1.b3b4f1a88bf6ep-54},
    {0x1.02c9a3e778061p+0, -0x1.160139cd8dc5dp-56},
    {0x1.04315e86e7f85p+0, -0x1.05e7a108766d1p-54},
    {0x1.059b0d3158574p+0, 0x1.cd2523567f613p-55},
    {0x1.0706b29ddf6dep+0, -0x1.bce8023f98efap-55},
    {0x1.0874518759bc8p+0, 0x1.0f74e61e6c861p-57},
    {0x1.09e3ecac6f383p+0, 0x1.0a3e45b33d399p-54},
    {0x1.0b5586cf9890fp+0, 0x1.79aa65d837b6dp-54},
    {0x1.0cc922b7247f7p+0, 0x1.eb51a92fdeffcp-55},
    {0x1.0e3ec32d3d1a2p+0, 0x1.ebe3d702f9cd1p-60},
    {0x1.0fb66affed31bp+0, -0x1.a033489906e0bp-57},
    {0x1.11301d0125b51p+0, -0x1.556522a2fbd0ep-54},
    {0x1.12abdc06c31ccp+0, -0x1.080ef8c4eea55p-58},
    {0x1.1429aaea92de0p+0, -0x1.1c923b9d5f416p-54},
    {0x1.15a98c8a58e51p+0, 0x1.0d3e3e95c55afp-55},
    {0x1.172b83c7d517bp+0, -0x1.01b15eaa59348p-55},
    {0x1.18af9388c8deap+0, -0x1.f1ff055de323dp-55},
    {0x1.1a35beb6fcb75p+0, 0x1.b898c3f1353bfp-55},
    {0x1.1bbe084045cd4p+0, -0x1.6d99c7611eb26p-54},
    {0x1.1d4873168b9aap+0, 0x1.aecf73e3a2f60p-54},
    {0x1.1ed5022fcd91dp+0, -0x1.fe782cb86389dp-55},
    {0x1.2063b88628cd6p+0, 0x1.a6f4144a6c38dp-55},
    {0x1.21f49917ddc96p+0, 0x1.07a05b0e4047dp-55},
    {0x1.2387a6e756238p+0, 0x1.68efde3a8a894p-54},
    {0x1.251ce4fb2a63fp+0, 0x1.75e18f274487dp-55},
    {0x1.26b4565e27cddp+0, 0x1.0472b981fe7f2p-55},
    {0x1.284dfe1f56381p+0, -0x1.6b87b3f71085ep-54},
    {0x1.29e9df51fdee1p+0, 0x1.2f7e16d09ab31p-55},
    {0x1.2b87fd0dad990p+0, -0x1.d219b1a6fbffap-60},
    {0x1.2d285a6e4030bp+0, 0x1.b3782720c0ab4p-55},
    {0x1.2ecafa93e2f56p+0, 0x1.e149289cecb8fp-57},
    {0x1.306fe0a31b715p+0, 0x1.34d754db0abb6p-55},
    {0x1.32170fc4cd831p+0, 0x1.64201e2ac744cp-55},
    {0x1.33c08b26416ffp+0, 0x1.fdd395dd3f84ap-55},
    {0x1.356c55f929ff1p+0, -0x1.6a3803b8e5b04p-55},
    {0x1.371a7373aa9cbp+0, -0x1.24aedcc4b5068p-54},
    {0x1.38cae6d05d866p+0, -0x1.907f81b512d8ep-54},
    {0x1.3a7db34e59ff7p+0, -0x1.1d1e83e9436d2p-56},
    {0x1.3c32dc313a8e5p+0, -0x1.91919b3ce1b15p-54},
    {0x1.3dea64c123422p+0, 0x1.59f48a72a4c6dp-55},
    {0x1.3fa4504ac801cp+0, -0x1.312607a28698ap-54},
    {0x1.4160a21f72e2ap+0, -0x1.8a78f4817895bp-58},
    {0x1.431f5d950a897p+0, -0x1.c2c9b67499a1bp-56},
    {0x1.44e086061892dp+0, 0x1.363ed60c2ac11p-59},
    {0x1.46a41ed1d0057p+0, 0x1.666093b0664efp-54},
    {0x1.486a2b5c13cd0p+0, 0x1.ecce1daa10379p-57},
    {0x1.4a32af0d7d3dep+0, 0x1.3ff8e3f0f1230p-54},
    {0x1.4bfdad5362a27p+0, 0x1.690cebb7aafb0p-56},
    {0x1.4dcb299fddd0dp+0, 0x1.31dbdeb54e077p-54},
    {0x1.4f9b2769d2ca7p+0, -0x1.f94340071a38ep-55},
    {0x1.516daa2cf6642p+0, -0x1.7deccdc93a349p-55},
    {0x1.5342b569d4f82p+0, -0x1.8dec6bd0f385fp-56},
    {0x1.551a4ca5d920fp+0, -0x1.61246ec7b5cf6p-55},
    {0x1.56f4736b527dap+0, 0x1.3350518fdd78ep-54},
    {0x1.58d12d497c7fdp+0, 0x1.b98b72f8a9b05p-56},
    {0x1.5ab07dd485429p+0, 0x1.063e1e21c5409p-54},
    {0x1.5c9268a5946b7p+0, 0x1.4c7855019c6eap-60},
    {0x1.5e76f15ad2148p+0, 0x1.432e62b64c035p-54},
    {0x1.605e1b976dc09p+0, -0x1.ce44a6199769fp-55},
    {0x1.6247eb03a5585p+0, -0x1.c33c53bef4da8p-55},
    {0x1.6434634ccc320p+0, -0x1.45378892be9aep-55},
    {0x1.6623882552225p+0, -0x1.3cedd78565858p-54},
    {0x1.68155d44ca973p+0, 0x1.710aa807e1964p-58},
    {0x1.6a09e667f3bcdp+0, -0x1.3b3efbf5e2228p-54},
    {0x1.6c012750bdabfp+0, -0x1.a12ad8734b982p-57},
    {0x1.6dfb23c651a2fp+0, -0x1.367efb86da9eep-57},
    {0x1.6ff7df9519484p+0, -0x1.0dc3d54e08851p-55},
    {0x1.71f75e8ec5f74p+0, -0x1.81f647e5a3ecfp-56},
    {0x1.73f9a48a58174p+0, -0x1.6ee4ac08b7db0p-55},
    {0x1.75feb564267c9p+0, -0x1.619321e55e68ap-55},
    {0x1.780694fde5d3fp+0, 0x1.09ccb5e09d4d3p-54},
    {0x1.7a11473eb0187p+0, -0x1.b32dcb94da51dp-56},
    {0x1.7c1ed0130c132p+0, 0x1.4ecfd5467c06bp-54},
    {0x1.7e2f336cf4e62p+0, 0x1.5ebe1abd66c55p-57},
    {0x1.80427543e1a12p+0, -0x1.8a1c52fb3cf42p-55},
    {0x1.82589994cce13p+0, -0x1.369b6f13b3734p-54},
    {0x1.8471a4623c7adp+0, -0x1.05e843a19ff1ep-55},
    {0x1.868d99b4492edp+0, -0x1.4d450d872576ep-54},
    {0x1.88ac7d98a6699p+0, 0x1.0ad675b0e8a00p-54},
    {0x1.8ace5422aa0dbp+0, 0x1.db72fc1f0eab4p-55},
    {0x1.8cf3216b5448cp+0, -0x1.5b6609cc5e7ffp-57},
    {0x1.8f1ae99157736p+0, 0x1.bf68359f35f44p-56},
    {0x1.9145b0b91ffc6p+0, -0x1.3091fa71e3d83p-54},
    {0x1.93737b0cdc5e5p+0, -0x1.da9b88b6c1e29p-58},
    {0x1.95a44cbc8520fp+0, -0x1.c23f97c90b959p-57},
    {0x1.97d829fde4e50p+0, -0x1.2434322f4f9aap-54},
    {0x1.9a0f170ca07bap+0, -0x1.5ca6cd7668e4bp-55},
    {0x1.9c49182a3f090p+0, 0x1.1affc2b91ce27p-56},
    {0x1.9e86319e32323p+0, 0x1.dd235e10a73bbp-57},
    {0x1.a0c667b5de565p+0, -0x1.7c50422622263p-55},
    {0x1.a309bec4a2d33p+0, 0x1.b1c86e3e231d5p-55},
    {0x1.a5503b23e255dp+0, -0x1.1bbd1d3bcbb15p-54},
    {0x1.a799e1330b358p+0, 0x1.0cc319cee31d2p-54},
    {0x1.a9e6b5579fdbfp+0, 0x1.469846e735ab3p-55},
    {0x1.ac36bbfd3f37ap+0, -0x1.2dfcd978e9db4p-55},
    {0x1.ae89f995ad3adp+0, 0x1.c1a7792cb3387p-55},
    {0x1.b0e07298db666p+0, -0x1.07b8f4ad1d9fap-54},
    {0x1.b33a2b84f15fbp+0, -0x1.5c3d956dcaebap-58},
    {0x1.b59728de5593ap+0, -0x1.0a40e3da6f640p-54},
    {0x1.b7f76f2fb5e47p+0, -0x1.8d6f438ad9334p-57},
    {0x1.ba5b030a1064ap+0, -0x1.1eee26b588a35p-54},
    {0x1.bcc1e904bc1d2p+0, 0x1.4ffd70a5fddcdp-56},
    {0x1.bf2c25bd71e09p+0, -0x1.1bdfbfa9298acp-54},
    {0x1.c199bdd85529cp+0, 0x1.36eae30af0cb3p-56},
    {0x1.c40ab5fffd07ap+0, 0x1.ee3325c9ffd94p-55},
    {0x1.c67f12e57d14bp+0, 0x1.4e08fd10959acp-55},
    {0x1.c8f6d9406e7b5p+0, 0x1.3cdaf384e1a67p-57},
    {0x1.cb720dcef9069p+0, 0x1.76b2c6c921968p-57},
    {0x1.cdf0b555dc3fap+0, -0x1.08a1883ccb5d2p-55},
    {0x1.d072d4a07897cp+0, -0x1.fad5d3ffffa6fp-55},
    {0x1.d2f87080d89f2p+0, -0x1.00dae3875a949p-54},
    {0x1.d5818dcfba487p+0, 0x1.4a385a63d07a7p-56},
    {0x1.d80e316c98398p+0, -0x1.2919e2040220fp-55},
    {0x1.da9e603db3285p+0, 0x1.e5a50d5c192acp-55},
    {0x1.dd321f301b460p+0, 0x1.43a59ac016b4bp-55},
    {0x1.dfc97337b9b5fp+0, -0x1.2d52107b43e1fp-55},
    {0x1.e264614f5a129p+0, -0x1.92ab93b470dc9p-55},
    {0x1.e502ee78b3ff6p+0, 0x1.4b604603a88d3p-56},
    {0x1.e7a51fbc74c83p+0, 0x1.3c5ec519d7271p-55},
    {0x1.ea4afa2a490dap+0, -0x1.ff7128fd391f0p-55},
    {0x1.ecf482d8e67f1p+0, -0x1.dae98e223747dp-55},
    {0x1.efa1bee615a27p+0, 0x1.ec3bc41aa2008p-55},
    {0x1.f252b376bba97p+0, 0x1.42b94c3a9eb32p-55},
    {0x1.f50765b6e4540p+0, 0x1.a64a931d185eep-55},
    {0x1.f7bfdad9cbe14p+0, -0x1.e37bae43be3edp-55},
    {0x1.fa7c1819e90d8p+0, 0x1.7893b4d91cd9dp-56},
    {0x1.fd3c22b8f71f1p+0, 0x1.305c14160cc89p-58},
};

constexpr double INV_LN2_N = 0x1.71547652b82fep+7;  // 128/ln2
// ln2/128 as a head on a 2^-43 grid and the rest: k * LN2_N_HI is exact for
// the |k| < 2^18 that finite results need (|k LN2_N_HI| < 746 < 2^10).
constexpr double LN2_N_HI = 0x1.62e42fefa0000p-8;
constexpr double LN2_N_LO = 0x1.cf79abc9e3b3ap-47;
// Adding and subtracting 1.5 * 2^52 rounds to an integer (to nearest), and
// leaves that integer in the low bits of the sum.
constexpr double ROUND_SHIFT = 0x1.8p52;

// e^r - 1 - r = r^2 (E2 + E3 r + E4 r^2 + E5 r^3) for |r| <= ln2/256, with
// an error below 2^-63.6.
constexpr double E2 = 0x1.fffffffffff58p-2;
constexpr double E3 = 0x1.5555555555495p-3;
constexpr double E4 = 0x1.55555acd08d44p-5;
constexpr double E5 = 0x1.111115c099cfdp-7;

// e^(x + tail) = 2^m * scale * (1 + rest): scale = 2^(j/128) rounded.
struct ExpParts {
    std::int64_t m;
    std::uint64_t scale_bits;
    double rest;
};

// For |x| < 746: the reduced argument fits the polynomial's interval, and
// k * LN2_N_HI is exact.
inline ExpParts exp_parts(double x, double tail) noexcept {
    const double shifted = x * INV_LN2_N + ROUND_SHIFT;
    const std::int64_t k = std::bit_cast<std::int64_t>(shifted) - std::bit_cast<std::int64_t>(ROUND_SHIFT);
    const double kd = shifted - ROUND_SHIFT;
    // x - kd * LN2_N_HI is exact: the two are within a factor 2 of each other.
    const double r = ((x - kd * LN2_N_HI) - kd * LN2_N_LO) + tail;
    const ExpEntry& entry = EXP_TABLE[k & 127];
    const double r2 = r * r;
    const double p = r + r2 * ((E2 + r * E3) + r2 * (E4 + r * E5));
    return {k >> 7, to_bits(entry.scale), entry.tail + p};
}

// 2^e as a double, for -1022 <= e <= 1023.
inline double pow2(int e) noexcept { return from_bits(static_cast<std::uint64_t>(1023 + e) << 52); }

// ---- log

// For the subinterval i of z: invc (8 significant bits) and -log(invc) as a
// head on a 2^-43 grid plus the rest.
struct LogEntry {
    double invc;
    double logc_hi;
    double logc_lo;
};
constexpr LogEntry LOG_TABLE[128] = {
    {0x1.6a00000000000p+0, -0x1.62c82f2b9c800p-2, 0x1.ab42428375680p-48},
    {0x1.6800000000000p+0, -0x1.5d1bdbf580800p-2, -0x1.ca508d8e0f720p-46},
    {0x1.6600000000000p+0, -0x1.5767717455800p-2, -0x1.362a4d5b6506dp-45},
    {0x1.6400000000000p+0, -0x1.51aad872df800p-2, -0x1.684e49eb067d5p-49},
    {0x1.6200000000000p+0, -0x1.4be5f95777800p-2, -0x1.41b6993293ee0p-47},
    {0x1.6000000000000p+0, -0x1.4618bc21c6000p-2, 0x1.3d82f484c84ccp-46},
    {0x1.5e00000000000p+0, -0x1.404308686a800p-2, 0x1.c42f3ed820b3ap-50},
    {0x1.5c00000000000p+0, -0x1.3a64c55694800p-2, 0x1.0b1c686519460p-45},
    {0x1.5a00000000000p+0, -0x1.347dd9a988000p-2, 0x1.5594dd4c58092p-45},
    {0x1.5800000000000p+0, -0x1.2e8e2bae12000p-2, 0x1.67b1e99b72bd8p-45},
    {0x1.5600000000000p+0, -0x1.2895a13de8800p-2, 0x1.5ca14b6cfb03fp-46},
    {0x1.5400000000000p+0, -0x1.22941fbcf7800p-2, -0x1.65a242853da76p-46},
    {0x1.5200000000000p+0, -0x1.1c898c1699800p-2, -0x1.fafbc68e75404p-46},
    {0x1.5000000000000p+0, -0x1.1675cababa800p-2, 0x1.f1fc63382a8f0p-46},
    {0x1.5000000000000p+0, -0x1.1675cababa800p-2, 0x1.f1fc63382a8f0p-46},
    {0x1.4e00000000000p+0, -0x1.1058bf9ae4800p-2, -0x1.6a8c4fd055a66p-45},
    {0x1.4c00000000000p+0, -0x1.0a324e2739000p-2, -0x1.c6bee7ef4030ep-47},
    {0x1.4a00000000000p+0, -0x1.0402594b4d000p-2, -0x1.036b89ef42d7fp-48},
    {0x1.4800000000000p+0, -0x1.fb9186d5e4000p-3, 0x1.d572aab993c87p-47},
    {0x1.4600000000000p+0, -0x1.ef0adcbdc6000p-3, 0x1.b26b79c86af24p-45},
    {0x1.4600000000000p+0, -0x1.ef0adcbdc6000p-3, 0x1.b26b79c86af24p-45},
    {0x1.4400000000000p+0, -0x1.e27076e2af000p-3, -0x1.72f4f543fff10p-46},
    {0x1.4200000000000p+0, -0x1.d5c216b4fc000p-3, 0x1.1ba91bbca681bp-45},
    {0x1.4000000000000p+0, -0x1.c8ff7c79aa000p-3, 0x1.7794f689f8434p-45},
    {0x1.3e00000000000p+0, -0x1.bc286742d9000p-3, 0x1.94eb0318bb78fp-46},
    {0x1.3e00000000000p+0, -0x1.bc286742d9000p-3, 0x1.94eb0318bb78fp-46},
    {0x1.3c00000000000p+0, -0x1.af3c94e80c000p-3, 0x1.a4e633fcd9066p-52},
    {0x1.3a00000000000p+0, -0x1.a23bc1fe2b000p-3, -0x1.58c64dc46c1eap-45},
    {0x1.3800000000000p+0, -0x1.9525a9cf45000p-3, -0x1.ad1d904c1d4e3p-45},
    {0x1.3800000000000p+0, -0x1.9525a9cf45000p-3, -0x1.ad1d904c1d4e3p-45},
    {0x1.3600000000000p+0, -0x1.87fa06520d000p-3, 0x1.bbdbf7fdbfa09p-45},
    {0x1.3400000000000p+0, -0x1.7ab890210e000p-3, 0x1.bdb9072534a58p-45},
    {0x1.3200000000000p+0, -0x1.6d60fe719d000p-3, -0x1.0e46aa3b2e266p-46},
    {0x1.3200000000000p+0, -0x1.6d60fe719d000p-3, -0x1.0e46aa3b2e266p-46},
    {0x1.3000000000000p+0, -0x1.5ff3070a79000p-3, -0x1.e9e439f105039p-46},
    {0x1.2e00000000000p+0, -0x1.526e5e3a1b000p-3, -0x1.0de8b90075b8fp-45},
    {0x1.2e00000000000p+0, -0x1.526e5e3a1b000p-3, -0x1.0de8b90075b8fp-45},
    {0x1.2c00000000000p+0, -0x1.44d2b6ccb8000p-3, 0x1.70cc16135783cp-46},
    {0x1.2a00000000000p+0, -0x1.371fc201e9000p-3, 0x1.178864d27543ap-48},
    {0x1.2a00000000000p+0, -0x1.371fc201e9000p-3, 0x1.178864d27543ap-48},
    {0x1.2800000000000p+0, -0x1.29552f81ff000p-3, -0x1.48d301771c408p-45},
    {0x1.2600000000000p+0, -0x1.1b72ad52f6000p-3, -0x1.e80a41811a396p-45},
    {0x1.2600000000000p+0, -0x1.1b72ad52f6000p-3, -0x1.e80a41811a396p-45},
    {0x1.2400000000000p+0, -0x1.0d77e7cd09000p-3, 0x1.a699688e85bf4p-47},
    {0x1.2200000000000p+0, -0x1.fec9131dbe000p-4, -0x1.575545ca333f2p-45},
    {0x1.2200000000000p+0, -0x1.fec9131dbe000p-4, -0x1.575545ca333f2p-45},
    {0x1.2000000000000p+0, -0x1.e27076e2b0000p-4, 0x1.a342c2af0003cp-45},
    {0x1.1e00000000000p+0, -0x1.c5e548f5bc000p-4, -0x1.d0c57585fbe06p-46},
    {0x1.1e00000000000p+0, -0x1.c5e548f5bc000p-4, -0x1.d0c57585fbe06p-46},
    {0x1.1c00000000000p+0, -0x1.a926d3a4ae000p-4, 0x1.53935e85baac8p-45},
    {0x1.1c00000000000p+0, -0x1.a926d3a4ae000p-4, 0x1.53935e85baac8p-45},
    {0x1.1a00000000000p+0, -0x1.8c345d631a000p-4, 0x1.37c294d2f5668p-46},
    {0x1.1800000000000p+0, -0x1.6f0d28ae56000p-4, -0x1.69737c93373dap-45},
    {0x1.1800000000000p+0, -0x1.6f0d28ae56000p-4, -0x1.69737c93373dap-45},
    {0x1.1600000000000p+0, -0x1.51b073f062000p-4, 0x1.f025b61c65e57p-46},
    {0x1.1600000000000p+0, -0x1.51b073f062000p-4, 0x1.f025b61c65e57p-46},
    {0x1.1400000000000p+0, -0x1.341d7961be000p-4, 0x1.c5edaccf913dfp-45},
    {0x1.1200000000000p+0, -0x1.16536eea38000p-4, 0x1.47c5e768fa309p-46},
    {0x1.1200000000000p+0, -0x1.16536eea38000p-4, 0x1.47c5e768fa309p-46},
    {0x1.1000000000000p+0, -0x1.f0a30c0118000p-5, 0x1.d599e83368e91p-45},
    {0x1.1000000000000p+0, -0x1.f0a30c0118000p-5, 0x1.d599e83368e91p-45},
    {0x1.0e00000000000p+0, -0x1.b42dd71198000p-5, 0x1.c827ae5d6704cp-46},
    {0x1.0e00000000000p+0, -0x1.b42dd71198000p-5, 0x1.c827ae5d6704cp-46},
    {0x1.0c00000000000p+0, -0x1.77458f632c000p-5, -0x1.cfc4634f2a1eep-45},
    {0x1.0a00000000000p+0, -0x1.39e87b9fec000p-5, 0x1.502b7f526feaap-48},
    {0x1.0a00000000000p+0, -0x1.39e87b9fec000p-5, 0x1.502b7f526feaap-48},
    {0x1.0800000000000p+0, -0x1.f829b0e780000p-6, -0x1.980267c7e09e4p-45},
    {0x1.0800000000000p+0, -0x1.f829b0e780000p-6, -0x1.980267c7e09e4p-45},
    {0x1.0600000000000p+0, -0x1.7b91b07d58000p-6, -0x1.88d5493faa639p-45},
    {0x1.0600000000000p+0, -0x1.7b91b07d58000p-6, -0x1.88d5493faa639p-45},
    {0x1.0400000000000p+0, -0x1.fc0a8b0fc0000p-7, -0x1.f1e7cf6d3a69cp-50},
    {0x1.0400000000000p+0, -0x1.fc0a8b0fc0000p-7, -0x1.f1e7cf6d3a69cp-50},
    {0x1.0200000000000p+0, -0x1.fe02a6b100000p-8, -0x1.9e23f0dda40e4p-46},
    {0x1.0200000000000p+0, -0x1.fe02a6b100000p-8, -0x1.9e23f0dda40e4p-46},
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},
    {0x1.fa00000000000p-1, 0x1.82448a3890000p-7, -0x1.75577da74f640p-45},
    {0x1.f600000000000p-1, 0x1.432a925980000p-6, 0x1.98139928637fep-47},
    {0x1.f200000000000p-1, 0x1.c63d2ec148000p-6, 0x1.578c63f9eb2f3p-45},
    {0x1.ee00000000000p-1, 0x1.252f32f8d0000p-5, 0x1.83e9ae021b67bp-45},
    {0x1.ea00000000000p-1, 0x1.67c94f2d4c000p-5, -0x1.29efbec19afa2p-47},
    {0x1.e800000000000p-1, 0x1.894aa149fc000p-5, -0x1.97995d05a267dp-46},
    {0x1.e400000000000p-1, 0x1.ccb73cdddc000p-5, -0x1.a68f247d82807p-46},
    {0x1.e000000000000p-1, 0x1.08598b59e4000p-4, -0x1.7e5dd7009902cp-46},
    {0x1.dc00000000000p-1, 0x1.2aa04a4472000p-4, -0x1.0b6e8ae9c697dp-45},
    {0x1.da00000000000p-1, 0x1.3bdf5a7d1e000p-4, 0x1.cc85ea5db4ed7p-45},
    {0x1.d600000000000p-1, 0x1.5e95a4d97a000p-4, -0x1.c69063c5d1d1ep-45},
    {0x1.d200000000000p-1, 0x1.8197e2f40e000p-4, 0x1.f80dcf96ffdf7p-47},
    {0x1.d000000000000p-1, 0x1.9335e5d594000p-4, 0x1.3115c3abd47dap-45},
    {0x1.cc00000000000p-1, 0x1.b6ac88dad6000p-4, -0x1.390802bf768e5p-46},
    {0x1.c800000000000p-1, 0x1.da72763844000p-4, 0x1.a89401fa71733p-46},
    {0x1.c600000000000p-1, 0x1.ec739830a2000p-4, -0x1.dc068afe645e0p-45},
    {0x1.c200000000000p-1, 0x1.08598b59e4000p-3, -0x1.7e5dd7009902cp-45},
    {0x1.c000000000000p-1, 0x1.1178e8227e000p-3, 0x1.1ef78ce2d07f2p-45},
    {0x1.bc00000000000p-1, 0x1.23d712a49c000p-3, 0x1.00d238fd3df5cp-46},
    {0x1.ba00000000000p-1, 0x1.2d1610c868000p-3, 0x1.39d6ccb81b4a1p-47},
    {0x1.b600000000000p-1, 0x1.3fb45a5993000p-3, -0x1.cd1d87e6a354dp-45},
    {0x1.b400000000000p-1, 0x1.4913d8333b000p-3, 0x1.5837954fdb678p-45},
    {0x1.b000000000000p-1, 0x1.5bf406b544000p-3, -0x1.27023eb68981cp-46},
    {0x1.ae00000000000p-1, 0x1.6574ebe8c1000p-3, 0x1.9cf8b2c3c2e78p-46},
    {0x1.aa00000000000p-1, 0x1.7898d85445000p-3, -0x1.c661070914305p-46},
    {0x1.a800000000000p-1, 0x1.823c16551a000p-3, 0x1.e0ddb9a631e83p-46},
    {0x1.a600000000000p-1, 0x1.8beafeb390000p-3, -0x1.73d54aae92cd1p-47},
    {0x1.a200000000000p-1, 0x1.9f6c407089000p-3, 0x1.9904d6865817ap-45},
    {0x1.a000000000000p-1, 0x1.a93ed3c8ae000p-3, -0x1.8724350562169p-45},
    {0x1.9e00000000000p-1, 0x1.b31d8575bd000p-3, -0x1.c358d4eace1aap-47},
    {0x1.9a00000000000p-1, 0x1.c6ffbc6f01000p-3, -0x1.1ec72c5962bd2p-48},
    {0x1.9800000000000p-1, 0x1.d1037f2656000p-3, -0x1.84a7e75b6f6e4p-47},
    {0x1.9600000000000p-1, 0x1.db13db0d49000p-3, -0x1.aff2af715b035p-45},
    {0x1.9400000000000p-1, 0x1.e530effe71000p-3, 0x1.212276041f430p-51},
    {0x1.9000000000000p-1, 0x1.f991c6cb3b000p-3, 0x1.bcbecca0cdf30p-46},
    {0x1.8e00000000000p-1, 0x1.01eae5626c800p-2, -0x1.6f08c1485e94ap-46},
    {0x1.8c00000000000p-1, 0x1.07138604d5800p-2, 0x1.89cdb16ed4e91p-48},
    {0x1.8a00000000000p-1, 0x1.0c42d67616000p-2, 0x1.7188b163ceae9p-45},
    {0x1.8800000000000p-1, 0x1.1178e8227e800p-2, -0x1.c210e63a5f01cp-45},
    {0x1.8400000000000p-1, 0x1.1bf99635a6800p-2, 0x1.ca6ed5147bdb7p-45},
    {0x1.8200000000000p-1, 0x1.214456d0eb800p-2, 0x1.a87deba46baeap-47},
    {0x1.8000000000000p-1, 0x1.269621134d800p-2, 0x1.c93c1df5bb3b6p-45},
    {0x1.7e00000000000p-1, 0x1.2bef07cdc9000p-2, 0x1.a9cfa4a5004f4p-45},
    {0x1.7c00000000000p-1, 0x1.314f1e1d36000p-2, -0x1.8e27ad3213cb8p-45},
    {0x1.7a00000000000p-1, 0x1.36b6776be1000p-2, 0x1.16ecdb0f177c8p-46},
    {0x1.7800000000000p-1, 0x1.3c25277333000p-2, 0x1.83b54b606bd5cp-46},
    {0x1.7600000000000p-1, 0x1.419b423d5e800p-2, 0x1.8e436ec90e09dp-47},
    {0x1.7400000000000p-1, 0x1.4718dc271c800p-2, -0x1.f27ce0967d675p-45},
    {0x1.7200000000000p-1, 0x1.4c9e09e173000p-2, -0x1.e20891b0ad8a4p-45},
    {0x1.7000000000000p-1, 0x1.522ae0738a000p-2, 0x1.ebe708164c759p-45},
    {0x1.6e00000000000p-1, 0x1.57bf753c8d000p-2, 0x1.fadedee5d40efp-46},
    {0x1.6c00000000000p-1, 0x1.5d5bddf596000p-2, -0x1.a0b2a08a465dcp-47},
};

// z = x / 2^k lies in [LOG_OFFSET, 2 LOG_OFFSET), LOG_OFFSET = 0.70703125;
// the subintervals are 128 steps of the top 7 bits above LOG_OFFSET's bits,
// so 1.0 is the boundary between subintervals 74 and 75.
constexpr std::uint64_t LOG_OFFSET = 0x3fe6a00000000000;
// ln2 as a head on a 2^-43 grid, so k * LN2_HI + logc_hi is exact for every
// exponent k of a double, and the rest.
constexpr double LN2_HI = 0x1.62e42fefa3800p-1;
constexpr double LN2_LO = 0x1.ef35793c76730p-45;

// log1p(r) - r + r^2/2 = r^3 (L3 + L4 r + ... + L9 r^6) for |r| < 2^-7,
// error below 2^-69.3 |r|.
constexpr double L3 = 0x1.5555555555555p-2;
constexpr double L4 = -0x1.000000000002dp-2;
constexpr double L5 = 0x1.9999999999abdp-3;
constexpr double L6 = -0x1.5555554a21e1cp-3;
constexpr double L7 = 0x1.24924911a8c75p-3;
constexpr double L8 = -0x1.000599b1ad2d0p-3;
constexpr double L9 = 0x1.c72989654a2f3p-4;

// A shorter fit for log_short: log1p(r) - r + r^2/2 = r^3 (M3 + ... + M8 r^5)
// for |r| < 2^-7, error below 2^-64 |r|.
constexpr double M3 = 0x1.5555555555564p-2;
constexpr double M4 = -0x1.000000000004dp-2;
constexpr double M5 = 0x1.999999919970ap-3;
constexpr double M6 = -0x1.5555554621911p-3;
constexpr double M7 = 0x1.24979e8e55046p-3;
constexpr double M8 = -0x1.0006668dcb236p-3;

constexpr double INV_LN10_HI = 0x1.bcb7b1526e50ep-2;
constexpr double INV_LN10_LO = 0x1.95355baaafad3p-57;

// x = 2^k z as in the table's description, with r = z invc - 1 exactly.
struct LogReduced {
    double kd;  // k
    double r;
    const LogEntry* entry;
};

// For finite x > 0, subnormals included.
inline LogReduced log_reduce(double x) noexcept {
    std::uint64_t ix = to_bits(x);
    if (ix < 0x0010000000000000) {
        // Subnormal: scale into the normal range.
        ix = to_bits(x * 0x1p52) - (std::uint64_t{52} << 52);
    }
    const std::uint64_t offset = ix - LOG_OFFSET;
    const LogEntry& entry = LOG_TABLE[(offset >> 45) & 127];
    const std::int64_t k = static_cast<std::int64_t>(offset) >> 52;
    const std::uint64_t iz = ix - (offset & (std::uint64_t{0xfff} << 52));
    const double z = from_bits(iz);
    // r = z * invc - 1 exactly: z_head has 45 significant bits, so
    // z_head * invc is exact and within 2^-7 of 1; z_tail has 8 bits.
    const double z_head = from_bits(iz & ~std::uint64_t{0xff});
    const double z_tail = z - z_head;
    const double r = (z_head * entry.invc - 1.0) + z_tail * entry.invc;
    return {static_cast<double>(k), r, &entry};
}

// log x as hi + lo to about 2^-62 relative: enough for log and log10, and
// cheaper than detail::log_dd. The r^2/2 term goes into the low part
// unsplit, as do the table's and ln2's low parts.
inline DoubleDouble log_short(double x) noexcept {
    const LogReduced lr = log_reduce(x);
    const double r = lr.r;
    const double t1 = lr.kd * LN2_HI + lr.entry->logc_hi;  // exact
    const DoubleDouble hi = fast_two_sum(t1, r);
    const double r2 = r * r;
    const double poly = r2 * (-0.5 + r * (((M3 + r * M4) + r2 * (M5 + r * M6)) + (r2 * r2) * (M7 + r * M8)));
    return {hi.hi, (hi.lo + (lr.kd * LN2_LO + lr.entry->logc_lo)) + poly};
}

}  // namespace

namespace detail {

ExpPair exp_pair(double a) noexcept {
    // a = k ln2/128 + r and -a = -k ln2/128 - r: one reduction serves both,
    // and the polynomial's even and odd parts give e^r - 1 and e^-r - 1.
    const double shifted = a * INV_LN2_N + ROUND_SHIFT;
    const std::int64_t k = std::bit_cast<std::int64_t>(shifted) - std::bit_cast<std::int64_t>(ROUND_SHIFT);
    const double kd = shifted - ROUND_SHIFT;
    const double r = (a - kd * LN2_N_HI) - kd * LN2_N_LO;
    const double r2 = r * r;
    const double even = r2 * (E2 + r2 * E4);
    const double odd = r + (r * r2) * (E3 + r2 * E5);
    const ExpEntry& ep = EXP_TABLE[k & 127];
    const ExpEntry& em = EXP_TABLE[-k & 127];
    const double sp = from_bits(to_bits(ep.scale) + (static_cast<std::uint64_t>(k >> 7) << 52));
    const double sm = from_bits(to_bits(em.scale) + (static_cast<std::uint64_t>(-k >> 7) << 52));
    return {fast_two_sum(sp, sp * (ep.tail + (even + odd))), fast_two_sum(sm, sm * (em.tail + (even - odd)))};
}

double exp_rounded(double x, double tail, std::uint64_t sign_bit) noexcept {
    if (!(x < 709.8 && x > -745.2)) {
        // e^x is above the largest double by more than half an ulp, or
        // below 2^-1075, half the smallest subnormal: overflow, or
        // underflow to zero.
        return from_bits(to_bits(x > 0 ? INF : 0.0) | sign_bit);
    }
    const ExpParts parts = exp_parts(x, tail);
    // From m = -1000 on, scale * rest is far enough from the subnormal range
    // that its rounding stays below 2^-60 of the result.
    if (parts.m > -1000 && parts.m < 1023) {
        const double scale = from_bits((parts.scale_bits + (static_cast<std::uint64_t>(parts.m) << 52)) | sign_bit);
        return scale + scale * parts.rest;
    }
    if (parts.m > 0) {
        // 2^m * scale may exceed the largest double: build half of it and
        // double the rounded result, which overflows to infinity where the
        // exact result would round to it.
        const double half = from_bits((parts.scale_bits + (static_cast<std::uint64_t>(parts.m - 1) << 52)) | sign_bit);
        return 2.0 * (half + half * parts.rest);
    }
    // The result may lie below 2^-1022. Work with it scaled up by 2^1022,
    // as y = scale + scale * rest (m + 1022 >= -54: scale is normal).
    const double scale = from_bits(parts.scale_bits + (static_cast<std::uint64_t>(parts.m + 1022) << 52));
    const double correction = scale * parts.rest;
    const double y = scale + correction;
    double result;
    if (y >= 1.0) {
        result = y * pow2(-1022);
    } else {
        // Subnormal: the result's grid is 2^-1074, which is 2^-52 in y, the
        // grid of [1, 2). Adding 1 to the exact y = scale + correction and
        // rounding there rounds y once to the right grid.
        const double y_err = (scale - y) + correction;
        const double one_plus = 1.0 + y;
        const double one_plus_err = ((1.0 - one_plus) + y) + y_err;
        result = ((one_plus + one_plus_err) - 1.0) * pow2(-1022);
    }
    return from_bits(to_bits(result) | sign_bit);
}

DoubleDouble log_dd(double x) noexcept {
    const LogReduced lr = log_reduce(x);
    const double r = lr.r;
    const double t1 = lr.kd * LN2_HI + lr.entry->logc_hi;  // exact
    // |t1| >= |r| unless t1 == 0 (true of every table entry), so t2 is
    // exactly t1 + r.
    const DoubleDouble t2 = fast_two_sum(t1, r);
    // -r^2/2 split as -r_head^2/2 (exact: r_head has 26 bits) and the rest.
    const double r_head = from_bits(to_bits(r) & ~((std::uint64_t{1} << 27) - 1));
    const double r_tail = r - r_head;
    const DoubleDouble hi = fast_two_sum(t2.hi, -0.5 * (r_head * r_head));
    const double r2 = r * r;
    const double poly = r2 * r * (((L3 + r * L4) + r2 * (L5 + r * L6)) + (r2 * r2) * ((L7 + r * L8) + r2 * L9));
    const double lo = (t2.lo + hi.lo) + (lr.kd * LN2_LO + lr.entry->logc_lo) - 0.5 * (r_tail * (r_head + r)) + poly;
    return fast_two_sum(hi.hi, lo);
}

}  // namespace detail

double exp(double x) noexcept {
    const std::uint64_t top = (to_bits(x) >> 52) & 0x7ff;
    // Fast path for 2^-54 <= |x| < 512.
    if (top - 0x3c9 < 0x408 - 0x3c9) {
        const ExpParts parts = exp_parts(x, 0.0);
        const double scale = from_bits(parts.scale_bits + (static_cast<std::uint64_t>(parts.m) << 52));
        return scale + scale * parts.rest;
    }
    if (top < 0x3c9) return 1.0 + x;  // e^x = 1 + x to within 2^-108
    if (std::isnan(x)) return x + x;
    if (std::isinf(x)) return x > 0 ? x : 0.0;
    return detail::exp_rounded(x, 0.0, 0);
}

double log(double x) noexcept {
    const std::uint64_t ix = to_bits(x);
    // Fast path: x positive, finite, nonzero (subnormals included).
    if (ix - 1 < 0x7ff0000000000000 - 1) {
        const DoubleDouble l = log_short(x);
        return l.hi + l.lo;
    }
    if (std::isnan(x)) return x + x;
    if ((ix << 1) == 0) return -INF;  // log(+-0)
    if (ix == to_bits(INF)) return x;
    return std::numeric_limits<double>::quiet_NaN();  // x < 0, -inf
}

double log10(double x) noexcept {
    const std::uint64_t ix = to_bits(x);
    if (ix - 1 < 0x7ff0000000000000 - 1) {
        const DoubleDouble l = log_short(x);
        const DoubleDouble p = detail::two_product(l.hi, INV_LN10_HI);
        return p.hi + (p.lo + (l.hi * INV_LN10_LO + l.lo * INV_LN10_HI));
    }
    return log(x);  // the special values are those of log
}

}  // namespace vorlane::math
