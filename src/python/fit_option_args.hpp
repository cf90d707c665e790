// The keyword options of Circuit.fit, which Circuit.fit_many takes too: their
// names, their conversion and the choice of the starting point.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fit/fit_batch.hpp"
#include "fit/fit_dispatch.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

// guess_init, weights, weight, method, ..., seed: fit's options after the
// spectrum, in signature order.
inline constexpr std::size_t FIT_OPTION_COUNT = 17;
extern const char* const FIT_OPTION_NAMES[FIT_OPTION_COUNT];

// A method's keyword list for argument parsing: its own leading names,
// then the fit options, then the closing null.
template <std::size_t N>
std::array<const char*, N + FIT_OPTION_COUNT + 1> keyword_list(const char* const (&leading)[N]) {
    std::array<const char*, N + FIT_OPTION_COUNT + 1> out{};
    std::copy(std::begin(leading), std::end(leading), out.begin());
    std::copy(std::begin(FIT_OPTION_NAMES), std::end(FIT_OPTION_NAMES), out.begin() + N);
    return out;
}

// The options that are not settings of the fitting method.
struct FitArguments {
    std::optional<bool> guess_init;
    std::optional<std::string> weights;
    std::string weight = "modulus";  // parsed after the spectrum is read
};

// Converts the options given (null where absent: the default stays) into
// `args` and `options`; false with an exception set.
bool convert_fit_options(std::span<PyObject* const, FIT_OPTION_COUNT> given, FitArguments& args,
                         FitOptions& options);

// Where fits of this circuit start, decided once per call. An unset
// guess_init that finds no bundled network for the circuit or any part of it
// warns and starts from values scaled from each spectrum.
enum class StartKind { CircuitValues, Guess, DataScaled };
bool choose_start(PyObject* circuit, const FitArguments& args, StartKind& out);

// A start found without the caller's help (a bundled network or the
// spectrum): the default method then checks its fit and searches further
// when the fit stays poor.
inline bool zero_configuration(StartKind kind, const FitArguments& args) {
    return kind == StartKind::DataScaled || (kind == StartKind::Guess && !args.weights);
}

// Who placed that start's arcs: a bundled network of the whole circuit, or
// the spectrum (a partial match included).
ArcsPlaced arcs_placed(const SeriesList& circuit, StartKind kind);

// The start of one spectrum's fit: the circuit as it is, or a guess moved
// inside its bounds (silently: a guess is only a starting point), with the
// fixed values kept and arcs ordered as `constraints` say. Touches no
// Python object, so batches call it from their worker threads.
std::expected<Start, std::string> start_tree(const SeriesList& circuit, const Constraints& constraints,
                                             StartKind kind,
                                             const std::optional<std::string>& weights,
                                             std::span<const double> frequencies, std::span<const Complex> impedances);

// The user's own starting values moved inside their effective bounds, as
// the solver needs them, with a UserWarning naming those moved; false when
// the warning was raised as an error.
bool user_start_inside_bounds(SeriesList& nodes, const Constraints& constraints);

// The UserWarning for the parameters a guess left at their placeholders,
// after `prefix` ("" or "spectrum 3: "); false when raised as an error.
bool warn_placeholders(const SeriesList& nodes, const std::vector<std::size_t>& placeholders,
                       const std::string& prefix);

}  // namespace vorlane::py
