// The circuit string grammar, its parser and its error messages, and the
// expansion of the abbreviating kinds K and Zarc.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "circuit/tree.hpp"

namespace vorlane {

struct ParseError {
    enum class Kind { UnexpectedChar, UnexpectedEnd, UnknownCode, TrailingInput, DuplicateLabel };
    Kind kind;
    std::size_t pos = 0;   // character index (UnexpectedChar, UnknownCode, TrailingInput)
    std::string text;      // the code (UnknownCode) or the label (DuplicateLabel)
};

// Parses UTF-8 `text` (already trimmed by the caller).
std::expected<SeriesList, ParseError> parse(std::string_view text);

// The full multi-line message: first line, echo and caret where a position
// applies, the syntax help and the element listing.
std::string parse_error_message(const ParseError& error, std::string_view text);

// K and Zarc leaves replaced by the parallel pairs they stand for, at any
// depth; `changed` is set when a replacement happened and never cleared.
SeriesList expand_series(const SeriesList& nodes, bool& changed);

}  // namespace vorlane
