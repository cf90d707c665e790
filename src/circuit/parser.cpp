// Recursive-descent parser of circuit strings, its messages, and the
// expansion of K and Zarc into the parallel pairs they abbreviate.
#include "circuit/parser.hpp"

#include <cmath>
#include <unordered_set>
#include <vector>

#include "circuit/layout.hpp"
#include "core/math.hpp"
#include "core/quoting.hpp"
#include "core/utf8.hpp"

namespace vorlane {
namespace {

using Chars = std::vector<char32_t>;

bool is_ascii_letter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }
bool is_ascii_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

std::string ascii_text(const Chars& chars, std::size_t begin, std::size_t end) {
    std::string text;
    for (std::size_t i = begin; i < end; ++i) text += static_cast<char>(chars[i]);
    return text;
}

struct Parser {
    const Chars& chars;
    std::size_t pos = 0;

    bool at(char32_t c) const { return pos < chars.size() && chars[pos] == c; }

    std::expected<SeriesList, ParseError> parse_series(std::size_t depth);
    std::expected<Node, ParseError> parse_item(std::size_t depth);
    std::expected<Node, ParseError> parse_parallel_body(std::size_t depth);
    std::expected<Node, ParseError> parse_element();
};

std::expected<SeriesList, ParseError> Parser::parse_series(std::size_t depth) {
    SeriesList items;
    for (;;) {
        auto item = parse_item(depth);
        if (!item) return std::unexpected(item.error());
        items.push_back(std::move(*item));
        if (!at(U'-')) return items;
        ++pos;
    }
}

std::expected<Node, ParseError> Parser::parse_item(std::size_t depth) {
    const bool plain = at(U'(');
    if (!plain && !(at(U'p') && pos + 1 < chars.size() && chars[pos + 1] == U'(')) return parse_element();
    const std::size_t opening = plain ? pos : pos + 1;
    // A parenthesis opening one level more than a tree may have is reported
    // as an unexpected character at its own position.
    if (depth == MAX_PARALLEL_DEPTH) return std::unexpected(ParseError{ParseError::Kind::UnexpectedChar, opening, {}});
    pos = opening + 1;
    return parse_parallel_body(depth + 1);
}

std::expected<Node, ParseError> Parser::parse_parallel_body(std::size_t depth) {
    ParallelNode node;
    for (;;) {
        auto branch = parse_series(depth);
        if (!branch) return std::unexpected(branch.error());
        node.branches.push_back(std::move(*branch));
        // Any character other than ',' or ')' reads as a body left unclosed.
        if (at(U',')) {
            ++pos;
        } else if (at(U')')) {
            ++pos;
            return Node{std::move(node)};
        } else {
            return std::unexpected(ParseError{ParseError::Kind::UnexpectedEnd, 0, {}});
        }
    }
}

std::expected<Node, ParseError> Parser::parse_element() {
    if (pos == chars.size()) return std::unexpected(ParseError{ParseError::Kind::UnexpectedEnd, 0, {}});
    const std::size_t start = pos;
    if (!is_ascii_letter(chars[pos])) return std::unexpected(ParseError{ParseError::Kind::UnexpectedChar, pos, {}});
    while (pos < chars.size() && is_ascii_letter(chars[pos])) ++pos;
    const std::size_t letters_end = pos;
    while (pos < chars.size() && is_ascii_digit(chars[pos])) ++pos;
    if (pos == letters_end) return std::unexpected(ParseError{ParseError::Kind::UnexpectedChar, pos, {}});
    std::string code = ascii_text(chars, start, letters_end);
    auto element = Element::default_for_code(code);
    if (!element) return std::unexpected(ParseError{ParseError::Kind::UnknownCode, start, std::move(code)});
    return Node{Leaf{*element, code + ascii_text(chars, letters_end, pos)}};
}

std::optional<std::string> first_duplicate_label(const SeriesList& nodes) {
    std::unordered_set<std::string_view> seen;
    for (const Leaf* leaf : collect_leaves(nodes))
        if (leaf->label && !seen.insert(*leaf->label).second) return *leaf->label;
    return std::nullopt;
}

std::string first_line(const ParseError& error) {
    using K = ParseError::Kind;
    switch (error.kind) {
        case K::UnexpectedChar: return "unexpected character at position " + std::to_string(error.pos);
        case K::UnexpectedEnd: return "unexpected end of input";
        case K::UnknownCode:
            return "unknown element code " + quote(error.text) + " at position " + std::to_string(error.pos);
        case K::TrailingInput: return "unexpected trailing input at position " + std::to_string(error.pos);
        case K::DuplicateLabel: return "duplicate element label " + quote(error.text);
    }
    return {};
}

bool has_position(ParseError::Kind kind) {
    using K = ParseError::Kind;
    return kind == K::UnexpectedChar || kind == K::UnknownCode || kind == K::TrailingInput;
}

constexpr std::string_view SYNTAX_HELP =
    "syntax:\n"
    "  - every element needs a numeric label, e.g. \"R0\" and \"C1\", not \"R\" and \"C\"\n"
    "  - connect elements in series with '-', e.g. \"R0-C1\"\n"
    "  - connect elements in parallel with '(...)' or 'p(...)', e.g. \"R0-(R1,C1)\" or \"R0-p(R1,C1)\"\n"
    "\n"
    "available elements (code, parameters, [units]):";

// The help codes are the catalogue's, in the same order.
std::string element_listing() {
    std::string out;
    for (const KindInfo& info : catalogue()) {
        std::string code(info.help_code);
        code.resize(std::max<std::size_t>(code.size(), 4), ' ');
        out += "\n  " + code + "  ";
        for (std::size_t i = 0; i < info.count; ++i) {
            if (i > 0) out += ", ";
            out += std::string(info.names[i]) + " [" + std::string(info.units[i]) + "]";
        }
    }
    return out;
}

// The two unlabeled branches R(r) and `other` that K and Zarc abbreviate.
ParallelNode parallel_pair(double r, Element other) {
    const double r_values[1] = {r};
    ParallelNode node;
    node.branches.resize(2, SeriesList(1));
    node.branches[0][0].v = Leaf{Element::from_values(Kind::R, r_values), std::nullopt};
    node.branches[1][0].v = Leaf{other, std::nullopt};
    return node;
}

}  // namespace

