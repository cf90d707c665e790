// Circuit.guess and Circuit.ml_circuits: the machine-learning starting
// values seen from Python.
#include "python/circuit_object.hpp"

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
    "Raises if no model has been trained for this topology, or if `weights`\n"
    "was trained for a different one.";

const char* const ML_CIRCUITS_DOC =
    "ml_circuits()\n--\n\n"
    "Names accepted by the constructor that have trained initial-parameter\n"
    "models, and so get a guessed starting point from `fit()` by default.";

PyObject* circuit_guess(PyObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "guess");
    return nullptr;
}

PyObject* circuit_ml_circuits(PyObject*, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "ml_circuits");
    return nullptr;
}

}  // namespace vorlane::py
