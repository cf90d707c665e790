// Parallel branches of one R, C or CPE add their admittance directly; the
// circuit still agrees with the reciprocal-of-reciprocals arithmetic.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "circuit/batch_impedance.hpp"
#include "circuit/impedance.hpp"
#include "circuit/parser.hpp"
#include "bit_compare.hpp"

namespace vorlane {
namespace {

using test::Inf;
using test::same_value;

// R0-(R1,C1)-(R2,CPE2) with every branch inverted and every node inverted
// back through parallel_reciprocal, point by point.
Complex by_reciprocals(const std::vector<double>& p, double omega) {
    const auto z = [omega](Kind kind, const double* values) { return element_impedance(kind, values, omega); };
    const Complex first = parallel_reciprocal(parallel_reciprocal(z(Kind::R, &p[1])) +
                                              parallel_reciprocal(z(Kind::C, &p[2])));
    const Complex second = parallel_reciprocal(parallel_reciprocal(z(Kind::R, &p[3])) +
                                               parallel_reciprocal(z(Kind::Cpe, &p[4])));
    return (Complex{0.0, 0.0} + z(Kind::R, &p[0])) + first + second;
}

double relative_gap(Complex a, Complex b) { return std::hypot(a.re - b.re, a.im - b.im) / std::hypot(b.re, b.im); }

class DirectAdmittance : public ::testing::TestWithParam<std::vector<double>> {};

// Ordinary and extreme values (admittances beyond 1e150 or below 1e-150 take
// the reciprocal of the impedance): within 1e-13 everywhere, the same NaN,
// zero and infinite results, and the block walk equal to the point walk.
TEST_P(DirectAdmittance, AgreesWithTheReciprocalArithmetic) {
    const std::vector<double> p = GetParam();
    const SeriesList nodes = parse("R0-(R1,C1)-(R2,CPE2)").value();
    std::vector<double> omega;
    for (double w = 1e-3; w < 1e9; w *= 3.1) omega.push_back(w);
    omega.push_back(0.0);
    std::vector<Complex> block(omega.size());
    block_impedance(nodes, p, omega.data(), omega.size(), block.data());
    for (std::size_t i = 0; i < omega.size(); ++i) {
        const Complex expected = by_reciprocals(p, omega[i]);
        const Complex point = impedance_with_params(nodes, p, omega[i]);
        EXPECT_TRUE(same_value(point.re, block[i].re)) << omega[i];
        EXPECT_TRUE(same_value(point.im, block[i].im)) << omega[i];
        if (std::isnan(expected.re) || std::isnan(expected.im)) {
            EXPECT_TRUE(std::isnan(point.re) || std::isnan(point.im)) << omega[i];
        } else if (std::isinf(expected.re) || std::isinf(expected.im) || (expected.re == 0.0 && expected.im == 0.0)) {
            EXPECT_EQ(point.re, expected.re) << omega[i];
            EXPECT_EQ(point.im, expected.im) << omega[i];
        } else {
            EXPECT_LE(relative_gap(point, expected), 1e-13) << omega[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DirectAdmittance,
    ::testing::Values(std::vector<double>{10, 100, 1e-5, 30, 1e-4, 0.85},
                      std::vector<double>{1e-3, 2e5, 3e-9, 7e3, 2e-7, 1.0},
                      std::vector<double>{0, 5, 1e-2, 1, 1e-3, 0.5},
                      std::vector<double>{1, 1e-160, 1e170, 1e160, 1e-170, 0.7},
                      std::vector<double>{1, 0.0, 1e-5, Inf, 1e-4, 0.0},
                      std::vector<double>{1, -4, -1e-5, 2, Inf, 0.3},
                      std::vector<double>{1, std::nan(""), 1e-5, 2, 1e-4, std::nan("")}));

}  // namespace
}  // namespace vorlane
