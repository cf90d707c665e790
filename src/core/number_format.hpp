// Shortest round-trip number texts in the forms the user-facing reprs use.
#pragma once

#include <string>

namespace vorlane {

// Circuit tables and bounds: plain shortest decimal (no ".0" for integral
// values) when |x| is 0, infinite or in [1e-4, 1e6), else shortest scientific
// ("1e-12", "2.5e6"); NaN is "NaN", infinities "inf" and "-inf".
std::string format_table_number(double x);

// Element fields and result maps: plain shortest decimal with at least one
// fractional digit ("1.0", "-0.0") when |x| is 0 or in [1e-4, 1e16), else
// shortest scientific ("1e-6", "1e16"); "NaN", "inf", "-inf".
std::string format_debug_float(double x);

// Six digits after the point and a bare exponent: "1.234568e-3",
// "5.000000e0", "1.000000e12"; "NaN", "inf", "-inf".
std::string format_exp6(double x);

}  // namespace vorlane
