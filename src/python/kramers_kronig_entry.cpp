// vorlane.kramers_kronig: argument conversion, the test with the interpreter
// lock released, and the error mapping.
#include <cstdint>
#include <optional>
#include <string>

#include "core/quoting.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/exception_guard.hpp"
#include "python/heap_types.hpp"
#include "python/interruptible.hpp"
#include "python/kramers_kronig_result.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {
namespace {

const char* const KRAMERS_KRONIG_DOC =
    "kramers_kronig(frequencies, impedances=None, *, m=None, method=\"noise\", mu_cutoff=0.85, "
    "part=\"complex\", capacitance=None, inductance=None, weight=\"modulus\")\n--\n\n"
    "Linear Kramers-Kronig test of a measured spectrum (Schoenleber et al.,\n"
    "Electrochim. Acta 131 (2014) 20), with a verdict.\n\n"
    "Fits an ohmic resistance and m RC elements, whose time constants are\n"
    "spread evenly in log(tau) over the measured window (or a window widened\n"
    "by a decade at each end), and a series C and L where the spectrum's ends\n"
    "need them, by linear least squares; then judges the residuals: the noise\n"
    "of a valid measurement, or a structure along frequency that no causal,\n"
    "linear and stable system leaves (drift, for one). Takes the spectrum as\n"
    "`fit` does: two sequences, or one dataframe or dict with the battery data\n"
    "format columns (`impedances` left as None).\n\n"
    "`method` \"noise\" chooses the series elements, the window and m\n"
    "together: the smallest m whose fit is as good as the noise allows.\n"
    "Points whose residuals are outliers against the noise are left out of\n"
    "the final fit and the verdict. `method` \"mu\" is the paper's plain rule:\n"
    "m grows from 1 until mu = 1 - sum |negative R_k| / sum positive R_k\n"
    "falls below `mu_cutoff` at some m >= 2, at most 100, with the measured\n"
    "window and the series elements asked for. A given `m` is used as is.\n"
    "`part` fits \"complex\" (both parts), \"real\" or \"imaginary\".\n"
    "`capacitance` and `inductance`: True adds a series C or L, False leaves\n"
    "it out, None lets the test decide. `weight` is \"modulus\" (1/|Z|) or\n"
    "\"unit\".\n\n"
    "Returns a KramersKronigResult. Non-finite or non-positive frequencies,\n"
    "frequencies or moduli outside 1e-100 to 1e100, non-finite or zero\n"
    "impedances, too few points for m: ValueError.";

bool parse_method(const std::string& text, KkMethod& out) {
    if (text == "noise") {
        out = KkMethod::Noise;
    } else if (text == "mu") {
        out = KkMethod::Mu;
    } else {
        PyErr_SetString(PyExc_ValueError,
                        ("unknown method " + quote(text) + ", expected \"noise\" or \"mu\"").c_str());
        return false;
    }
    return true;
}

bool parse_part(const std::string& text, KkPart& out) {
    if (text == "complex") {
        out = KkPart::Complex;
    } else if (text == "real") {
        out = KkPart::Real;
    } else if (text == "imaginary") {
        out = KkPart::Imaginary;
    } else {
        PyErr_SetString(PyExc_ValueError, ("unknown part " + quote(text) +
                                           ", expected \"complex\", \"real\" or \"imaginary\"").c_str());
        return false;
    }
    return true;
}

struct KkArguments {
    PyObject* frequencies = nullptr;
    PyObject* impedances = nullptr;
    std::string method = "noise";
    std::string part = "complex";
    std::string weight = "modulus";
};

bool convert_arguments(PyObject* args, PyObject* kwargs, KkArguments& out, KkOptions& options) {
    static const char* keywords[] = {"frequencies", "impedances", "m",          "method", "mu_cutoff",
                                     "part",        "capacitance", "inductance", "weight", nullptr};
    PyObject* given[8] = {};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O$OOOOOOO:kramers_kronig", const_cast<char**>(keywords),
                                     &out.frequencies, &given[0], &given[1], &given[2], &given[3], &given[4],
                                     &given[5], &given[6], &given[7])) {
        return false;
    }
    out.impedances = given[0];
    std::optional<std::uint64_t> m;
    auto ok = [&](int i, auto convert) { return given[i] == nullptr || convert(given[i], keywords[i + 1]); };
    const bool converted =
        ok(1, [&](PyObject* o, const char* n) { return optional_u64_arg(o, n, m); }) &&
        ok(2, [&](PyObject* o, const char* n) { return text_arg(o, n, out.method); }) &&
        ok(3, [&](PyObject* o, const char* n) { return double_arg(o, n, options.mu_cutoff); }) &&
        ok(4, [&](PyObject* o, const char* n) { return text_arg(o, n, out.part); }) &&
        ok(5, [&](PyObject* o, const char* n) { return optional_bool_arg(o, n, options.capacitance); }) &&
        ok(6, [&](PyObject* o, const char* n) { return optional_bool_arg(o, n, options.inductance); }) &&
        ok(7, [&](PyObject* o, const char* n) { return text_arg(o, n, out.weight); });
    if (!converted) return false;
    if (m) options.m = static_cast<std::size_t>(*m);
    return true;
}

PyObject* kramers_kronig_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        KkArguments arguments;
        KkOptions options;
        if (!convert_arguments(args, kwargs, arguments, options)) return nullptr;
        Spectrum measured;
        if (!spectrum(arguments.frequencies, arguments.impedances, measured)) return nullptr;
        if (!parse_method(arguments.method, options.method)) return nullptr;
        if (!parse_part(arguments.part, options.part)) return nullptr;
        if (!parse_weighting(arguments.weight, options.modulus_weights)) return nullptr;
        auto interruptible_result =
            interruptible([&] { return kramers_kronig(measured.frequencies, measured.impedances, options); });
        if (!interruptible_result) return nullptr;
        auto& result = *interruptible_result;
        if (!result) {
            PyErr_SetString(PyExc_ValueError, result.error().message.c_str());
            return nullptr;
        }
        return make_kramers_kronig_result(std::move(*result));
    });
}

PyMethodDef validation_functions[] = {
    {"kramers_kronig", as_cfunction(kramers_kronig_function), METH_VARARGS | METH_KEYWORDS, KRAMERS_KRONIG_DOC},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_validation_functions(PyObject* module) { return PyModule_AddFunctions(module, validation_functions); }

}  // namespace vorlane::py
