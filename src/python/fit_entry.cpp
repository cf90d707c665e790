// Circuit.fit: argument conversion, the starting point, the dispatch with
// the interpreter lock released, and the error mapping.
#include <optional>
#include <string>
#include <vector>

#include "circuit/layout.hpp"
#include "fit/fit_dispatch.hpp"
#include "fit/fit_size.hpp"
#include "fit/start_point.hpp"
#include "models/registry.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/exception_guard.hpp"
#include "python/fit_result.hpp"
#include "python/guess_entry.hpp"
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

constexpr const char* NO_MODEL_WARNING =
    "There is no ML model to guess initial parameters for this circuit. Supply your own with "
    "Circuit.with_named_values({...}) or Circuit.with_values([...]), or pass guess_init=False to silence "
    "this. Models available for ";

struct FitArguments {
    PyObject* frequencies = nullptr;
    PyObject* impedances = nullptr;
    std::optional<bool> guess_init;
    std::optional<std::string> weights;
    std::string weight = "modulus";
};

// Converts every argument in signature order into `args` and `options`
// (all but the tree and the spectrum).
bool convert_arguments(PyObject* args, PyObject* kwargs, FitArguments& out, FitOptions& options) {
    static const char* keywords[] = {
        "frequencies", "impedances", "guess_init", "weights", "weight", "method", "max_iterations", "ftol",
        "xtol", "num_particles", "generations", "nelder_mead_iterations", "de_evaluations", "sa_iterations",
        "sa_initial_temperature", "basin_hopping_hops", "basin_hopping_step_size", "basin_hopping_temperature",
        "seed", nullptr};
    PyObject* given[18] = {};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOOOOOOOOOOOOOOOO:fit", const_cast<char**>(keywords),
                                     &out.frequencies, &given[0], &given[1], &given[2], &given[3], &given[4],
                                     &given[5], &given[6], &given[7], &given[8], &given[9], &given[10],
                                     &given[11], &given[12], &given[13], &given[14], &given[15], &given[16],
                                     &given[17])) {
        return false;
    }
    out.impedances = given[0];
    // An absent argument keeps the default already held by `out` / `options`.
    auto ok = [&](int i, auto convert) { return given[i] == nullptr || convert(given[i], keywords[i + 1]); };
    return ok(1, [&](PyObject* o, const char* n) { return optional_bool_arg(o, n, out.guess_init); }) &&
           ok(2, [&](PyObject* o, const char* n) { return optional_text_arg(o, n, out.weights); }) &&
           ok(3, [&](PyObject* o, const char* n) { return text_arg(o, n, out.weight); }) &&
           ok(4, [&](PyObject* o, const char* n) { return text_arg(o, n, options.method); }) &&
           ok(5, [&](PyObject* o, const char* n) { return u32_arg(o, n, options.max_iterations); }) &&
           ok(6, [&](PyObject* o, const char* n) { return double_arg(o, n, options.ftol); }) &&
           ok(7, [&](PyObject* o, const char* n) { return double_arg(o, n, options.xtol); }) &&
           ok(8, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.num_particles); }) &&
           ok(9, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.generations); }) &&
           ok(10, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.nelder_mead_iterations); }) &&
           ok(11, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.de_evaluations); }) &&
           ok(12, [&](PyObject* o, const char* n) { return u64_arg(o, n, options.sa_iterations); }) &&
           ok(13, [&](PyObject* o, const char* n) { return double_arg(o, n, options.sa_initial_temperature); }) &&
           ok(14, [&](PyObject* o, const char* n) { return u32_arg(o, n, options.basin_hopping_hops); }) &&
           ok(15, [&](PyObject* o, const char* n) { return double_arg(o, n, options.basin_hopping_step_size); }) &&
           ok(16, [&](PyObject* o, const char* n) { return double_arg(o, n, options.basin_hopping_temperature); }) &&
           ok(17, [&](PyObject* o, const char* n) { return optional_u64_arg(o, n, options.seed); });
}

// The starting tree: the circuit's own values, or a guess (`guessed`);
// warns when an unset guess_init finds no bundled model.
bool starting_tree(PyObject* self, const FitArguments& args, const Spectrum& measured, SeriesList& out,
                   bool& guessed) {
    const SeriesList& nodes = nodes_of(self);
    const bool explicit_values = reinterpret_cast<CircuitObject*>(self)->explicit_values;
    const bool guess = args.guess_init.value_or(args.weights.has_value() || !explicit_values);
    guessed = false;
    if (guess && !args.weights && !args.guess_init && !find_for_topology(nodes)) {
        const std::string message = NO_MODEL_WARNING + quoted_model_names();
        if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) != 0) return false;
        out = nodes;
        return true;
    }
    if (!guess) {
        out = nodes;
        return true;
    }
    std::vector<double> values;
    if (!guess_values(nodes, measured, args.weights ? &*args.weights : nullptr, values)) return false;
    if (values.size() != param_count(nodes)) {
        PyErr_SetString(PyExc_RuntimeError, "internal error: the guess has the wrong number of values");
        return false;
    }
    out = rebuild_with_values(nodes, values);
    guessed = true;
    return true;
}

// The solver can move only values inside their bounds; the others are moved
// there (the rule is in move_start_inside). The user's own values are named
// in a warning; a guess is only a starting point and moves silently.
bool start_inside_bounds(SeriesList& nodes, bool guessed) {
    MovedStart start = move_start_inside(nodes, guessed ? StartOrigin::Guess : StartOrigin::User);
    if (start.moved.empty()) return true;
    if (!guessed &&
        !warn_about_params(nodes, start.moved,
                           "starting values that are not finite or not inside their bounds were moved inside "
                           "(to the placeholder value when not finite or at or below an open lower bound, else to "
                           "the nearest end of the range): ")) {
        return false;
    }
    nodes = std::move(start.nodes);
    return true;
}

}  // namespace

PyObject* circuit_fit(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        FitArguments arguments;
        FitOptions options;
        if (!convert_arguments(args, kwargs, arguments, options)) return nullptr;
        Spectrum measured;
        if (!spectrum(arguments.frequencies, arguments.impedances, measured)) return nullptr;
        if (!parse_weighting(arguments.weight, options.modulus)) return nullptr;
        // Before the guess: a fit that cannot run needs no starting values.
        if (auto error = check_fit_size(measured.frequencies.size(), param_count(nodes_of(self)), options)) {
            PyErr_SetString(PyExc_ValueError, error->message().c_str());
            return nullptr;
        }
        bool guessed = false;
        if (!starting_tree(self, arguments, measured, options.nodes, guessed)) return nullptr;
        if (!start_inside_bounds(options.nodes, guessed)) return nullptr;
        options.frequencies = std::move(measured.frequencies);
        options.impedances = std::move(measured.impedances);
        std::optional<FitResultOr> interruptible_result = interruptible([&] { return run_fit(options); });
        if (!interruptible_result) return nullptr;
        FitResultOr& result = *interruptible_result;
        if (!result) {
            PyErr_SetString(PyExc_ValueError, result.error().message().c_str());
            return nullptr;
        }
        return make_fit_result(std::move(*result));
    });
}

}  // namespace vorlane::py
