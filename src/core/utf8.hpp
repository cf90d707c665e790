// Decoding UTF-8 text into Unicode scalar values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

// Scalar values of `text`; each malformed byte decodes to U+FFFD.
std::vector<char32_t> decode_utf8(std::string_view text);

void append_utf8(std::string& out, char32_t c);

}  // namespace vorlane
