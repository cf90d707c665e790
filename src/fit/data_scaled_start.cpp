// The data-scaled start: a resistance budget and a characteristic frequency
// handed down the circuit tree, each element's values computed from them.
#include "fit/data_scaled_start.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "core/interruptible_sort.hpp"
#include "core/math.hpp"

namespace vorlane {
namespace {

// The smallest value handed out: well above the default lower bound 1e-12,
// so the solver's logarithmic coordinate can move it both ways.
constexpr double FLOOR = 1e-10;
// A share of the modulus taken where the data shows nothing (no span, no
// inductive end): a small, not a vanishing, value.
constexpr double SMALL_SHARE = 1e-2;
constexpr double EXPONENT = 0.85;        // CPE alpha, Zarc and TLMQ gamma
constexpr double LA_EXPONENT = 0.9;
constexpr double WARBURG_SHARE = 0.3;    // |Z_W| against the arc's resistance
constexpr double DIFFUSION_TIME = 3.0;   // Wo/Ws tau in units of 1 / omega_c
constexpr double PEAK_SEPARATION = 0.7;  // decades between arc frequencies
constexpr double BEYOND_DECADES = 1.0;   // arcs placed outside the window

double positive(double x) { return std::isfinite(x) && x > FLOOR ? x : FLOOR; }

struct Point {
    double omega;
    Complex z;
};

std::vector<Point> sorted_usable(std::span<const double> frequencies_hz, std::span<const Complex> impedances) {
    std::vector<Point> points;
    const std::size_t n = std::min(frequencies_hz.size(), impedances.size());
    points.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (poll_stop_at_point(i)) return points;
        const double f = frequencies_hz[i];
        const Complex z = impedances[i];
        if (!(f > 0.0) || !std::isfinite(f) || !std::isfinite(z.re) || !std::isfinite(z.im)) continue;
        points.push_back({f * TWO_PI, z});
    }
    stable_sort_polling(points, [](const Point& a, const Point& b) { return a.omega < b.omega; });
    return points;
}

// Local maxima of -Im Z (positive ones), the highest first, then reordered
// from high to low frequency.
std::vector<double> imaginary_peaks(const std::vector<Point>& points) {
    std::vector<std::pair<double, double>> found;  // (height, omega)
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double h = -points[i].z.im;
        if (!(h > 0.0)) continue;
        const bool left = i == 0 || h >= -points[i - 1].z.im;
        const bool right = i + 1 == points.size() || h > -points[i + 1].z.im;
        if (left && right) found.emplace_back(h, points[i].omega);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<double> peaks;
    for (const auto& [height, omega] : found) peaks.push_back(omega);
    return peaks;
}

// `count` angular frequencies from high to low: chosen peaks first (each
// PEAK_SEPARATION decades from the others), then even positions in the
// window far from them (or, for Beyond, positions outside it).
std::vector<double> arc_frequencies(const SpectrumScales& s, std::size_t count, ArcPlacement placement) {
    std::vector<double> logs;
    const double lo = math::log10(s.omega_low), hi = math::log10(s.omega_high);
    auto far_from_all = [&](double x) {
        return std::all_of(logs.begin(), logs.end(), [&](double y) { return std::fabs(x - y) >= PEAK_SEPARATION; });
    };
    if (placement != ArcPlacement::Even) {
        for (const double peak : s.peaks) {
            if (logs.size() == count) break;
            if (far_from_all(math::log10(peak))) logs.push_back(math::log10(peak));
        }
    }
    // Arcs that show no maximum of their own may lie outside the window.
    for (std::size_t k = 0; placement == ArcPlacement::Beyond && logs.size() < count; ++k) {
        logs.push_back(k % 2 == 0 ? lo - BEYOND_DECADES : hi + BEYOND_DECADES);
    }
    // Even positions, each taken when far from the chosen ones; then any.
    for (int pass = 0; pass < 2 && logs.size() < count; ++pass) {
        for (std::size_t j = 0; j < count && logs.size() < count; ++j) {
            const double x = hi - (hi - lo) * (static_cast<double>(j) + 0.5) / static_cast<double>(count);
            if (pass == 1 || far_from_all(x)) logs.push_back(x);
        }
    }
    std::sort(logs.begin(), logs.end(), std::greater<>());
    if (placement == ArcPlacement::Reversed) std::reverse(logs.begin(), logs.end());
    std::vector<double> omegas;
    for (const double x : logs) omegas.push_back(math::pow(10.0, x));
    return omegas;
}

bool arc_like(Kind kind) {
    return kind == Kind::K || kind == Kind::Zarc || kind == Kind::G || kind == Kind::Gs || kind == Kind::T ||
           kind == Kind::Tlmq;
}

bool diffusion(Kind kind) { return kind == Kind::W || kind == Kind::Wo || kind == Kind::Ws; }

bool capacitive(Kind kind) { return kind == Kind::C || kind == Kind::Cpe; }

// A branch that conducts direct current through something other than a
// capacitance: it carries the arc's resistance.
bool resistive(const SeriesList& branch) {
    return std::any_of(branch.begin(), branch.end(), [](const Node& node) {
        const Leaf* leaf = node.leaf();
        return !leaf || !capacitive(leaf->element.kind);
    });
}

class Allocator {
public:
    Allocator(const SpectrumScales& scales, std::vector<double> arc_omegas)
        : s_(scales), arcs_(std::move(arc_omegas)) {}

