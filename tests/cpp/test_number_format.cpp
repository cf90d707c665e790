#include <gtest/gtest.h>

#include <limits>

#include "core/number_format.hpp"
#include "bit_compare.hpp"

namespace vorlane {
using test::NaN;
using test::Inf;
namespace {

struct FormatCase {
    double x;
    const char* table;
    const char* debug;
    const char* exp6;
};

class NumberFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(NumberFormat, AllThreeForms) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(format_table_number(c.x), c.table);
    EXPECT_EQ(format_debug_float(c.x), c.debug);
    EXPECT_EQ(format_exp6(c.x), c.exp6);
}


INSTANTIATE_TEST_SUITE_P(
    Values, NumberFormat,
    ::testing::Values(
        FormatCase{0.0, "0", "0.0", "0.000000e0"}, FormatCase{-0.0, "-0", "-0.0", "-0.000000e0"},
        FormatCase{1.0, "1", "1.0", "1.000000e0"}, FormatCase{5.0, "5", "5.0", "5.000000e0"},
        FormatCase{0.5, "0.5", "0.5", "5.000000e-1"}, FormatCase{0.001, "0.001", "0.001", "1.000000e-3"},
        FormatCase{1234567.0, "1.234567e6", "1234567.0", "1.234567e6"},
        FormatCase{0.00001, "1e-5", "1e-5", "1.000000e-5"}, FormatCase{1e-12, "1e-12", "1e-12", "1.000000e-12"},
        FormatCase{2.5e-7, "2.5e-7", "2.5e-7", "2.500000e-7"}, FormatCase{-2.5e6, "-2.5e6", "-2500000.0", "-2.500000e6"},
        FormatCase{1e-4, "0.0001", "0.0001", "1.000000e-4"},
        FormatCase{9.999999999999999e-5, "9.999999999999999e-5", "9.999999999999999e-5", "1.000000e-4"},
        FormatCase{999999.5, "999999.5", "999999.5", "9.999995e5"}, FormatCase{1e6, "1e6", "1000000.0", "1.000000e6"},
        FormatCase{1e12, "1e12", "1000000000000.0", "1.000000e12"},
        FormatCase{1e15, "1e15", "1000000000000000.0", "1.000000e15"}, FormatCase{1e16, "1e16", "1e16", "1.000000e16"},
        FormatCase{0.001234568, "0.001234568", "0.001234568", "1.234568e-3"},
        FormatCase{0.1 + 0.2, "0.30000000000000004", "0.30000000000000004", "3.000000e-1"},
        FormatCase{5e-324, "5e-324", "5e-324", "4.940656e-324"},
        FormatCase{1.7976931348623157e308, "1.7976931348623157e308", "1.7976931348623157e308", "1.797693e308"},
        FormatCase{Inf, "inf", "inf", "inf"}, FormatCase{-Inf, "-inf", "-inf", "-inf"},
        FormatCase{NaN, "NaN", "NaN", "NaN"}, FormatCase{-NaN, "NaN", "NaN", "NaN"}));

}  // namespace
}  // namespace vorlane
