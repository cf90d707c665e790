// Number texts for tables, element fields, result maps and chi-square.
#include "core/number_format.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace vorlane {
namespace {

std::string non_finite_text(double x) {
    if (std::isnan(x)) return "NaN";
    return x < 0 ? "-inf" : "inf";
}

std::string chars_text(double x, std::chars_format format) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, format);
    return std::string(buffer.data(), result.ptr);
}

std::string chars_text(double x, std::chars_format format, int precision) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, format, precision);
    return std::string(buffer.data(), result.ptr);
}

// The library writes exponents as "e+06" / "e-05"; users read "e6" / "e-5".
std::string bare_exponent(std::string text) {
    const auto e = text.find('e');
    if (e == std::string::npos) return text;
    std::string exponent = text.substr(e + 1);
    bool negative = false;
    std::size_t i = 0;
    if (i < exponent.size() && (exponent[i] == '+' || exponent[i] == '-')) {
        negative = exponent[i] == '-';
        ++i;
    }
    while (i + 1 < exponent.size() && exponent[i] == '0') ++i;
    text.resize(e + 1);
    if (negative) text += '-';
    text += exponent.substr(i);
    return text;
}

std::string shortest_scientific(double x) {
    return bare_exponent(chars_text(x, std::chars_format::scientific));
}

}  // namespace

std::string format_table_number(double x) {
    if (!std::isfinite(x)) return non_finite_text(x);
    const double magnitude = std::fabs(x);
    if (magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e6)) return chars_text(x, std::chars_format::fixed);
    return shortest_scientific(x);
}

std::string format_debug_float(double x) {
    if (!std::isfinite(x)) return non_finite_text(x);
    const double magnitude = std::fabs(x);
    if (magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16)) {
        std::string text = chars_text(x, std::chars_format::fixed);
        if (text.find('.') == std::string::npos) text += ".0";
        return text;
    }
    return shortest_scientific(x);
}

std::string format_exp6(double x) {
    if (!std::isfinite(x)) return non_finite_text(x);
    return bare_exponent(chars_text(x, std::chars_format::scientific, 6));
}

}  // namespace vorlane
