// Circuit.guess and Circuit.ml_circuits: the machine-learning starting
// values seen from Python. The guess runs with the interpreter lock
// released, so that threads guess in parallel: its arguments are plain C++
// values by then, the networks are immutable, and the weight-file caches it
// may fill are guarded by their own locks.
#include "python/guess_entry.hpp"

#include <optional>

#include "circuit/layout.hpp"
#include "core/quoting.hpp"
#include "fit/start_point.hpp"
#include "models/registry.hpp"
#include "models/zero_config_start.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/exception_guard.hpp"
#include "python/fit_option_args.hpp"
#include "python/interruptible.hpp"

namespace vorlane::py {

const char* const GUESS_DOC =
    "guess($self, frequencies, impedances=None, weights=None)\n--\n\n"
    "Machine-learning guess of starting parameters for this circuit's\n"
    "topology, in `param_names()` order.\n"
    "\n"
    "Series and parallel elements may be written with any order and labels:\n"
    "`(R1,C2)-R3` uses the same model as `R0-(R1,C1)`. `K` and `Zarc` reach\n"
    "the models trained on the pairs they abbreviate, so `R0-Zarc1` uses the\n"
    "`R0-(R1,CPE1)` model and gets its guess back as `r`, `tau_k`, `gamma`.\n"
    "\n"
    "`weights` loads a `.eisnn` file from disk instead of looking for a\n"
    "bundled model.\n"
    "\n"
    "Points with a non-finite frequency or impedance are left out, with a\n"
    "UserWarning.\n"
    "\n"
    "Raises if no model has been trained for this topology, or if `weights`\n"
    "was trained for a different one.";

const char* const ML_CIRCUITS_DOC =
    "ml_circuits()\n--\n\n"
    "Names accepted by the constructor that have trained initial-parameter\n"
    "models, and so get a guessed starting point from `fit()` by default.";

bool warn_about_params(const SeriesList& nodes, const std::vector<std::size_t>& indices, const char* text) {
    if (indices.empty()) return true;
    const std::vector<std::string> all = param_names(nodes);
    std::vector<std::string> named;
    for (const std::size_t i : indices) named.push_back(all[i]);
    const std::string message = text + quoted_list(named);
    return PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) == 0;
}

bool guess_values(const SeriesList& nodes, const Spectrum& measured, const std::string* weights_path,
                  std::vector<double>& out) {
    const auto interruptible_guess = interruptible([&] {
        return weights_path ? guess_params(nodes, measured.frequencies, measured.impedances, weights_path)
                            : network_start(nodes, measured.frequencies, measured.impedances);
    });
    if (!interruptible_guess) return false;
    const auto& guessed = *interruptible_guess;
    if (!guessed) {
        PyErr_SetString(PyExc_ValueError, guessed.error().c_str());
        return false;
    }
    if (!warn_placeholders(nodes, guessed->replaced, "")) return false;
    out = std::move(guessed->values);
    return true;
}

PyObject* circuit_guess(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"frequencies", "impedances", "weights", nullptr};
        PyObject *frequencies = nullptr, *impedances = nullptr, *weights = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:guess", const_cast<char**>(keywords), &frequencies,
                                         &impedances, &weights)) {
            return nullptr;
        }
        std::optional<std::string> path;
        if (!optional_text_arg(weights, "weights", path)) return nullptr;
        Spectrum measured;
        if (!spectrum(frequencies, impedances, measured)) return nullptr;
        if (!warn_non_finite(measured, "the guess leaves them out")) return nullptr;
        std::vector<double> values;
        if (!guess_values(nodes_of(self), measured, path ? &*path : nullptr, values)) return nullptr;
        return float_list(constrained_guess(nodes_of(self), constraints_of(self), std::move(values)));
    });
}

PyObject* circuit_ml_circuits(PyObject*, PyObject*) {
    return guarded([] { return string_list(model_names()); });
}

}  // namespace vorlane::py
