// Starting values for any circuit read off the spectrum itself: resistances
// from the real span, capacitances and CPE q from the characteristic
// frequencies, diffusion parameters from the low-frequency tail, inductances
// from the high-frequency end.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "circuit/tree.hpp"
#include "core/complex.hpp"

namespace vorlane {

// What the start reads from a spectrum, over the points with a finite,
// positive frequency and a finite impedance.
struct SpectrumScales {
    bool usable = false;          // at least two such points
    double omega_low = 1.0;       // rad/s
    double omega_high = 1.0;
    double r_high = 1.0;          // high-frequency real intercept (ohm, > 0)
    double r_span = 1.0;          // real span of the spectrum (ohm, > 0)
    double z_high = 1.0;          // |Z| at the highest frequency
    double inductance = 0.0;      // from a positive imaginary part at the top end (H), else 0
    double tail = 0.0;            // -Im Z at the lowest frequency when positive, else 0
    std::vector<double> peaks;    // angular frequencies of the -Im Z maxima, highest first
};

SpectrumScales spectrum_scales(std::span<const double> frequencies_hz, std::span<const Complex> impedances);

// The arcs of `nodes`: parallel nodes at any depth and K, Zarc, G, Gs, T,
// TLMQ leaves.
std::size_t arc_count(const SeriesList& nodes);

// How the characteristic frequencies are handed to the arcs, in the order
// their parallel nodes (and K, Zarc, G, Gs, T, TLMQ leaves) appear.
enum class ArcPlacement {
    Peaks,      // the -Im Z maxima from high to low, the rest spread evenly
    Beyond,     // the maxima, the rest a decade beyond the window's ends (the low end first)
    Even,       // evenly spread over the window from high to low
    Reversed,   // as Peaks, the written order taken from low to high
};
inline constexpr std::size_t ARC_PLACEMENT_COUNT = 4;

// Values for every parameter of `nodes`, in layout order; all finite and
// inside the default bounds.
std::vector<double> data_scaled_values(const SeriesList& nodes, const SpectrumScales& scales,
                                       ArcPlacement placement = ArcPlacement::Peaks);

}  // namespace vorlane
