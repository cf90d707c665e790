// Turning a measured spectrum into the network's scale-free input.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/cancellation.hpp"
#include "core/interruptible_sort.hpp"
#include "core/math.hpp"
#include "nn/guesser.hpp"
#include "nn/layer_tensors.hpp"

namespace vorlane {
namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double PI = 3.141592653589793;
constexpr double HALF_PI = 1.5707963267948966;
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

bool stop_due(std::size_t i) { return poll_stop_at_point(i); }

// Key whose signed integer order is the IEEE 754 totalOrder of doubles.
std::int64_t total_order_key(double x) {
    const auto bits = std::bit_cast<std::int64_t>(x);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

bool total_less(double a, double b) { return total_order_key(a) < total_order_key(b); }

double modulus(Complex z) { return std::hypot(z.re, z.im); }

// d' = d - 2pi floor((d + pi) / 2pi) lies in [-pi, pi); a step of exactly
// -pi towards a larger raw phase is taken as +pi instead.
double unwrap_step(double previous, double raw) {
    double step = raw - previous;
    step -= TWO_PI * std::floor((step + PI) / TWO_PI);
    if (step == -PI && raw > previous) step = PI;
    return previous + step;
}

}  // namespace

std::pair<double, double> reactive_centroid(std::span<const double> frequencies, std::span<const Complex> impedances) {
    const std::size_t n = std::min(frequencies.size(), impedances.size());
    double weight_sum = 0.0;
    double log_modulus_sum = 0.0;
    double log_omega_sum = 0.0;
    for (std::size_t i = 0; i < n && !stop_due(i); ++i) {
        const double f = frequencies[i];
        const double m = modulus(impedances[i]);
        if (f <= 0.0 || m <= 0.0) continue;
        const double share = -impedances[i].im / m;
        // A NaN share falls to 0 here: the comparison is false for NaN.
        const double w = share > 0.0 ? share : 0.0;
        weight_sum += w;
        log_modulus_sum += w * math::log(m);
        log_omega_sum += w * math::log(TWO_PI * f);
    }
    if (weight_sum >= 1e-9) return {math::exp(log_modulus_sum / weight_sum), math::exp(log_omega_sum / weight_sum)};

    // No capacitive content: the median modulus and the mean log frequency.
    double log_omega_total = 0.0;
    for (std::size_t i = 0; i < frequencies.size() && !stop_due(i); ++i) {
        log_omega_total += math::log(TWO_PI * frequencies[i]);
    }
    const double w_scale = math::exp(log_omega_total / static_cast<double>(frequencies.size()));
    if (impedances.empty()) return {NAN_VALUE, w_scale};
    std::vector<double> moduli;
    moduli.reserve(impedances.size());
    for (std::size_t i = 0; i < impedances.size() && !stop_due(i); ++i) moduli.push_back(modulus(impedances[i]));
    stable_sort_polling(moduli, total_less);
    return {moduli.empty() ? NAN_VALUE : moduli[moduli.size() / 2], w_scale};
}

double interpolate(double x, std::span<const double> xs, std::span<const double> ys) {
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n == 0) return NAN_VALUE;
    if (x <= xs[0]) return ys[0];
    if (x >= xs[n - 1]) return ys[n - 1];
    if (n == 1) return NAN_VALUE;  // only a NaN abscissa or a NaN x gets here
    // Count of abscissae <= x by bisection; with NaN among them the count is
    // only kept inside [1, n - 1] so that both neighbours exist.
    std::size_t lo_count = 0;
    std::size_t hi_count = n;
    while (lo_count < hi_count) {
        const std::size_t mid = lo_count + (hi_count - lo_count) / 2;
        if (xs[mid] <= x) {
            lo_count = mid + 1;
        } else {
            hi_count = mid;
        }
    }
    const std::size_t hi = std::clamp<std::size_t>(lo_count, 1, n - 1);
    const std::size_t lo = hi - 1;
    if (xs[lo] == xs[hi]) return ys[lo];
    return ys[lo] + (x - xs[lo]) * (ys[hi] - ys[lo]) / (xs[hi] - xs[lo]);
}

Features Guesser::features(std::span<const double> frequencies, std::span<const Complex> impedances,
                           double w_scale, double z_scale) const {
    // The vectors grow inside loops that poll, which is where the memory of
    // a large spectrum is first touched. Stopped, they are shorter.
    const std::size_t n = std::min(frequencies.size(), impedances.size());
    std::vector<std::size_t> order;
    order.reserve(n);
    for (std::size_t i = 0; i < n && !stop_due(i); ++i) order.push_back(i);
    stable_sort_polling(order, [&](std::size_t a, std::size_t b) { return total_less(frequencies[a], frequencies[b]); });

    std::vector<double> log_f;
    std::vector<double> log_m;
    std::vector<double> phase;
    log_f.reserve(order.size());
    log_m.reserve(order.size());
    phase.reserve(order.size());
    for (std::size_t k = 0; k < order.size() && !stop_due(k); ++k) {
        const Complex z = impedances[order[k]];
        log_f.push_back(math::log10(frequencies[order[k]]));
        log_m.push_back(math::log10(modulus(z)));
        const double raw = math::atan2(z.im, z.re);
        phase.push_back(k == 0 ? raw : unwrap_step(phase.back(), raw));
    }

    // An unvalidated file may declare any grid; an absurd one yields no matrix
    // (and is rejected by validate_structure before the network runs).
    const std::size_t length = n_grid <= MAX_ACTIVATION_VALUES ? n_grid : 0;
    const double lo = log_f.empty() ? NAN_VALUE : log_f.front();
    const double hi = log_f.empty() ? NAN_VALUE : log_f.back();
    const double step = length >= 2 ? (hi - lo) / static_cast<double>(length - 1) : 0.0;
    const double log_z_scale = math::log10(z_scale);
    const double log_w_centre = math::log10(w_scale / TWO_PI);

    Features out;
    out.matrix.resize(3 * length);
    for (std::size_t g = 0; g < length; ++g) {
        const double x = lo + step * static_cast<double>(g);
        out.matrix[g] = interpolate(x, log_f, log_m) - log_z_scale;
        out.matrix[length + g] = interpolate(x, log_f, phase) / HALF_PI;
        out.matrix[2 * length + g] = (x - log_w_centre) * 0.25;
    }
    out.meta = {(hi - lo) * 0.125, 0.5 * math::log10(static_cast<double>(frequencies.size()))};
    return out;
}

}  // namespace vorlane
