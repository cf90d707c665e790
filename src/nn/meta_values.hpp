// Parsing of the numeric metadata values of a weight file.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace vorlane {

// An optional "+" and one or more ASCII digits, fitting in 64 bits.
std::optional<std::size_t> parse_size(std::string_view text);

// Optional sign, then digits with optional fraction and exponent, or one of
// inf, infinity, nan in any letter case; nothing around it.
std::optional<double> parse_float(std::string_view text);

// Comma-separated sizes, each piece trimmed of Unicode white space; an
// empty value or an empty piece fails.
std::optional<std::vector<std::size_t>> parse_size_list(std::string_view text);

}  // namespace vorlane
