// vorlane._core._spectrum: the spectrum conversion that fit, guess and
// residuals apply, handed to the pure-Python helpers (plots) so that they
// accept exactly what a fit accepts; and _from_modulus_and_phase, the file
// readers' conversion of a modulus and a phase, with the bits a dataframe of
// those columns gets in a fit.
#include "core/polar.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/exception_guard.hpp"
#include "python/heap_types.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {
namespace {

constexpr const char* SPECTRUM_DOC =
    "_spectrum(frequencies, impedances=None)\n--\n\n"
    "The measured spectrum as `fit` reads it: a tuple of the frequencies (Hz)\n"
    "as a list of floats and the impedances (ohm) as a list of complex.";

PyObject* complex_list(const std::vector<Complex>& values) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyComplex_FromDoubles(values[i].re, values[i].im);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* measured_points_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"frequencies", "impedances", nullptr};
    PyObject* frequencies = nullptr;
    PyObject* impedances = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:_spectrum", const_cast<char**>(keywords), &frequencies,
                                     &impedances)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        Spectrum measured;
        if (!spectrum(frequencies, impedances, measured)) return nullptr;
        Ref f(float_list(measured.frequencies));
        if (!f) return nullptr;
        Ref z(complex_list(measured.impedances));
        if (!z) return nullptr;
        return PyTuple_Pack(2, f.get(), z.get());
    });
}

constexpr const char* FROM_MODULUS_AND_PHASE_DOC =
    "_from_modulus_and_phase(moduli, phases)\n--\n\n"
    "Impedances (ohm) as a list of complex from their moduli (ohm) and phase\n"
    "angles (degrees), two sequences of floats of the same length.";

PyObject* from_modulus_and_phase_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"moduli", "phases", nullptr};
    PyObject* moduli_arg = nullptr;
    PyObject* phases_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:_from_modulus_and_phase", const_cast<char**>(keywords),
                                     &moduli_arg, &phases_arg)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::vector<double> moduli;
        std::vector<double> phases;
        if (!to_float_vector_arg(moduli_arg, "moduli", moduli) || !to_float_vector_arg(phases_arg, "phases", phases)) {
            return nullptr;
        }
        if (moduli.size() != phases.size()) return raise_value_error("moduli and phases must have the same length");
        std::vector<Complex> impedances(moduli.size());
        for (std::size_t i = 0; i < moduli.size(); ++i) impedances[i] = from_modulus_and_phase(moduli[i], phases[i]);
        return complex_list(impedances);
    });
}

PyMethodDef spectrum_functions[] = {
    {"_spectrum", as_cfunction(measured_points_entry), METH_VARARGS | METH_KEYWORDS, SPECTRUM_DOC},
    {"_from_modulus_and_phase", as_cfunction(from_modulus_and_phase_entry), METH_VARARGS | METH_KEYWORDS,
     FROM_MODULUS_AND_PHASE_DOC},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_spectrum_function(PyObject* module) { return PyModule_AddFunctions(module, spectrum_functions); }

}  // namespace vorlane::py
