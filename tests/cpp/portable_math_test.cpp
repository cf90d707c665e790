// The portable elementary functions: accuracy against quad-precision values
// from libquadmath over large samples and hard cases, and the special values
// of C99 Annex F against the C library.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "core/math.hpp"

// libquadmath's functions, declared here rather than through GCC's
// quadmath.h, which clang (the sanitized build) does not find.
extern "C" {
int isnanq(__float128);
__float128 fabsq(__float128);
__float128 ldexpq(__float128, int);
__float128 frexpq(__float128, int*);
__float128 expq(__float128);
__float128 logq(__float128);
__float128 log10q(__float128);
__float128 powq(__float128, __float128);
__float128 sinq(__float128);
__float128 cosq(__float128);
__float128 acosq(__float128);
__float128 atanq(__float128);
__float128 atan2q(__float128, __float128);
__float128 asinq(__float128);
__float128 sinhq(__float128);
__float128 coshq(__float128);
__float128 tanhq(__float128);
}

namespace vorlane::portable_math_test {
namespace {

namespace pm = vorlane::math;
using Quad = __float128;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double QNAN = std::numeric_limits<double>::quiet_NaN();
constexpr double MAX = std::numeric_limits<double>::max();
constexpr double MIN_NORMAL = std::numeric_limits<double>::min();
constexpr double TINY = std::numeric_limits<double>::denorm_min();

// |got - exact| in units of the last place of the double nearest to exact,
// the grid 2^-1074 below the normal range. A result beyond the largest
// double by half an ulp or more must be infinity.
double ulp_error(double got, Quad exact) {
    if (isnanq(exact)) return std::isnan(got) ? 0.0 : INF;
    const Quad magnitude = fabsq(exact);
    if (magnitude >= ldexpq(2.0 - ldexpq(1.0, -53), 1023)) {
        return got == (exact > 0 ? INF : -INF) ? 0.0 : INF;
    }
    if (std::isinf(got) || std::isnan(got)) return INF;
    int e;
    frexpq(magnitude, &e);  // magnitude in [2^(e-1), 2^e)
    const int unit = std::max(e - 53, -1074);
    return static_cast<double>(fabsq(static_cast<Quad>(got) - exact) / ldexpq(1.0, unit));
}

double next_up(double x, int steps = 1) { return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) + steps); }

// Deterministic samples, built from random bits alone.
class Sampler {
public:
    explicit Sampler(std::uint64_t seed) : rng_(seed) {}

    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }

    // |x| spread evenly over the binades 2^e_lo ... 2^e_hi, random sign if
    // asked; subnormals where e_lo is below -1022.
    double magnitude(int e_lo, int e_hi, bool random_sign = false) {
        const int e = e_lo + static_cast<int>(rng_() % static_cast<std::uint64_t>(e_hi - e_lo));
        const double x = std::ldexp(1.0 + unit(), e);
        return random_sign && (rng_() & 1) ? -x : x;
    }

    bool coin() { return (rng_() & 1) != 0; }
    int integer(int lo, int hi) { return lo + static_cast<int>(rng_() % static_cast<std::uint64_t>(hi - lo + 1)); }

private:
    double unit() { return static_cast<double>(rng_() >> 11) * 0x1p-53; }
    std::mt19937_64 rng_;
};

// The largest error over a sample, and where.
struct Worst {
    const char* name;
    double ulps = 0;
    double x = 0;
    double y = 0;

    void add(double error, double at_x, double at_y = 0) {
        if (!(error <= ulps)) {
            ulps = error;
            x = at_x;
            y = at_y;
        }
    }
    ~Worst() { std::printf("[ max error ] %-8s %.4f ulp at %a, %a\n", name, ulps, x, y); }
};

constexpr int SAMPLES = 200000;  // per function

