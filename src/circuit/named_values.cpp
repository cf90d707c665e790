// Parameters assigned by name, with edit-distance suggestions on mismatch.
#include "circuit/named_values.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "circuit/layout.hpp"
#include "core/number_format.hpp"
#include "core/quoting.hpp"
#include "core/utf8.hpp"

namespace vorlane {
namespace {

std::size_t levenshtein(const std::vector<char32_t>& a, const std::vector<char32_t>& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const std::size_t substitution = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, substitution});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string valid_parameter_table(const SeriesList& nodes, const std::vector<std::string>& names) {
    const auto units = param_units(nodes);
    const auto bounds = param_bounds(nodes);
    std::size_t width = 0;
    for (const auto& name : names) width = std::max(width, decode_utf8(name).size());
    std::string table = "valid parameters for this circuit:";
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t padding = width - decode_utf8(names[i]).size();
        table += "\n  " + names[i] + std::string(padding, ' ') + "  [" + units[i] + "]  bounds (" +
                 format_table_number(bounds[i].first) + ", " + format_table_number(bounds[i].second) + ")";
    }
    return table;
}

// One line per unknown key, with a suggestion where one is close enough.
std::string unknown_keys_message(const std::vector<std::string_view>& unknown, const std::vector<std::string>& names) {
    std::string message;
    for (std::string_view key : unknown) {
        message += "unknown parameter " + quote(key);
        if (auto suggestion = suggestion_for(std::string(key), names))
            message += " (did you mean " + quote(*suggestion) + "?)";
        message += '\n';
    }
    return message;
}

}  // namespace

std::optional<Suggestion> closest_param_name(const std::string& key, const std::vector<std::string>& names) {
    const auto key_chars = decode_utf8(key);
    std::optional<Suggestion> best;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t distance = levenshtein(key_chars, decode_utf8(names[i]));
        if (!best || distance < best->distance) best = Suggestion{i, distance};
    }
    return best;
}

std::optional<std::string> suggestion_for(const std::string& key, const std::vector<std::string>& names) {
    const std::size_t threshold = std::max<std::size_t>(decode_utf8(key).size() / 2, 2);
    const auto best = closest_param_name(key, names);
    if (!best || best->distance > threshold) return std::nullopt;
    return names[best->index];
}

std::expected<std::vector<double>, std::string> assign_named_values(
    const SeriesList& nodes, const std::vector<std::pair<std::string, double>>& entries) {
    const auto names = param_names(nodes);
    const std::unordered_set<std::string_view> known(names.begin(), names.end());
    std::unordered_map<std::string_view, double> given;
    std::vector<std::string_view> unknown;
    for (const auto& [key, value] : entries) {
        given[key] = value;
        if (!known.contains(key)) unknown.push_back(key);
    }
    std::vector<std::string> missing;
    for (const auto& name : names)
        if (!given.contains(name)) missing.push_back(name);

    if (unknown.empty() && missing.empty()) {
        std::vector<double> values;
        values.reserve(names.size());
        for (const auto& name : names) values.push_back(given.at(name));
        return values;
    }

    std::string message = unknown_keys_message(unknown, names);
    if (!missing.empty()) message += "missing parameter(s): " + quoted_list(missing) + "\n";
    message += '\n';
    message += valid_parameter_table(nodes, names);
    return std::unexpected(std::move(message));
}

std::expected<std::vector<std::vector<std::size_t>>, std::string> find_named_params(
    const SeriesList& nodes, const std::vector<std::string>& keys) {
    const auto names = param_names(nodes);
    std::vector<std::vector<std::size_t>> found(keys.size());
    std::vector<std::string_view> unknown;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == keys[k]) found[k].push_back(i);
        }
        if (found[k].empty()) unknown.push_back(keys[k]);
    }
    if (unknown.empty()) return found;
    return std::unexpected(unknown_keys_message(unknown, names) + "\n" + valid_parameter_table(nodes, names));
}

}  // namespace vorlane
