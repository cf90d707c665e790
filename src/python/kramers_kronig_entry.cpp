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
    "kramers_kronig(frequencies, impedances=None, *, m=None, mu_cutoff=0.85, part=\"complex\", "
    "capacitance=False, inductance=False, weight=\"modulus\")\n--\n\n"
    "Linear Kramers-Kronig test of a measured spectrum (Schoenleber et al.,\n"
    "Electrochim. Acta 131 (2014) 20).\n\n"
    "Fits an ohmic resistance and m RC elements, whose time constants are\n"
    "spread evenly in log(tau) from 1/(2 pi f_max) to 1/(2 pi f_min), by linear\n"
    "least squares; a spectrum that the chain reproduces to within its noise\n"
    "is linear, causal and stable. Takes the spectrum as `fit` does: two\n"
    "sequences, or one dataframe or dict with the battery data format\n"
    "columns (`impedances` left as None).\n\n"
    "`m` None chooses m by the mu criterion: m grows from 1 until\n"
    "mu = 1 - sum |negative R_k| / sum positive R_k falls below `mu_cutoff`\n"
    "at some m >= 2 (a single element cannot over-fit), at most one time\n"
    "constant per point and 100 in all. `part` fits \"complex\" (both parts), \"real\" or \"imaginary\".\n"
    "`capacitance` and `inductance` add a series C and L. `weight` is\n"
    "\"modulus\" (1/|Z|) or \"unit\".\n\n"
    "Returns a KramersKronigResult. Non-finite or non-positive frequencies,\n"
    "non-finite or zero impedances, too few points for m: ValueError.";

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
    std::string part = "complex";
    std::string weight = "modulus";
};

bool convert_arguments(PyObject* args, PyObject* kwargs, KkArguments& out, KkOptions& options) {
    static const char* keywords[] = {"frequencies", "impedances", "m", "mu_cutoff", "part", "capacitance",
                                     "inductance", "weight", nullptr};
    PyObject* given[7] = {};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O$OOOOOO:kramers_kronig", const_cast<char**>(keywords),
                                     &out.frequencies, &given[0], &given[1], &given[2], &given[3], &given[4],
                                     &given[5], &given[6])) {
        return false;
    }
    out.impedances = given[0];
    std::optional<std::uint64_t> m;
    auto ok = [&](int i, auto convert) { return given[i] == nullptr || convert(given[i], keywords[i + 1]); };
    const bool converted =
        ok(1, [&](PyObject* o, const char* n) { return optional_u64_arg(o, n, m); }) &&
        ok(2, [&](PyObject* o, const char* n) { return double_arg(o, n, options.mu_cutoff); }) &&
        ok(3, [&](PyObject* o, const char* n) { return text_arg(o, n, out.part); }) &&
        ok(4, [&](PyObject* o, const char* n) { return bool_arg(o, n, options.capacitance); }) &&
        ok(5, [&](PyObject* o, const char* n) { return bool_arg(o, n, options.inductance); }) &&
        ok(6, [&](PyObject* o, const char* n) { return text_arg(o, n, out.weight); });
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