TEST(PortableMathAccuracy, ExpDownThroughTheSubnormalsAndUpToOverflow) {
    Worst worst{"exp"};
    Sampler s(1);
    auto check = [&](double x) { worst.add(ulp_error(pm::exp(x), expq(x)), x); };
    for (int i = 0; i < SAMPLES / 2; ++i) check(s.uniform(-745.2, 709.8));
    for (int i = 0; i < SAMPLES / 4; ++i) check(s.magnitude(-60, 9, true));
    for (int i = 0; i < SAMPLES / 4; ++i) check(s.uniform(-745.2, -708.3));  // subnormal results
    // Where the result overflows, reaches 2^-1022, and rounds to 2^-1074 or 0.
    for (const double edge : {709.782712893384, -708.3964185322641, -745.1332191019411, -744.4400719213812}) {
        for (int k = -40; k <= 40; ++k) check(next_up(edge, k));
    }
    EXPECT_LT(worst.ulps, 0.52);
}

TEST(PortableMathAccuracy, LogAndLog10OverEveryBinadeAndNearOne) {
    Worst worst_log{"log"};
    Worst worst_log10{"log10"};
    Sampler s(2);
    auto check = [&](double x) {
        worst_log.add(ulp_error(pm::log(x), logq(x)), x);
        worst_log10.add(ulp_error(pm::log10(x), log10q(x)), x);
    };
    for (int i = 0; i < SAMPLES / 2; ++i) check(s.magnitude(-1074, 1024));
    for (int i = 0; i < SAMPLES / 2; ++i) check(1.0 + s.magnitude(-53, -1, true));
    EXPECT_LT(worst_log.ulps, 0.52);
    EXPECT_LT(worst_log10.ulps, 0.52);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(pm::log(1.0)), 0u);
    double power = 1.0;
    for (int k = 0; k <= 22; ++k, power *= 10.0) EXPECT_EQ(pm::log10(power), k);
}

TEST(PortableMathAccuracy, PowNearOneWithLargeExponentsNearOverflowAndInTheSubnormals) {
    Worst worst{"pow"};
    Sampler s(3);
    auto check = [&](double x, double y) { worst.add(ulp_error(pm::pow(x, y), powq(x, y)), x, y); };
    for (int i = 0; i < SAMPLES / 4; ++i) check(s.magnitude(-30, 30), s.uniform(-40.0, 40.0));
    for (int i = 0; i < SAMPLES / 4; ++i) {
        // x within 2^-53 ... 2^-1 of 1 and y such that |y log x| is up to 700.
        const double x = 1.0 + s.magnitude(-53, -1, true);
        const double y = s.uniform(1.0, 700.0) / pm::log(x);
        check(x, s.coin() ? y : -y);
    }
    for (int i = 0; i < SAMPLES / 4; ++i) {
        // Results near overflow, and from 2^-1010 down into the subnormals.
        const double x = s.magnitude(-1000, 1000);
        const double t = s.coin() ? s.uniform(690.0, 709.8) : s.uniform(-745.2, -700.0);
        check(x, t / pm::log(x));
    }
    for (int i = 0; i < SAMPLES / 4; ++i) check(-s.magnitude(-20, 20), s.integer(-70, 70));
    EXPECT_LT(worst.ulps, 0.52);
    // Exact results stay exact.
    double power = 1.0;
    for (int k = 0; k <= 22; ++k, power *= 10.0) EXPECT_EQ(pm::pow(10.0, k), power);
    for (int k = -1074; k <= 1023; ++k) EXPECT_EQ(pm::pow(2.0, k), std::ldexp(1.0, k));
    for (int k = 1; k <= 1000; ++k) EXPECT_EQ(pm::pow(double(k) * k, 0.5), k);
    EXPECT_EQ(pm::pow(-3.0, 33.0), -5559060566555523.0);
}

