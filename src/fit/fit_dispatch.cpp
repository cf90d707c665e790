// The dispatch from a method name to its fitting method.
#include "fit/fit_dispatch.hpp"

#include <array>
#include <string_view>

#include "fit/levenberg_marquardt.hpp"

namespace vorlane {

namespace {

// The least-squares gradient test is not a user option.
constexpr double FIXED_GTOL = 1e-8;

FitResultOr run_levenberg_marquardt(const FitOptions& o) {
    const LmOptions lm{o.ftol, o.xtol, FIXED_GTOL, o.max_iterations};
    return levenberg_marquardt_fit(o.nodes, o.frequencies, o.impedances, o.modulus, lm);
}

struct MethodRow {
    std::string_view name;
    FitResultOr (*run)(const FitOptions&);
};

constexpr std::array METHODS{
    MethodRow{"levenberg_marquardt", run_levenberg_marquardt},
};

}  // namespace

FitResultOr run_fit(const FitOptions& options) {
    for (const MethodRow& method : METHODS) {
        if (method.name == options.method) return method.run(options);
    }
    return std::unexpected(FitError{FitError::Kind::UnknownMethod, options.method});
}

}  // namespace vorlane
