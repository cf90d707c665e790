// Scale estimates, the feature matrix and interpolation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "eisnn_test_files.hpp"
#include "nn/guesser.hpp"
#include "unwrap.hpp"
#include "bit_compare.hpp"
#include "circuit/impedance.hpp"

namespace vorlane {
using test::same_bits;
using test::NaN;
using test::Inf;
using eisnn_test::rc_spectrum;
using eisnn_test::Spectrum;

namespace {


Guesser grid_guesser(std::uint32_t n_grid) {
    eisnn_test::NetworkSpec net;
    net.n_grid = n_grid;
    return test::unwrap(Guesser::from_bytes(eisnn_test::network_file(net).bytes()));
}

}  // namespace

TEST(Features, PointOrderDoesNotMatter) {
    const Guesser g = grid_guesser(64);
    const Spectrum ascending = rc_spectrum(40);
    Spectrum descending{{ascending.f.rbegin(), ascending.f.rend()}, {ascending.z.rbegin(), ascending.z.rend()}};
    Spectrum shuffled;
    for (std::size_t i = 0; i < 40; ++i) {
        const std::size_t k = (i * 17) % 40;
        shuffled.f.push_back(ascending.f[k]);
        shuffled.z.push_back(ascending.z[k]);
    }
    const auto [z_scale, w_scale] = reactive_centroid(ascending.f, ascending.z);
    const Features a = g.features(ascending.f, ascending.z, w_scale, z_scale);
    for (const Spectrum* other : {&descending, &shuffled}) {
        // The estimator sums in input order, so only its rounding may differ.
        const auto [z_other, w_other] = reactive_centroid(other->f, other->z);
        EXPECT_NEAR(z_other, z_scale, 1e-13 * z_scale);
        EXPECT_NEAR(w_other, w_scale, 1e-13 * w_scale);
        const Features b = g.features(other->f, other->z, w_scale, z_scale);
        EXPECT_TRUE(same_bits(a.matrix, b.matrix));
        EXPECT_EQ(a.meta, b.meta);
    }
    for (double v : a.matrix) EXPECT_TRUE(std::isfinite(v));
}

TEST(Features, GridStepAndMeta) {
    const Guesser g = grid_guesser(64);
    const Spectrum s = rc_spectrum(50);
    const Features x = g.features(s.f, s.z, TWO_PI, 1.0);
    // Row 2 is (x_g - log10(w_scale / 2pi)) / 4 = x_g / 4 here.
    EXPECT_NEAR(x.matrix[128], -2.0 * 0.25, 1e-15);
    EXPECT_NEAR(x.matrix[191], 5.0 * 0.25, 1e-15);
    EXPECT_NEAR(x.matrix[129] - x.matrix[128], 7.0 / 63.0 * 0.25, 1e-15);
    EXPECT_NEAR(x.meta.first, 0.875, 1e-15);
    EXPECT_EQ(x.meta.second, 0.5 * std::log10(50.0));
    // The grid ends on the measured ends: the first modulus is R0 + R1.
    EXPECT_NEAR(x.matrix[0], std::log10(std::hypot(s.z[0].re, s.z[0].im)), 1e-12);
    EXPECT_NEAR(x.matrix[63], std::log10(std::hypot(s.z[49].re, s.z[49].im)), 1e-12);
}

TEST(Features, SingleGridPointAndConstantExtension) {
    const Spectrum s = rc_spectrum(5);
    const Features one = grid_guesser(1).features(s.f, s.z, 1.0, 1.0);
    ASSERT_EQ(one.matrix.size(), 3u);
    EXPECT_EQ(one.matrix[0], std::log10(std::hypot(s.z[0].re, s.z[0].im)));
    EXPECT_EQ(interpolate(-5.0, std::vector<double>{0, 1, 2}, std::vector<double>{3, 4, 6}), 3.0);
    EXPECT_EQ(interpolate(9.0, std::vector<double>{0, 1, 2}, std::vector<double>{3, 4, 6}), 6.0);
    EXPECT_EQ(interpolate(1.5, std::vector<double>{0, 1, 2}, std::vector<double>{3, 4, 6}), 5.0);
    EXPECT_EQ(interpolate(Inf, std::vector<double>{0, 1, 2}, std::vector<double>{3, 4, 6}), 6.0);
}

TEST(Interpolate, HostileAbscissae) {
    EXPECT_TRUE(std::isnan(interpolate(1.0, std::vector<double>{}, std::vector<double>{})));
    EXPECT_TRUE(std::isnan(interpolate(NaN, std::vector<double>{1.0}, std::vector<double>{2.0})));
    EXPECT_TRUE(std::isnan(interpolate(NaN, std::vector<double>{0, 1, 2}, std::vector<double>{3, 4, 6})));
    // NaN abscissae sort to the ends; every x still gets a finite or NaN answer.
    const std::vector<double> xs = {-NaN, 0.0, 1.0, NaN};
    const std::vector<double> ys = {1.0, 2.0, 3.0, 4.0};
    for (double x : {-1.0, 0.5, 2.0, NaN}) (void)interpolate(x, xs, ys);
    EXPECT_EQ(interpolate(0.0, std::vector<double>{-0.0, 0.0}, std::vector<double>{7.0, 8.0}), 7.0);
}

// Equal frequencies keep their input order: the grid's first point takes
// the first-given of two points at the lowest frequency.
TEST(Features, EqualFrequenciesKeepInputOrder) {
    const Guesser g = grid_guesser(4);
    const std::vector<double> f = {10.0, 1.0, 1.0};
    const std::vector<Complex> first = {{1, -1}, {2, 0}, {4, 0}};
    const std::vector<Complex> swapped = {{1, -1}, {4, 0}, {2, 0}};
    EXPECT_EQ(g.features(f, first, 1.0, 1.0).matrix[0], std::log10(2.0));
    EXPECT_EQ(g.features(f, swapped, 1.0, 1.0).matrix[0], std::log10(4.0));
}

TEST(Features, PhaseUnwrapsAcrossTheBranchCut) {
    const Guesser g = grid_guesser(2);
    const std::vector<double> f = {1.0, 10.0};
    for (double sign : {1.0, -1.0}) {
        const std::vector<Complex> z = {{std::cos(3.0 * sign), std::sin(3.0 * sign)},
                                        {std::cos(-3.0 * sign), std::sin(-3.0 * sign)}};
        const Features x = g.features(f, z, 1.0, 1.0);
        EXPECT_NEAR(x.matrix[2] * 1.5707963267948966, 3.0 * sign, 1e-12);
        EXPECT_NEAR(x.matrix[3] * 1.5707963267948966, sign * (3.0 + (TWO_PI - 6.0)), 1e-12);
    }
}

TEST(Features, PhaseStepOfExactlyPi) {
    // From phase 0 to the phase of -1 (+pi): the step is taken as +pi.
    const Guesser g = grid_guesser(2);
    const Features x = g.features(std::vector<double>{1.0, 2.0}, std::vector<Complex>{{1, 0}, {-1, 0}}, 1.0, 1.0);
    EXPECT_EQ(x.matrix[3], 3.141592653589793 / 1.5707963267948966);
}

TEST(ReactiveCentroid, CapacitiveWeightedGeometricCentroid) {
    // A pure capacitor: every point weighs 1.
    std::vector<double> f = {1.0, 10.0, 100.0, 1000.0};
    std::vector<Complex> z;
    for (double fi : f) z.push_back({0.0, -1.0 / (TWO_PI * fi * 1e-3)});
    const auto [z_scale, w_scale] = reactive_centroid(f, z);
    EXPECT_NEAR(w_scale, TWO_PI * std::sqrt(1000.0) * std::sqrt(1.0), 1e-9 * w_scale);
    EXPECT_NEAR(z_scale, 1.0 / (w_scale * 1e-3), 1e-9 * z_scale);
}

TEST(ReactiveCentroid, SkippedAndWeightlessPoints) {
    // Non-positive frequencies, zero moduli and inductive points add nothing.
    std::vector<double> f = {1.0, 0.0, -5.0, 7.0, 3.0};
    std::vector<Complex> z = {{0, -2}, {0, -1e9}, {0, -1e9}, {0, 0}, {1, 5}};
    const auto [z_scale, w_scale] = reactive_centroid(f, z);
    EXPECT_DOUBLE_EQ(z_scale, 2.0);
    EXPECT_DOUBLE_EQ(w_scale, TWO_PI);
}

TEST(ReactiveCentroid, ResistiveFallbackUsesMedianAndAllFrequencies) {
    const std::vector<double> f = {1.0, 100.0, 10.0, 1000.0};
    const std::vector<Complex> z = {{4, 0}, {1, 0}, {3, 0}, {2, 0}};
    const auto [z_scale, w_scale] = reactive_centroid(f, z);
    EXPECT_EQ(z_scale, 3.0);
    EXPECT_NEAR(w_scale, TWO_PI * std::pow(10.0, 1.5), 1e-9 * w_scale);
    // NaN moduli sort last in the total order: the median stays a number.
    const auto [z_nan, w_nan] = reactive_centroid(std::vector<double>{1, 2, 3},
                                                  std::vector<Complex>{{NaN, 0}, {5, 0}, {1, 0}});
    EXPECT_EQ(z_nan, 5.0);
    EXPECT_TRUE(std::isfinite(w_nan));
    const auto [z_empty, w_empty] = reactive_centroid(std::vector<double>{}, std::vector<Complex>{});
    EXPECT_TRUE(std::isnan(z_empty));
    EXPECT_TRUE(std::isnan(w_empty));
}

}  // namespace vorlane