TEST(PortableMathAccuracy, SinAndCosIncludingHugeArgumentsAndNearMultiplesOfHalfPi) {
    Worst worst_sin{"sin"};
    Worst worst_cos{"cos"};
    Sampler s(4);
    int sincos_mismatches = 0;
    auto check = [&](double x) {
        const double sn = pm::sin(x);
        const double cs = pm::cos(x);
        worst_sin.add(ulp_error(sn, sinq(x)), x);
        worst_cos.add(ulp_error(cs, cosq(x)), x);
        double s2 = 0;
        double c2 = 0;
        pm::sincos(x, s2, c2);
        if (std::bit_cast<std::uint64_t>(s2) != std::bit_cast<std::uint64_t>(sn) ||
            std::bit_cast<std::uint64_t>(c2) != std::bit_cast<std::uint64_t>(cs)) {
            ++sincos_mismatches;
        }
    };
    for (int i = 0; i < SAMPLES / 4; ++i) check(s.uniform(-10.0, 10.0));
    for (int i = 0; i < SAMPLES / 4; ++i) check(s.magnitude(-30, 20, true));
    for (int i = 0; i < SAMPLES / 4; ++i) check(s.magnitude(20, 1024, true));
    const Quad half_pi = acosq(0.0);
    for (int i = 0; i < SAMPLES / 4; ++i) {
        // The doubles nearest to k pi/2, and a few ulps either side.
        const double k = i % 2 ? s.integer(1, 1 << 20) : std::ldexp(s.uniform(1.0, 2.0), s.integer(20, 1000));
        check(next_up(static_cast<double>(std::floor(k) * half_pi), s.integer(-8, 8)));
    }
    // The double closest to a multiple of pi/2 (6381956970095103 * 2^797),
    // and large powers of ten.
    check(std::ldexp(6381956970095103.0, 797));
    for (double x = 1e22; x < 1e308; x *= 10.0) check(x);
    check(MAX);
    EXPECT_LT(worst_sin.ulps, 0.53);
    EXPECT_LT(worst_cos.ulps, 0.53);
    EXPECT_EQ(sincos_mismatches, 0);
}

TEST(PortableMathAccuracy, AtanAtan2AcrossQuadrantsAndAsin) {
    Worst worst_atan{"atan"};
    Worst worst_atan2{"atan2"};
    Worst worst_asin{"asin"};
    Sampler s(5);
    for (int i = 0; i < SAMPLES / 2; ++i) {
        const double x = i % 2 ? s.magnitude(-40, 40, true) : s.uniform(-2.0, 2.0);
        worst_atan.add(ulp_error(pm::atan(x), atanq(x)), x);
    }
    auto check2 = [&](double y, double x) { worst_atan2.add(ulp_error(pm::atan2(y, x), atan2q(y, x)), y, x); };
    for (int i = 0; i < SAMPLES / 2; ++i) check2(s.magnitude(-20, 20, true), s.magnitude(-20, 20, true));
    for (int i = 0; i < SAMPLES / 4; ++i) check2(s.magnitude(-1074, 1024, true), s.magnitude(-1074, 1024, true));
    for (int i = 0; i < SAMPLES / 4; ++i) {
        // Near the diagonals, where the quotient is near 1.
        const double x = s.magnitude(-10, 10, true);
        check2(x * s.uniform(0.9, 1.1) * (s.coin() ? 1 : -1), x);
    }
    for (int i = 0; i < SAMPLES / 2; ++i) {
        const double x = i % 2 ? s.uniform(-1.0, 1.0) : (1.0 - s.magnitude(-53, -1)) * (s.coin() ? 1 : -1);
        worst_asin.add(ulp_error(pm::asin(x), asinq(x)), x);
    }
    EXPECT_LT(worst_atan.ulps, 0.55);
    EXPECT_LT(worst_atan2.ulps, 0.55);
    EXPECT_LT(worst_asin.ulps, 0.75);
}

