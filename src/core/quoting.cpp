// Double-quoted, escaped rendering of user texts inside messages.
#include "core/quoting.hpp"

#include <charconv>

#include "core/utf8.hpp"

namespace vorlane {
namespace {

// Characters that would be invisible or would rearrange the message when
// printed: C0/C1 controls, line and paragraph separators, zero-width and
// bidirectional formatting marks, the byte order mark and the interlinear
// annotation characters.
bool is_non_printable(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFFF9 && c <= 0xFFFB);
}

void append_escaped(std::string& out, char32_t c) {
    switch (c) {
        case U'"': out += "\\\""; return;
        case U'\\': out += "\\\\"; return;
        case U'\t': out += "\\t"; return;
        case U'\r': out += "\\r"; return;
        case U'\n': out += "\\n"; return;
        case U'\0': out += "\\0"; return;
        default: break;
    }
    if (!is_non_printable(c)) {
        append_utf8(out, c);
        return;
    }
    char hex[8];
    const auto result = std::to_chars(hex, hex + sizeof hex, static_cast<unsigned>(c), 16);
    out += "\\u{";
    out.append(hex, result.ptr);
    out += '}';
}

}  // namespace

std::string quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char32_t c : decode_utf8(text)) append_escaped(out, c);
    out += '"';
    return out;
}

std::string quoted_list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ", ";
        out += quote(items[i]);
    }
    out += ']';
    return out;
}

}  // namespace vorlane
