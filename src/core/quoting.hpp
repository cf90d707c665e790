// Double-quoted rendering of names and values inside messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

// `text` (UTF-8) in double quotes; a double quote and a backslash get a
// backslash, tab/CR/LF/NUL become \t \r \n \0, other non-printable
// characters \u{hex}; everything else is kept as it is.
std::string quote(std::string_view text);

// ["a", "b"]: each item quoted, joined with ", ", in square brackets.
std::string quoted_list(const std::vector<std::string>& items);

}  // namespace vorlane