TEST(PortableMathAccuracy, SinhCoshTanhUpToOverflow) {
    Worst worst_sinh{"sinh"};
    Worst worst_cosh{"cosh"};
    Worst worst_tanh{"tanh"};
    Sampler s(6);
    for (int i = 0; i < SAMPLES; ++i) {
        const double x = i % 2 ? s.uniform(-3.0, 3.0) : (i % 4 ? s.magnitude(-30, 9, true) : s.uniform(-710.6, 710.6));
        worst_sinh.add(ulp_error(pm::sinh(x), sinhq(x)), x);
        worst_cosh.add(ulp_error(pm::cosh(x), coshq(x)), x);
        const double t = i % 2 ? x : s.magnitude(-30, 5, true);
        worst_tanh.add(ulp_error(pm::tanh(t), tanhq(t)), t);
    }
    EXPECT_LT(worst_sinh.ulps, 0.55);
    EXPECT_LT(worst_cosh.ulps, 0.55);
    EXPECT_LT(worst_tanh.ulps, 0.55);
}

// Whether ours agrees with the C library's result: the same bits where
// either is zero, infinite or NaN (any NaN), within 1 ulp elsewhere (the
// C library's own results vary by that much between processors).
::testing::AssertionResult agrees(double ours, double libc) {
    if (std::isnan(ours) && std::isnan(libc)) return ::testing::AssertionSuccess();
    const bool special = ours == 0 || libc == 0 || std::isinf(ours) || std::isinf(libc) || std::isnan(ours) ||
                         std::isnan(libc);
    if (special ? std::bit_cast<std::uint64_t>(ours) == std::bit_cast<std::uint64_t>(libc)
                : std::fabs(ours - libc) <= std::fabs(next_up(std::fabs(libc)) - std::fabs(libc))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "ours " << std::hexfloat << ours << ", C library " << libc;
}

const std::vector<double>& special_arguments() {
    static const std::vector<double> values = [] {
        std::vector<double> v;
        for (const double x : {0.0, TINY, MIN_NORMAL - TINY, MIN_NORMAL, 1e-300, 0x1p-30, 0.25, 0.5, 0.75,
                               next_up(1.0, -1), 1.0, next_up(1.0), 1.5, 2.0, 2.5, 3.0, 10.0, 22.0, 0x1p53,
                               0x1p53 + 2, 0x1p64, 700.0, 709.8, 710.5, 745.2, 746.0, 1e300, MAX, INF}) {
            v.push_back(x);
            v.push_back(-x);
        }
        v.push_back(QNAN);
        v.push_back(-QNAN);
        return v;
    }();
    return values;
}

TEST(PortableMathSpecialValues, OneArgumentFunctionsMatchTheCLibrary) {
    struct Pair {
        const char* name;
        double (*ours)(double);
        double (*libc)(double);
    };
    const Pair functions[] = {
        {"exp", pm::exp, [](double x) { return std::exp(x); }},
        {"log", pm::log, [](double x) { return std::log(x); }},
        {"log10", pm::log10, [](double x) { return std::log10(x); }},
        {"sin", pm::sin, [](double x) { return std::sin(x); }},
        {"cos", pm::cos, [](double x) { return std::cos(x); }},
        {"atan", pm::atan, [](double x) { return std::atan(x); }},
        {"asin", pm::asin, [](double x) { return std::asin(x); }},
        {"sinh", pm::sinh, [](double x) { return std::sinh(x); }},
        {"cosh", pm::cosh, [](double x) { return std::cosh(x); }},
        {"tanh", pm::tanh, [](double x) { return std::tanh(x); }},
    };
    for (const Pair& f : functions) {
        for (const double x : special_arguments()) {
            EXPECT_TRUE(agrees(f.ours(x), f.libc(x))) << f.name << "(" << std::hexfloat << x << ")";
        }
    }
    for (const double x : special_arguments()) {
        double s = 0;
        double c = 0;
        pm::sincos(x, s, c);
        EXPECT_TRUE(agrees(s, std::sin(x))) << "sincos(" << std::hexfloat << x << ")";
        EXPECT_TRUE(agrees(c, std::cos(x))) << "sincos(" << std::hexfloat << x << ")";
    }
}

TEST(PortableMathSpecialValues, PowAndAtan2MatchTheCLibraryOnEveryPairOfSpecialArguments) {
    for (const double x : special_arguments()) {
        for (const double y : special_arguments()) {
            EXPECT_TRUE(agrees(pm::pow(x, y), std::pow(x, y))) << "pow(" << std::hexfloat << x << ", " << y << ")";
            EXPECT_TRUE(agrees(pm::atan2(y, x), std::atan2(y, x)))
                << "atan2(" << std::hexfloat << y << ", " << x << ")";
        }
    }
}

bool same_value(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

TEST(PortableMathSpecialValues, PowFollowsAnnexF) {
    struct Case {
        double x, y, expected;
    };
    const Case cases[] = {
        {QNAN, 0.0, 1.0},        {QNAN, -0.0, 1.0},      {1.0, QNAN, 1.0},      {1.0, -INF, 1.0},
        {-1.0, INF, 1.0},        {-1.0, -INF, 1.0},      {QNAN, 1.0, QNAN},     {2.0, QNAN, QNAN},
        {-0.0, -3.0, -INF},      {0.0, -3.0, INF},       {-0.0, -2.0, INF},     {-0.0, -0.5, INF},
        {-0.0, -INF, INF},       {-0.0, 3.0, -0.0},      {-0.0, 2.0, 0.0},      {-0.0, 0.5, 0.0},
        {0.5, -INF, INF},        {-2.0, -INF, 0.0},      {-0.5, INF, 0.0},      {2.0, INF, INF},
        {-INF, -3.0, -0.0},      {-INF, -2.0, 0.0},      {-INF, -0.5, 0.0},     {-INF, 3.0, -INF},
        {-INF, 2.0, INF},        {-INF, 0.5, INF},       {INF, -1.0, 0.0},      {INF, 0.5, INF},
        {-2.0, 0.5, QNAN},       {-2.0, -INF, 0.0},      {-2.0, 3.0, -8.0},     {-2.0, 0x1p53 + 2, INF},
        {-0.5, 0x1p53 + 2, 0.0}, {2.0, 1024.0, INF},     {-2.0, 1025.0, -INF},  {2.0, -1074.0, TINY},
        {-2.0, -1075.0, -0.0},   {2.0, -1076.0, 0.0},    {0.5, 0x1p64, 0.0},    {next_up(1.0), 0x1p64, INF},
        {next_up(1.0), -0x1p64, 0.0}, {-next_up(1.0, -1), 0x1p64, 0.0}, {MAX, 2.0, INF}, {-MAX, 3.0, -INF},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(same_value(pm::pow(c.x, c.y), c.expected)) << "pow(" << std::hexfloat << c.x << ", " << c.y << ")";
    }
}

TEST(PortableMathSpecialValues, Atan2FollowsAnnexF) {
    const double pi = 0x1.921fb54442d18p+1;
    struct Case {
        double y, x, expected;
    };
    const Case cases[] = {
        {0.0, -0.0, pi},        {-0.0, -0.0, -pi},       {0.0, 0.0, 0.0},          {-0.0, 0.0, -0.0},
        {0.0, -1.0, pi},        {-0.0, -1.0, -pi},       {0.0, 1.0, 0.0},          {-0.0, 1.0, -0.0},
        {-1.0, 0.0, -pi / 2},   {-1.0, -0.0, -pi / 2},   {1.0, 0.0, pi / 2},       {1.0, -0.0, pi / 2},
        {1.0, -INF, pi},        {-1.0, -INF, -pi},       {1.0, INF, 0.0},          {-1.0, INF, -0.0},
        {INF, 1.0, pi / 2},     {-INF, 1.0, -pi / 2},    {INF, -INF, 0x1.2d97c7f3321d2p+1},
        {-INF, -INF, -0x1.2d97c7f3321d2p+1},             {INF, INF, pi / 4},       {-INF, INF, -pi / 4},
        {QNAN, 1.0, QNAN},      {1.0, QNAN, QNAN},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(same_value(pm::atan2(c.y, c.x), c.expected))
            << "atan2(" << std::hexfloat << c.y << ", " << c.x << ")";
    }
}

}  // namespace
}  // namespace vorlane::portable_math_test
