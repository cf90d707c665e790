// The vectorised convolution and GELU against their definitions.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "eisnn_test_files.hpp"
#include "nn/activation.hpp"
#include "nn/convolution.hpp"
#include "bit_compare.hpp"

namespace vorlane {
namespace {
using test::NaN;
using test::Inf;

// The convolution as written down: bias, then rows, then taps, skipping
// zero weights and positions outside the input.
std::vector<double> convolve_by_definition(const ConvShape& c, const std::vector<double>& w,
                                           const std::vector<double>& b, const std::vector<double>& x) {
    std::vector<double> y(c.out_rows * c.length);
    const long padding = static_cast<long>(c.dilation * (c.taps - 1) / 2);
    for (std::size_t o = 0; o < c.out_rows; ++o) {
        for (std::size_t l = 0; l < c.length; ++l) {
            double sum = b[o];
            for (std::size_t j = 0; j < c.in_rows; ++j) {
                for (std::size_t k = 0; k < c.taps; ++k) {
                    const double weight = w[(o * c.in_rows + j) * c.taps + k];
                    const long source = static_cast<long>(l) - padding + static_cast<long>(c.dilation * k);
                    if (weight == 0.0 || source < 0 || source >= static_cast<long>(c.length)) continue;
                    sum += weight * x[j * c.length + static_cast<std::size_t>(source)];
                }
            }
            y[o * c.length + l] = sum;
        }
    }
    return y;
}

struct ConvCase {
    ConvShape shape;
    bool hostile;  // infinity and NaN in the input and weights
};

class ConvolveTiles : public ::testing::TestWithParam<ConvCase> {};

// Shapes off the tile sizes, even and odd kernels, dilation 0, taps that
// reach past the whole row; every value as the definition's, bit for bit.
TEST_P(ConvolveTiles, MatchesTheDefinitionExactly) {
    const ConvShape c = GetParam().shape;
    auto w = eisnn_test::pseudo_random(c.out_rows * c.in_rows * c.taps, 3, 1.0);
    for (std::size_t i = 0; i < w.size(); i += 7) w[i] = 0.0;
    const auto b = eisnn_test::pseudo_random(c.out_rows, 4, 0.5);
    auto x = eisnn_test::pseudo_random(c.in_rows * c.length, 5, 2.0);
    if (GetParam().hostile) {
        x[1] = Inf;
        x[x.size() / 2] = NaN;
        w[0] = Inf;  // tap 0 of row 0 reads outside for the first positions
        for (std::size_t o = 0; o < c.out_rows; o += 2) {
            for (std::size_t k = 0; k < c.taps; ++k) w[(o * c.in_rows) * c.taps + k] = 0.0;
        }
    }
    std::vector<double> y(c.out_rows * c.length, -1.0);
    convolve(c, w, b, x, y);
    const auto expected = convolve_by_definition(c, w, b, x);
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (std::isnan(expected[i])) {
            EXPECT_TRUE(std::isnan(y[i])) << i;
        } else {
            ASSERT_EQ(y[i], expected[i]) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ConvolveTiles,
                         ::testing::Values(ConvCase{{64, 64, 64, 5, 8}, false}, ConvCase{{16, 3, 64, 5, 1}, false},
                                           ConvCase{{7, 5, 13, 5, 2}, false}, ConvCase{{6, 2, 19, 4, 3}, false},
                                           ConvCase{{5, 3, 9, 3, 0}, false}, ConvCase{{3, 2, 5, 5, 4}, false},
                                           ConvCase{{9, 4, 24, 5, 1}, true}, ConvCase{{4, 3, 16, 5, 4}, true},
                                           ConvCase{{5, 2, 11, 3, 2}, true}));

double gelu_tanh_form(double x) {
    return 0.5 * x * (1.0 + std::tanh(0.7978845608028654 * (x + 0.044715 * (x * x * x))));
}

// u as the module rounds it (its rounding moves e^-2u by up to |u| ulp, for
// both forms alike), the rest in long double.
long double gelu_long(double x) {
    const double u = 0.7978845608028654 * (x + 0.044715 * (x * x * x));
    return x / (1.0L + std::exp(-2.0L * u));
}

// Within a few units in the last place of the exact value, and within the
// tanh form's own rounding (a few ulp of x) of it, for a length that also
// exercises the last partial block.
TEST(Gelu, AgreesWithTheTanhFormToRounding) {
    std::vector<double> x;
    for (double v = -40.0; v <= 40.0; v += 0.0791) x.push_back(v);
    for (double v = 1e-300; v < 1e3; v *= 3.7) x.insert(x.end(), {v, -v});
    std::vector<double> y = x;
    gelu(y);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const long double exact = gelu_long(x[i]);
        // Where e^-2u overflows (results below |x| e^-709.78) the value is a
        // zero, as the tanh form's is.
        const double bound = 4 * DBL_EPSILON * std::fabs(static_cast<double>(exact)) + std::fabs(x[i]) * 1e-307;
        EXPECT_LE(std::fabs(static_cast<double>(y[i] - exact)), bound) << x[i];
        EXPECT_LE(std::fabs(y[i] - gelu_tanh_form(x[i])), 4 * DBL_EPSILON * std::fabs(x[i])) << x[i];
    }
}

TEST(Gelu, SpecialValuesAsTheTanhForm) {
    std::vector<double> x = {Inf, -Inf, NaN, 0.0, -0.0, 1e200, -1e200, 800.0, -800.0};
    std::vector<double> y = x;
    gelu(y);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double expected = gelu_tanh_form(x[i]);
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(y[i])) << x[i];
        } else {
            EXPECT_EQ(y[i], expected) << x[i];
            EXPECT_EQ(std::signbit(y[i]), std::signbit(expected)) << x[i];
        }
    }
}

}  // namespace
}  // namespace vorlane