std::expected<SeriesList, ParseError> parse(std::string_view text) {
    const Chars chars = decode_utf8(text);
    Parser parser{chars};
    auto nodes = parser.parse_series(0);
    if (!nodes) return nodes;
    if (parser.pos != chars.size())
        return std::unexpected(ParseError{ParseError::Kind::TrailingInput, parser.pos, {}});
    if (auto label = first_duplicate_label(*nodes))
        return std::unexpected(ParseError{ParseError::Kind::DuplicateLabel, 0, std::move(*label)});
    return nodes;
}

std::string parse_error_message(const ParseError& error, std::string_view text) {
    std::string message = first_line(error);
    if (has_position(error.kind)) {
        message += "\n\n  ";
        message += text;
        message += "\n  " + std::string(error.pos, ' ') + "^";
    }
    message += "\n\n";
    message += SYNTAX_HELP;
    message += element_listing();
    return message;
}

SeriesList expand_series(const SeriesList& nodes, bool& changed) {
    SeriesList out(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (const ParallelNode* parallel = nodes[i].parallel()) {
            auto& copies = out[i].v.emplace<ParallelNode>().branches;
            copies.resize(parallel->branches.size());
            for (std::size_t b = 0; b < copies.size(); ++b) copies[b] = expand_series(parallel->branches[b], changed);
            continue;
        }
        const Element& e = nodes[i].leaf()->element;
        if (e.kind == Kind::K) {
            const double c[1] = {e.v[1] / e.v[0]};
            out[i].v = parallel_pair(e.v[0], Element::from_values(Kind::C, c));
            changed = true;
        } else if (e.kind == Kind::Zarc) {
            const double cpe[2] = {math::pow(e.v[1], e.v[2]) / e.v[0], e.v[2]};
            out[i].v = parallel_pair(e.v[0], Element::from_values(Kind::Cpe, cpe));
            changed = true;
        } else {
            out[i].v = *nodes[i].leaf();
        }
    }
    return out;
}

}  // namespace vorlane