    std::vector<double> top_level(const SeriesList& nodes) {
        std::size_t ohmic = 0, shares = 0;
        for (const Node& node : nodes) {
            const Leaf* leaf = node.leaf();
            if (leaf && leaf->element.kind == Kind::R) {
                ++ohmic;
            } else if (!leaf || arc_like(leaf->element.kind) || diffusion(leaf->element.kind)) {
                ++shares;
            }
        }
        const double share = s_.r_span / static_cast<double>(std::max<std::size_t>(shares, 1));
        for (const Node& node : nodes) {
            const Leaf* leaf = node.leaf();
            if (!leaf) {
                parallel(*node.parallel(), share, next_arc());
                continue;
            }
            const Kind kind = leaf->element.kind;
            if (kind == Kind::R) {
                push(s_.r_high / static_cast<double>(ohmic));
            } else if (kind == Kind::W) {
                // The tail's -Im Z = aw / sqrt(omega) at the lowest frequency.
                const double from_tail = s_.tail * std::sqrt(s_.omega_low);
                push(from_tail > 0.0 ? from_tail : WARBURG_SHARE * share * std::sqrt(s_.omega_low / 2.0));
            } else if (diffusion(kind)) {
                leaf_values(kind, share, s_.omega_low * DIFFUSION_TIME);
            } else if (capacitive(kind)) {
                // A blocking element: its reactance matches the tail at the lowest frequency.
                const double reactance = s_.tail > 0.0 ? s_.tail : s_.r_span;
                leaf_values(kind, reactance, s_.omega_low);
            } else {
                leaf_values(kind, share, arc_like(kind) ? next_arc() : s_.omega_high);
            }
        }
        return std::move(values_);
    }

private:
    double next_arc() {
        if (arcs_.empty()) return std::sqrt(s_.omega_low * s_.omega_high);
        const double omega = arcs_[std::min(used_, arcs_.size() - 1)];
        ++used_;
        return omega;
    }

    void push(double v) { values_.push_back(positive(v)); }
    void push_exponent(double v) { values_.push_back(v); }

    // An arc of resistance r and characteristic frequency omega: resistive
    // branches carry r (in parallel), capacitive ones close the arc at omega.
    void parallel(const ParallelNode& node, double r, double omega) {
        const auto n_resistive = static_cast<double>(
            std::count_if(node.branches.begin(), node.branches.end(), [](const SeriesList& b) { return resistive(b); }));
        for (const SeriesList& branch : node.branches) {
            if (resistive(branch)) {
                series_in_branch(branch, r * n_resistive, omega);
            } else {
                for (const Node& member : branch) leaf_values(member.leaf()->element.kind, r, omega);
            }
        }
    }

