// The working-memory estimate of a fit and the limit it is held to.
#include "fit/fit_size.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace vorlane {
namespace {

constexpr std::uint64_t LIMIT_CAP = 16'000'000'000;
constexpr double BYTES_PER_GB = 1e9;

// Per particle and coordinate: position, velocity, best position and the
// copies a generation makes of the first two.
constexpr double SWARM_DOUBLES_PER_COORDINATE = 5.0;
// Parents and trials of one evolution, in single precision.
constexpr double EVOLUTION_FLOATS_PER_COORDINATE = 200.0;

std::string gigabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", bytes / BYTES_PER_GB);
    return text;
}

}  // namespace

double fit_working_bytes(std::size_t points, std::size_t params, const FitOptions& options) {
    const double m = 2.0 * static_cast<double>(points);
    const double p = static_cast<double>(params);
    const double rows = std::max(m, p);
    double doubles = 2.0 * m * p + rows * p + 3.0 * p * p;
    if (options.method == "particle_swarm") {
        doubles += SWARM_DOUBLES_PER_COORDINATE * static_cast<double>(options.num_particles) * p;
    } else if (options.method == "differential_evolution") {
        doubles += EVOLUTION_FLOATS_PER_COORDINATE * p / 2.0;
    } else if (options.method == "nelder_mead") {
        doubles += (p + 1.0) * p;
    }
    return doubles * sizeof(double);
}

// The physical memory does not change while the process runs: it is asked
// for once, not on every fit.
std::uint64_t fit_memory_limit() {
    static const std::uint64_t limit = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long page_size = ::sysconf(_SC_PAGE_SIZE);
        if (pages <= 0 || page_size <= 0) return LIMIT_CAP;
        return std::min(LIMIT_CAP, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 2);
    }();
    return limit;
}

std::optional<FitError> check_fit_size(std::size_t points, std::size_t params, const FitOptions& options) {
    const double needed = fit_working_bytes(points, params, options);
    const auto limit = static_cast<double>(fit_memory_limit());
    if (needed <= limit) return std::nullopt;
    return FitError{FitError::Kind::TooLarge,
                    "fit needs about " + gigabytes(needed) + " of working memory for " + std::to_string(params) +
                        " parameters and " + std::to_string(points) +
                        " points (the Jacobian, J^T J and its inverse for the standard errors); the limit is " +
                        gigabytes(limit) + ", half of the physical memory and at most " +
                        gigabytes(static_cast<double>(LIMIT_CAP))};
}

}  // namespace vorlane
