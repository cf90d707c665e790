// The element catalogue: codes, names, parameters, units, placeholders, bounds.
#include "elements/element.hpp"

#include <limits>

namespace vorlane {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

constexpr std::array<KindInfo, KIND_COUNT> CATALOGUE{{
    {"R", "R", 1, {"r"}, {"ohm"}, {1.0}},
    {"C", "C", 1, {"c"}, {"F"}, {0.001}},
    {"L", "L", 1, {"l"}, {"H"}, {1e-6}},
    {"La", "La", 2, {"l", "alpha"}, {"H*s", "-"}, {1e-6, 0.8}},
    {"Cpe", "CPE", 2, {"q", "alpha"}, {"ohm^-1*s^alpha", "-"}, {0.001, 0.8}},
    {"W", "W", 1, {"aw"}, {"ohm*s^-0.5"}, {1.0}},
    {"Wo", "Wo", 2, {"z0", "tau"}, {"ohm", "s"}, {1.0, 10.0}},
    {"Ws", "Ws", 2, {"z0", "tau"}, {"ohm", "s"}, {1.0, 10.0}},
    {"G", "G", 2, {"rg", "tg"}, {"ohm", "s"}, {1.0, 1.0}},
    {"Gs", "Gs", 3, {"rg", "tg", "phi"}, {"ohm", "s", "-"}, {1.0, 1.0, 1.0}},
    {"K", "K", 2, {"r", "tau_k"}, {"ohm", "s"}, {1.0, 0.001}},
    {"Zarc", "Zarc", 3, {"r", "tau_k", "gamma"}, {"ohm", "s", "-"}, {1.0, 0.001, 0.8}},
    {"Tlmq", "TLMQ", 3, {"r_ion", "qs", "gamma"}, {"ohm", "F*s^(gamma-1)", "-"}, {1.0, 0.001, 0.8}},
    {"T", "T", 4, {"a", "b", "k_tau", "tau"}, {"ohm*m^2", "ohm*m^2", "-", "s"}, {1.0, 1.0, 1.0, 1.0}},
}};

}  // namespace

const std::array<std::string_view, KIND_COUNT> CODES{"R", "C",  "L", "La", "CPE",  "W",    "Wo",
                                                     "Ws", "G", "Gs", "K", "Zarc", "TLMQ", "T"};

const std::array<KindInfo, KIND_COUNT>& catalogue() { return CATALOGUE; }

const KindInfo& kind_info(Kind kind) { return CATALOGUE[static_cast<std::size_t>(kind)]; }

std::pair<double, double> bounds_for_param(std::string_view param_name) {
    if (param_name == "alpha" || param_name == "gamma") return {0.0, 1.0};
    return {1e-12, INF};
}

std::optional<Element> Element::default_for_code(std::string_view code) {
    std::optional<Kind> kind;
    if (code == "CPE") {
        kind = Kind::Cpe;
    } else if (code == "TLMQ") {
        kind = Kind::Tlmq;
    } else {
        for (std::size_t i = 0; i < KIND_COUNT; ++i)
            if (CATALOGUE[i].canonical == code) kind = static_cast<Kind>(i);
    }
    if (!kind) return std::nullopt;
    return from_values(*kind, kind_info(*kind).placeholders.data());
}

Element Element::from_values(Kind kind, const double* values) {
    Element e;
    e.kind = kind;
    for (std::size_t i = 0; i < kind_info(kind).count; ++i) e.v[i] = values[i];
    return e;
}

std::vector<double> Element::values() const { return {v.begin(), v.begin() + count()}; }

}  // namespace vorlane