    // A branch's series members share its resistance; a nested arc takes the
    // next (lower) characteristic frequency.
    void series_in_branch(const SeriesList& branch, double r, double omega) {
        const auto sharing = static_cast<double>(std::max<std::ptrdiff_t>(
            std::count_if(branch.begin(), branch.end(),
                          [](const Node& node) {
                              const Leaf* leaf = node.leaf();
                              return !leaf || leaf->element.kind == Kind::R || arc_like(leaf->element.kind);
                          }),
            1));
        for (const Node& node : branch) {
            if (const Leaf* leaf = node.leaf()) {
                const Kind kind = leaf->element.kind;
                leaf_values(kind, kind == Kind::R ? r / sharing : r, arc_like(kind) ? next_arc() : omega);
            } else {
                parallel(*node.parallel(), r / sharing, next_arc());
            }
        }
    }

    // One element's values from a resistance scale r and a frequency omega.
    void leaf_values(Kind kind, double r, double omega) {
        switch (kind) {
            case Kind::R: push(r); break;
            case Kind::C: push(1.0 / (r * omega)); break;
            case Kind::L: push(s_.inductance > 0.0 ? s_.inductance : SMALL_SHARE * s_.z_high / s_.omega_high); break;
            case Kind::La: {
                const double reactance = s_.inductance > 0.0 ? s_.inductance * s_.omega_high : SMALL_SHARE * s_.z_high;
                push(math::pow(reactance, 1.0 / LA_EXPONENT) / s_.omega_high);
                push_exponent(LA_EXPONENT);
                break;
            }
            case Kind::Cpe: push(1.0 / (r * math::pow(omega, EXPONENT))); push_exponent(EXPONENT); break;
            case Kind::W: push(WARBURG_SHARE * r * std::sqrt(omega / 2.0)); break;
            case Kind::Wo:
            case Kind::Ws: push(r); push(DIFFUSION_TIME / omega); break;
            case Kind::G: push(r); push(1.0 / omega); break;
            case Kind::Gs: push(r); push(1.0 / omega); push(1.0); break;
            case Kind::K: push(r); push(1.0 / omega); break;
            case Kind::Zarc: push(r); push(1.0 / omega); push_exponent(EXPONENT); break;
            case Kind::Tlmq: push(r); push(1.0 / (r * math::pow(omega, EXPONENT))); push_exponent(EXPONENT); break;
            case Kind::T: push(r); push(r); push(1.0); push(1.0 / omega); break;
        }
    }

    const SpectrumScales& s_;
    std::vector<double> arcs_;
    std::size_t used_ = 0;
    std::vector<double> values_;
};

}  // namespace

std::size_t arc_count(const SeriesList& nodes) {
    std::size_t n = 0;
    for (const Node& node : nodes) {
        if (const Leaf* leaf = node.leaf()) {
            n += arc_like(leaf->element.kind);
            continue;
        }
        ++n;
        for (const SeriesList& branch : node.parallel()->branches) n += arc_count(branch);
    }
    return n;
}

SpectrumScales spectrum_scales(std::span<const double> frequencies_hz, std::span<const Complex> impedances) {
    const std::vector<Point> points = sorted_usable(frequencies_hz, impedances);
    SpectrumScales s;
    if (points.size() < 2) return s;
    s.usable = true;
    s.omega_low = points.front().omega;
    s.omega_high = points.back().omega;
    double lowest_re = points.front().z.re, highest_re = lowest_re, largest = 0.0;
    for (const Point& p : points) {
        lowest_re = std::min(lowest_re, p.z.re);
        highest_re = std::max(highest_re, p.z.re);
        largest = std::max(largest, std::hypot(p.z.re, p.z.im));
    }
    const double small = positive(SMALL_SHARE * largest);
    s.r_high = lowest_re > small ? lowest_re : small;
    s.r_span = highest_re - lowest_re > small ? highest_re - lowest_re : small;
    s.z_high = positive(std::hypot(points.back().z.re, points.back().z.im));
    if (points.back().z.im > 0.0) s.inductance = points.back().z.im / s.omega_high;
    if (points.front().z.im < 0.0) s.tail = -points.front().z.im;
    s.peaks = imaginary_peaks(points);
    return s;
}

std::vector<double> data_scaled_values(const SeriesList& nodes, const SpectrumScales& scales,
                                       ArcPlacement placement) {
    Allocator allocator(scales, arc_frequencies(scales, arc_count(nodes), placement));
    std::vector<double> values = allocator.top_level(nodes);
    values.resize(param_count(nodes), FLOOR);
    return values;
}

}  // namespace vorlane
