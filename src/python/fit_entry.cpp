// Circuit.fit: argument conversion, the starting point, the dispatch with
// the interpreter lock released, and the error mapping.
#include <optional>
#include <utility>

#include "circuit/layout.hpp"
#include "fit/fit_dispatch.hpp"
#include "fit/fit_size.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/exception_guard.hpp"
#include "python/fit_option_args.hpp"
#include "python/fit_result.hpp"
#include "python/interruptible.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {

const char* const FIT_DOC =
    "fit($self, frequencies, impedances=None, guess_init=None, weights=None, weight=\"modulus\", "
    "method=\"levenberg_marquardt\", max_iterations=200, ftol=1e-8, xtol=1e-8, num_particles=200, "
    "generations=1000, nelder_mead_iterations=2000, de_evaluations=20000, sa_iterations=5000, "
    "sa_initial_temperature=2.0, basin_hopping_hops=20, basin_hopping_step_size=1.0, "
    "basin_hopping_temperature=1.0, seed=None)\n--\n\n"
    "Fit this circuit's parameters to a measured spectrum.\n\n"
    "Accepts two sequences of frequencies and impedances, or a single battery\n"
    "data format dataframe (`impedances` left as None).\n\n"
    "`guess_init` unset means start from a machine-learning guess whenever the\n"
    "circuit is not explicitly given starting parameters. If no model has been\n"
    "trained for the topology it warns and starts from placeholder values.\n\n"
    "`True` always guesses, and raises rather than warns when it cannot.\n"
    "`False` never guesses.";

namespace {

// frequencies and impedances, then every option of fit.
bool convert_arguments(PyObject* args, PyObject* kwargs, PyObject*& frequencies, PyObject*& impedances,
                       FitArguments& out, FitOptions& options) {
    static const auto keywords = keyword_list({"frequencies", "impedances"});
    PyObject* given[FIT_OPTION_COUNT] = {};
    return PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOOOOOOOOOOOOOOOO:fit", const_cast<char**>(keywords.data()),
                                       &frequencies, &impedances, &given[0], &given[1], &given[2], &given[3],
                                       &given[4], &given[5], &given[6], &given[7], &given[8], &given[9],
                                       &given[10], &given[11], &given[12], &given[13], &given[14], &given[15],
                                       &given[16]) &&
           convert_fit_options(given, out, options);
}

}  // namespace

PyObject* circuit_fit(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* frequencies = nullptr;
        PyObject* impedances = nullptr;
        FitArguments arguments;
        FitOptions options;
        if (!convert_arguments(args, kwargs, frequencies, impedances, arguments, options)) return nullptr;
        Spectrum measured;
        if (!spectrum(frequencies, impedances, measured)) return nullptr;
        if (!parse_weighting(arguments.weight, options.modulus)) return nullptr;
        // Before the guess: a fit that cannot run needs no starting values.
        if (auto error = check_fit_size(measured.frequencies.size(), param_count(nodes_of(self)), options)) {
            return raise_value_error(error->message());
        }
        if (!warn_non_finite(measured, FIT_KEEPS_NON_FINITE)) return nullptr;
        StartKind kind = StartKind::CircuitValues;
        if (!choose_start(self, arguments, kind)) return nullptr;
        options.constraints = constraints_of(self);
        // The guess, if any, runs without the interpreter lock; its warnings
        // are issued below, with it held again.
        auto interruptible_start = interruptible([&] {
            return start_tree(nodes_of(self), options.constraints, kind, arguments.weights, measured.frequencies,
                              measured.impedances);
        });
        if (!interruptible_start) return nullptr;
        auto& start = *interruptible_start;
        if (!start) return raise_value_error(start.error());
        if (!warn_placeholders(start->nodes, start->placeholders, "")) return nullptr;
        if (kind == StartKind::CircuitValues && !user_start_inside_bounds(start->nodes, options.constraints)) {
            return nullptr;
        }
        options.nodes = std::move(start->nodes);
        options.zero_configuration = zero_configuration(kind, arguments);
        options.arcs_placed = arcs_placed(nodes_of(self), kind);
        options.frequencies = std::move(measured.frequencies);
        options.impedances = std::move(measured.impedances);
        std::optional<FitResultOr> interruptible_result = interruptible([&] { return run_fit(options); });
        if (!interruptible_result) return nullptr;
        FitResultOr& result = *interruptible_result;
        if (!result) {
            PyErr_SetString(PyExc_ValueError, result.error().message().c_str());
            return nullptr;
        }
        return make_fit_result(std::move(*result), options.constraints);
    });
}

}  // namespace vorlane::py
