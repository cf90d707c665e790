// Strict parsers for the numbers written as text in weight-file metadata.
#include "nn/meta_values.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>

#include "core/ascii_case.hpp"
#include "core/utf8.hpp"

namespace vorlane {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t count_digits(std::string_view text, std::size_t from) {
    std::size_t i = from;
    while (i < text.size() && is_digit(text[i])) ++i;
    return i - from;
}

// digits [. digits] [(e|E) [sign] digits], with at least one mantissa digit.
bool is_decimal_number(std::string_view text) {
    std::size_t i = 0;
    const std::size_t whole = count_digits(text, i);
    i += whole;
    std::size_t fraction = 0;
    if (i < text.size() && text[i] == '.') {
        fraction = count_digits(text, i + 1);
        i += 1 + fraction;
    }
    if (whole + fraction == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t exponent = count_digits(text, i);
        if (exponent == 0) return false;
        i += exponent;
    }
    return i == text.size();
}

// A syntactically valid number that from_chars reports out of range is
// either too large (infinity) or too small (zero): decided by the decimal
// position of its first significant digit.
bool overflows(std::string_view number) {
    const std::size_t mantissa_end = std::min(number.find_first_of("eE"), number.size());
    const std::string_view mantissa = number.substr(0, mantissa_end);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return false;
    long long magnitude = first < point ? static_cast<long long>(point - first)
                                        : -static_cast<long long>(first - point - 1);
    if (mantissa_end < number.size()) {
        std::string_view exponent = number.substr(mantissa_end + 1);
        const bool negative = exponent.front() == '-';
        if (exponent.front() == '+' || exponent.front() == '-') exponent.remove_prefix(1);
        long long value = 0;
        for (char c : exponent) value = std::min(value * 10 + (c - '0'), 1'000'000'000LL);
        magnitude += negative ? -value : value;
    }
    return magnitude > 0;
}

bool is_unicode_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::string trim_white_space(std::string_view text) {
    const std::vector<char32_t> chars = decode_utf8(text);
    auto first = chars.begin();
    auto last = chars.end();
    while (first != last && is_unicode_white_space(*first)) ++first;
    while (last != first && is_unicode_white_space(*(last - 1))) --last;
    std::string out;
    for (auto it = first; it != last; ++it) append_utf8(out, *it);
    return out;
}

}  // namespace

std::optional<std::size_t> parse_size(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || count_digits(text, 0) != text.size()) return std::nullopt;
    std::size_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parse_float(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    double value = 0.0;
    if (equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity")) {
        value = std::numeric_limits<double>::infinity();
    } else if (equals_ignoring_ascii_case(text, "nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
    } else if (is_decimal_number(text)) {
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (result.ec == std::errc::result_out_of_range) {
            value = overflows(text) ? std::numeric_limits<double>::infinity() : 0.0;
        } else if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<std::vector<std::size_t>> parse_size_list(std::string_view text) {
    std::vector<std::size_t> values;
    while (true) {
        const std::size_t comma = text.find(',');
        const auto value = parse_size(trim_white_space(text.substr(0, comma)));
        if (!value) return std::nullopt;
        values.push_back(*value);
        if (comma == std::string_view::npos) return values;
        text.remove_prefix(comma + 1);
    }
}

}  // namespace vorlane
