// Noise, structure and outliers of the residuals of a Kramers-Kronig fit.
#include "validation/kk_verdict.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vorlane {
namespace {

constexpr double OUTLIER_FACTOR = 5.0;
// The typical residual around a point: noise often differs between the
// ends of a spectrum.
constexpr std::size_t NEIGHBOURHOOD = 15;
constexpr double SMALLEST_OUTLIER = 0.005;
// Rayleigh distribution: the median modulus of two independent parts of
// standard deviation sigma is sigma sqrt(2 ln 2).
constexpr double MEDIAN_OF_MODULUS = 1.1774100225154747;
constexpr double STANDARD_DEVIATIONS = 3.0;
constexpr double SMALLEST_THRESHOLD = 0.002;
constexpr std::size_t POINTS_PER_OUTLIER = 10;

double modulus(const KkResiduals& r, std::size_t i) { return std::hypot(r.real[i], r.imag[i]); }

}  // namespace

std::vector<std::size_t> frequency_order(const std::vector<double>& frequencies) {
    std::vector<std::size_t> order(frequencies.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return frequencies[a] < frequencies[b]; });
    return order;
}

std::vector<bool> find_outliers(const KkResiduals& residuals) {
    const std::size_t n = residuals.size();
    const std::vector<std::size_t>& order = residuals.by_frequency;
    std::vector<bool> out(n, false);
    std::vector<double> size(n);  // in frequency order
    for (std::size_t k = 0; k < n; ++k) size[k] = modulus(residuals, order[k]);
    // Where the noise is the same everywhere, the median of all points is
    // the steadier estimate; where it differs, the local one is the right
    // one where the noise is larger.
    std::vector<double> everywhere = size;
    const auto global_middle = everywhere.begin() + static_cast<std::ptrdiff_t>(n / 2);
    if (n > 0) std::nth_element(everywhere.begin(), global_middle, everywhere.end());
    const double typical = n > 0 ? *global_middle : 0.0;
    const std::size_t window = std::min(n, NEIGHBOURHOOD);
    std::vector<double> around(window);
    std::vector<std::pair<double, std::size_t>> candidates;  // (size, point)
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t first = std::min(k >= window / 2 ? k - window / 2 : 0, n - window);
        std::copy(size.begin() + static_cast<std::ptrdiff_t>(first),
                  size.begin() + static_cast<std::ptrdiff_t>(first + window), around.begin());
        const auto middle = around.begin() + static_cast<std::ptrdiff_t>(window / 2);
        std::nth_element(around.begin(), middle, around.end());
        const double limit = std::max(OUTLIER_FACTOR * std::max(*middle, typical) / MEDIAN_OF_MODULUS, SMALLEST_OUTLIER);
        if (size[k] > limit) candidates.emplace_back(size[k], order[k]);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    candidates.resize(std::min(candidates.size(), n / 4));
    for (const auto& c : candidates) out[c.second] = true;
    return out;
}

KkVerdict judge(const KkResiduals& residuals, const std::vector<bool>& outliers, std::size_t parameters) {
    KkVerdict out;
    std::vector<std::size_t> kept;  // in frequency order
    for (std::size_t i : residuals.by_frequency) {
        if (!outliers[i]) kept.push_back(i);
    }
    const std::size_t n = kept.size();
    double squares = 0.0, differences = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = kept[k];
        squares += residuals.real[i] * residuals.real[i] + residuals.imag[i] * residuals.imag[i];
        if (k == 0) continue;
        const std::size_t h = kept[k - 1];
        const double dr = residuals.real[i] - residuals.real[h];
        const double di = residuals.imag[i] - residuals.imag[h];
        differences += dr * dr + di * di;
    }
    const double rows = static_cast<double>(2 * n);
    const double pairs = static_cast<double>(2 * (n > 0 ? n - 1 : 0));
    if (!(2 * n > parameters && pairs > 0.0 && std::isfinite(squares) && std::isfinite(differences))) {
        out.noise = out.systematic = out.threshold = NAN;
        return out;
    }
    const double mean_square = squares / rows;
    const double white = differences / (2.0 * pairs);
    out.noise = 100.0 * std::sqrt(white * rows / (rows - static_cast<double>(parameters)));
    out.systematic = 100.0 * std::sqrt(std::max(0.0, mean_square - white));
    out.threshold = 100.0 * std::max(std::sqrt(STANDARD_DEVIATIONS * white / std::sqrt(pairs)), SMALLEST_THRESHOLD);
    const std::size_t outlier_count = residuals.size() - n;
    out.valid = out.systematic <= out.threshold &&
                outlier_count * POINTS_PER_OUTLIER <= std::max<std::size_t>(residuals.size(), POINTS_PER_OUTLIER);
    return out;
}

}  // namespace vorlane
