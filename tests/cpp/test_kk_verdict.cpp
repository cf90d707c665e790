#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "validation/kk_choice.hpp"
#include "validation/kk_verdict.hpp"
#include "core/least_squares.hpp"

namespace vorlane {
namespace {

struct Residuals {
    std::vector<double> frequencies, real, imag;
    std::vector<std::size_t> by_frequency;
    KkResiduals view() {
        by_frequency = frequency_order(frequencies);
        return {by_frequency, real, imag};
    }
};

// Gaussian residuals of standard deviation sigma at n log-spaced
// frequencies, plus a smooth bump of height `structure` (fixed seed).
Residuals residuals(std::size_t n, double sigma, double structure, unsigned seed = 1) {
    std::mt19937_64 engine(seed);
    std::normal_distribution<double> normal(0.0, sigma);
    Residuals r;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / static_cast<double>(n - 1);
        r.frequencies.push_back(std::pow(10.0, 5.0 - 7.0 * x));
        const double bump = structure * std::exp(-0.5 * std::pow((x - 0.8) / 0.1, 2));
        r.real.push_back(normal(engine) + bump);
        r.imag.push_back(normal(engine) - bump);
    }
    return r;
}

TEST(KkVerdict, WhiteNoiseIsValidAndMeasured) {
    // White noise fails about once in a thousand spectra.
    int valid = 0;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        Residuals r = residuals(70, 0.01, 0.0, seed);
        const KkVerdict v = judge(r.view(), std::vector<bool>(70, false), 0);
        valid += v.valid;
        EXPECT_NEAR(v.noise, 1.0, 0.25) << seed;
    }
    EXPECT_GE(valid, 19);
}

TEST(KkVerdict, SmoothStructureAboveTheNoiseIsNot) {
    Residuals r = residuals(70, 0.002, 0.02);
    const KkVerdict v = judge(r.view(), std::vector<bool>(70, false), 0);
    EXPECT_FALSE(v.valid);
    EXPECT_GT(v.systematic, v.threshold);
    EXPECT_NEAR(v.noise, 0.2, 0.1);  // the bump is structure, not noise
}

TEST(KkVerdict, StructureWithinTheSmallestThresholdIsNotJudged) {
    Residuals r = residuals(70, 1e-5, 5e-4);
    const KkVerdict v = judge(r.view(), std::vector<bool>(70, false), 0);
    EXPECT_GT(v.systematic, 0.0);
    EXPECT_EQ(v.threshold, 0.2);
    EXPECT_TRUE(v.valid);
}

TEST(KkVerdict, TooManyOutliersOrNoDegreesOfFreedomAreNotValid) {
    Residuals r = residuals(40, 0.001, 0.0);
    std::vector<bool> outliers(40, false);
    outliers[3] = outliers[9] = outliers[15] = outliers[33] = true;
    EXPECT_TRUE(judge(r.view(), outliers, 0).valid);
    outliers[20] = true;
    EXPECT_FALSE(judge(r.view(), outliers, 0).valid);
    const KkVerdict none = judge(r.view(), std::vector<bool>(40, false), 80);
    EXPECT_FALSE(none.valid);
    EXPECT_TRUE(std::isnan(none.noise));
}

TEST(KkVerdict, OutliersAreSpikesAgainstTheLocalNoise) {
    // Noisy at high frequency, quiet at low: a spike of 3 % stands out where
    // the noise is 0.1 % but not where it is 1 %.
    Residuals r = residuals(80, 0.001, 0.0);
    for (std::size_t i = 0; i < 40; ++i) {
        const double louder = std::pow(10.0, 1.0 - static_cast<double>(i) / 40.0);
        r.real[i] *= louder;
        r.imag[i] *= louder;
    }
    r.real[10] += 0.03;
    r.real[60] += 0.03;
    const std::vector<bool> outliers = find_outliers(r.view());
    for (std::size_t i = 0; i < 80; ++i) EXPECT_EQ(outliers[i], i == 60) << i;
}

TEST(KkVerdict, AtMostAQuarterOfThePointsAreOutliers) {
    Residuals r = residuals(40, 1e-4, 0.0);
    for (std::size_t i = 0; i < 40; i += 3) r.real[i] = 0.5;  // 14 spikes
    const std::vector<bool> outliers = find_outliers(r.view());
    EXPECT_EQ(std::count(outliers.begin(), outliers.end(), true), 10);
}

TEST(LeastSquaresResidual, EqualsTheResidualOfTheSolution) {
    ColumnMatrix a(6, 2);
    std::vector<double> b{1.0, 2.0, 2.5, 4.5, 5.0, 7.0};
    for (std::size_t i = 0; i < 6; ++i) {
        a.at(i, 0) = 1.0;
        a.at(i, 1) = static_cast<double>(i);
    }
    const std::vector<double> x = solve_least_squares(a, b);
    double expected = 0.0;
    for (std::size_t i = 0; i < 6; ++i) {
        const double r = a.at(i, 0) * x[0] + a.at(i, 1) * x[1] - b[i];
        expected += r * r;
    }
    EXPECT_NEAR(least_squares_residual(a, b), expected, 1e-12);
}

KkPoints points_of(const std::vector<double>& f, const std::vector<Complex>& z) {
    std::vector<std::size_t> rows(f.size());
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = i;
    return kk_points(f, z, rows, true);
}

TEST(KkChoice, InductiveTailBringsTheInductanceAndMIsNotTheLargest) {
    std::vector<double> f;
    std::vector<Complex> z;
    for (std::size_t i = 0; i < 71; ++i) {
        const double frequency = std::pow(10.0, 5.0 - 0.1 * static_cast<double>(i));
        const double omega = 6.283185307179586 * frequency;
        f.push_back(frequency);
        z.push_back(Complex{1.0, omega * 2e-6} + Complex{100.0, 0.0} / Complex{1.0, omega * 1e-2});
    }
    const LadderShape shape = choose_shape(points_of(f, z), {});
    EXPECT_TRUE(shape.inductance);
    EXPECT_GE(shape.m, 1u);
    EXPECT_LT(shape.m, 40u);
}

TEST(KkChoice, GivenChoicesAreKept) {
    std::vector<double> f{1e3, 1e2, 1e1, 1.0, 0.1, 0.01};
    std::vector<Complex> z;
    for (double frequency : f) z.push_back(Complex{10.0, 0.0} + Complex{0.0, -1.0 / (6.283185307179586 * frequency)});
    ShapeRequest request;
    request.m = 3;
    request.capacitance = false;
    request.inductance = true;
    const LadderShape shape = choose_shape(points_of(f, z), request);
    EXPECT_EQ(shape.m, 3u);
    EXPECT_FALSE(shape.capacitance);
    EXPECT_TRUE(shape.inductance);
}

}  // namespace
}  // namespace vorlane
