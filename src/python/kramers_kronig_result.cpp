// The KramersKronigResult class: an immutable record of one Kramers-Kronig
// test. Array attributes hand out a fresh numpy copy on every access, so no
// caller can change what the record holds.
#include "python/kramers_kronig_result.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>
#include <utility>

#include "core/number_format.hpp"
#include "python/circuit_object.hpp"
#include "python/exception_guard.hpp"
#include "python/heap_types.hpp"
#include "python/numpy_array.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {
namespace {

const char* const RESULT_DOC =
    "The outcome of `kramers_kronig`: the verdict `valid`, with the `noise`\n"
    "estimate, the `systematic` part of the residuals and the `threshold` it\n"
    "was held to (per cent of |Z|), and the `outliers` left out of the fit\n"
    "and the verdict; the number `m` of RC elements and the\n"
    "mu value at that number, the fitted `impedance` at the measured\n"
    "frequencies, the residuals (measured minus fitted) relative to |Z| as\n"
    "`residuals_real` and `residuals_imag`, `pseudo_chi_square`, the sum of\n"
    "their squares, and `max_abs_residual`, the largest in magnitude. The\n"
    "fitted elements: `ohmic_resistance`,\n"
    "`time_constants` (s) with their `resistances` (ohm), and `capacitance`\n"
    "(F) and `inductance` (H) when the chain has them, else None.";

PyTypeObject* result_type = nullptr;

const KkResult& data_of(PyObject* self) { return record_of<KkResult>(self); }

double largest_residual(const KkResult& r) {
    double largest = 0.0;
    for (const auto* part : {&r.residuals_real, &r.residuals_imag}) {
        for (double x : *part) largest = std::max(largest, std::fabs(x));
    }
    return largest;
}

PyObject* repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        const KkResult& d = data_of(self);
        std::string text = std::string("KramersKronigResult(valid=") + (d.valid ? "True" : "False");
        text += ", noise=" + format_exp6(d.noise);
        text += ", systematic=" + format_exp6(d.systematic);
        text += ", threshold=" + format_exp6(d.threshold);
        text += ", outliers=" + std::to_string(std::count(d.outliers.begin(), d.outliers.end(), true));
        text += ", m=" + std::to_string(d.m);
        text += ", mu=" + format_debug_float(d.mu);
        text += ", pseudo_chi_square=" + format_exp6(d.pseudo_chi_square);
        text += ", max_abs_residual=" + format_exp6(largest_residual(d));
        text += ", points=" + std::to_string(d.impedance.size()) + ")";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* optional_float(const std::optional<double>& value) {
    if (value) return PyFloat_FromDouble(*value);
    Py_RETURN_NONE;
}

template <class T>
PyObject* copied(const std::vector<T>& values) {
    return guarded([&]() -> PyObject* {
        std::vector<T> copy = values;
        if constexpr (std::is_same_v<T, Complex>) {
            return complex_array(std::move(copy));
        } else {
            return float_array(std::move(copy));
        }
    });
}

PyObject* get_outliers(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const std::vector<bool>& mask = data_of(self).outliers;
        Ref numbers(float_array(std::vector<double>(mask.begin(), mask.end())));
        if (!numbers) return nullptr;
        return PyObject_CallMethod(numbers.get(), "astype", "s", "bool");
    });
}

PyObject* get_valid(PyObject* self, void*) { return PyBool_FromLong(data_of(self).valid); }
PyObject* get_noise(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).noise); }
PyObject* get_systematic(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).systematic); }
PyObject* get_threshold(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).threshold); }
PyObject* get_m(PyObject* self, void*) { return PyLong_FromSize_t(data_of(self).m); }
PyObject* get_mu(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).mu); }
PyObject* get_impedance(PyObject* self, void*) { return copied(data_of(self).impedance); }
PyObject* get_residuals_real(PyObject* self, void*) { return copied(data_of(self).residuals_real); }
PyObject* get_residuals_imag(PyObject* self, void*) { return copied(data_of(self).residuals_imag); }
PyObject* get_pseudo_chi_square(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).pseudo_chi_square); }
PyObject* get_max_abs_residual(PyObject* self, void*) { return PyFloat_FromDouble(largest_residual(data_of(self))); }
PyObject* get_ohmic_resistance(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).ohmic_resistance); }
PyObject* get_time_constants(PyObject* self, void*) { return copied(data_of(self).time_constants); }
PyObject* get_resistances(PyObject* self, void*) { return copied(data_of(self).resistances); }
PyObject* get_capacitance(PyObject* self, void*) { return optional_float(data_of(self).capacitance); }
PyObject* get_inductance(PyObject* self, void*) { return optional_float(data_of(self).inductance); }

PyGetSetDef getters[] = {
    {"valid", get_valid, nullptr,
     "Whether the spectrum, outliers left out, is linear, causal and stable within its noise.", nullptr},
    {"noise", get_noise, nullptr,
     "Standard deviation of the residuals of either part (per cent of |Z|), from the differences of neighbours "
     "along frequency.",
     nullptr},
    {"systematic", get_systematic, nullptr,
     "Root mean square of the part of the residuals that is smooth along frequency (per cent of |Z|).", nullptr},
    {"threshold", get_threshold, nullptr, "The largest `systematic` of a valid spectrum (per cent of |Z|).",
     nullptr},
    {"outliers", get_outliers, nullptr,
     "One bool per point: True for the points left out of the fit and the verdict (bool array).", nullptr},
    {"m", get_m, nullptr, "Number of RC elements.", nullptr},
    {"mu", get_mu, nullptr, "1 - sum |negative R_k| / sum positive R_k at this m.", nullptr},
    {"impedance", get_impedance, nullptr, "Fitted impedance at the measured frequencies (complex128).", nullptr},
    {"residuals_real", get_residuals_real, nullptr, "(Z - Z_fit).real / |Z| per point.", nullptr},
    {"residuals_imag", get_residuals_imag, nullptr, "(Z - Z_fit).imag / |Z| per point.", nullptr},
    {"pseudo_chi_square", get_pseudo_chi_square, nullptr, "Sum of the squared relative residuals.", nullptr},
    {"max_abs_residual", get_max_abs_residual, nullptr, "The largest relative residual of either part, in magnitude.",
     nullptr},
    {"ohmic_resistance", get_ohmic_resistance, nullptr, "Fitted series resistance R_0 (ohm).", nullptr},
    {"time_constants", get_time_constants, nullptr, "Fixed time constants tau_k (s), ascending.", nullptr},
    {"resistances", get_resistances, nullptr, "Fitted R_k (ohm), one per time constant.", nullptr},
    {"capacitance", get_capacitance, nullptr, "Fitted series capacitance (F) when the chain has one, else None.",
     nullptr},
    {"inductance", get_inductance, nullptr, "Fitted series inductance (H) when the chain has one, else None.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(RESULT_DOC)},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<KkResult>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_getset, getters},
    {0, nullptr},
};

PyType_Spec type_spec = {
    "vorlane.KramersKronigResult",
    sizeof(RecordObject<KkResult>),
    0,
    CLASS_FLAGS,
    slots,
};

}  // namespace

int add_kramers_kronig_result_type(PyObject* module) {
    return add_type(module, &type_spec, "KramersKronigResult", result_type);
}

PyObject* make_kramers_kronig_result(KkResult result) {
    return make_record(result_type, "KramersKronigResult", std::move(result));
}

}  // namespace vorlane::py
