// Comparison of texts with ASCII letters folded to lower case.
#pragma once

#include <algorithm>
#include <string_view>

namespace vorlane {

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal up to the case of ASCII letters; every other byte compares exactly.
constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

}  // namespace vorlane
