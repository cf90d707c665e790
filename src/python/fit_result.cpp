// The FitResult class: an immutable record of one fit.
#include "python/fit_result.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/number_format.hpp"
#include "core/quoting.hpp"
#include "circuit/layout.hpp"
#include "python/circuit_object.hpp"
#include "python/constraints_state.hpp"
#include "python/circuit_state.hpp"
#include "python/exception_guard.hpp"
#include "python/heap_types.hpp"

namespace vorlane::py {
namespace {

// Name -> value in parameter order, one entry per distinct name; a name
// that occurs twice keeps its first position and the later value, as a
// dict filled in parameter order would.
using NamedValues = std::vector<std::pair<std::string, double>>;

NamedValues pair_up(const std::vector<std::string>& names, const std::vector<double>& values) {
    NamedValues out;
    const std::size_t n = std::min(names.size(), values.size());
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto same = std::find_if(out.begin(), out.end(), [&](const auto& e) { return e.first == names[i]; });
        if (same != out.end()) {
            same->second = values[i];
        } else {
            out.emplace_back(names[i], values[i]);
        }
    }
    return out;
}

struct FitResultData {
    SeriesList circuit;
    Constraints constraints;  // of the fitted circuit
    NamedValues params;
    std::optional<NamedValues> stderr_;
    std::vector<std::string> fixed;  // names whose standard error is None
    bool success;
    std::uint64_t iterations;
    std::uint64_t impedance_evals;
    double cost;
    double chi_square;
};

PyTypeObject* fit_result_type = nullptr;

const FitResultData& data_of(PyObject* self) { return record_of<FitResultData>(self); }

// A dict of the values; the names in `none` map to None.
PyObject* dict_of(const NamedValues& values, const std::vector<std::string>& none = {}) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [name, value] : values) {
        Ref key(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        const bool is_none = std::find(none.begin(), none.end(), name) != none.end();
        if (is_none) Py_INCREF(Py_None);
        Ref number(is_none ? Py_None : PyFloat_FromDouble(value));
        if (!key || !number || PyDict_SetItem(dict.get(), key.get(), number.get()) != 0) return nullptr;
    }
    return dict.release();
}

PyObject* repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        const FitResultData& d = data_of(self);
        std::string text = "FitResult(success=";
        text += d.success ? "true" : "false";
        text += ", iterations=" + std::to_string(d.iterations);
        text += ", impedance_evals=" + std::to_string(d.impedance_evals);
        text += ", chi_square=" + format_exp6(d.chi_square);
        text += ", params={";
        for (std::size_t i = 0; i < d.params.size(); ++i) {
            if (i > 0) text += ", ";
            text += quote(d.params[i].first) + ": " + format_debug_float(d.params[i].second);
        }
        text += "})";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* get_circuit(PyObject* self, void*) {
    return guarded([&] { return make_circuit(data_of(self).circuit, true, data_of(self).constraints); });
}
PyObject* get_params(PyObject* self, void*) { return dict_of(data_of(self).params); }
PyObject* get_stderr(PyObject* self, void*) {
    const auto& errors = data_of(self).stderr_;
    if (errors) return dict_of(*errors, data_of(self).fixed);
    Py_RETURN_NONE;
}
PyObject* get_success(PyObject* self, void*) { return PyBool_FromLong(data_of(self).success); }
PyObject* get_iterations(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(data_of(self).iterations); }
PyObject* get_impedance_evals(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(data_of(self).impedance_evals);
}
PyObject* get_cost(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).cost); }
PyObject* get_chi_square(PyObject* self, void*) { return PyFloat_FromDouble(data_of(self).chi_square); }

// Pickle: FitResult._from_state and a dict of every field.
constexpr const char* STATE_ENTRIES[] = {"circuit", "params", "stderr", "success",
                                         "iterations", "impedance_evals", "cost", "chi_square"};

// Names of the parameters `constraints` fix: their standard error is None.
std::vector<std::string> fixed_names(const std::vector<std::string>& names, const Constraints& constraints) {
    std::vector<std::string> fixed;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (constraints.is_fixed(i)) fixed.push_back(names[i]);
    }
    return fixed;
}

PyObject* pairs_state(const NamedValues& values) {
    Ref out(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* pair = Py_BuildValue("(s#d)", values[i].first.data(),
                                       static_cast<Py_ssize_t>(values[i].first.size()), values[i].second);
        if (!pair) return nullptr;
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), pair);
    }
    return out.release();
}

bool invalid_state(const char* what) {
    PyErr_Format(PyExc_ValueError, "invalid FitResult state: %s", what);
    return false;
}

bool pairs_from_state(PyObject* state, NamedValues& out) {
    if (!PyTuple_Check(state)) return invalid_state("params and stderr must be tuples of (name, value) pairs");
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(state); ++i) {
        PyObject* pair = PyTuple_GET_ITEM(state, i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(pair, 0)) ||
            !PyFloat_Check(PyTuple_GET_ITEM(pair, 1))) {
            return invalid_state("params and stderr must be tuples of (name, value) pairs");
        }
        Py_ssize_t size = 0;
        const char* name = PyUnicode_AsUTF8AndSize(PyTuple_GET_ITEM(pair, 0), &size);
        if (!name) return false;
        out.emplace_back(std::string(name, static_cast<std::size_t>(size)), PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(pair, 1)));
    }
    return true;
}

bool count_from_state(PyObject* state, std::uint64_t& out) {
    if (!PyLong_Check(state)) return invalid_state("iterations and impedance_evals must be ints");
    out = PyLong_AsUnsignedLongLong(state);
    return !PyErr_Occurred();
}

PyObject* reduce(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const FitResultData& d = data_of(self);
        Ref circuit(tree_state(d.circuit));
        Ref params(pairs_state(d.params));
        Ref errors = d.stderr_ ? Ref(pairs_state(*d.stderr_)) : Ref::borrow(Py_None);
        if (!circuit || !params || !errors) return nullptr;
        Ref state(Py_BuildValue("{sOsOsOsOsKsKsdsd}", STATE_ENTRIES[0], circuit.get(), STATE_ENTRIES[1], params.get(),
                                STATE_ENTRIES[2], errors.get(), STATE_ENTRIES[3], d.success ? Py_True : Py_False,
                                STATE_ENTRIES[4], static_cast<unsigned long long>(d.iterations), STATE_ENTRIES[5],
                                static_cast<unsigned long long>(d.impedance_evals), STATE_ENTRIES[6], d.cost,
                                STATE_ENTRIES[7], d.chi_square));
        if (!state || !add_constraints_state(state.get(), d.constraints)) return nullptr;
        return reduced(self, std::move(state));
    });
}

PyObject* from_state(PyObject*, PyObject* state) {
    return guarded([&]() -> PyObject* {
        PyObject* e[std::size(STATE_ENTRIES)] = {};
        Ref rest;
        PyObject* constraints_entry = nullptr;
        if (!split_constraints_state(state, rest, constraints_entry)) return nullptr;
        if (!state_entries(rest.get(), "FitResult", STATE_ENTRIES, e)) return nullptr;
        FitResultData d{};
        if (!tree_from_state(e[0], d.circuit) || !pairs_from_state(e[1], d.params)) return nullptr;
        if (!constraints_from_state(constraints_entry, d.circuit, d.constraints)) return nullptr;
        d.fixed = fixed_names(param_names(d.circuit), d.constraints);
        if (e[2] != Py_None && !pairs_from_state(e[2], d.stderr_.emplace())) return nullptr;
        if (!PyBool_Check(e[3])) {
            invalid_state("success must be a bool");
            return nullptr;
        }
        d.success = e[3] == Py_True;
        if (!count_from_state(e[4], d.iterations) || !count_from_state(e[5], d.impedance_evals)) return nullptr;
        if (!PyFloat_Check(e[6]) || !PyFloat_Check(e[7])) {
            invalid_state("cost and chi_square must be floats");
            return nullptr;
        }
        d.cost = PyFloat_AS_DOUBLE(e[6]);
        d.chi_square = PyFloat_AS_DOUBLE(e[7]);
        return make_record(fit_result_type, "FitResult", std::move(d));
    });
}

PyMethodDef methods[] = {
    {"__reduce__", as_cfunction(reduce), METH_NOARGS, "__reduce__($self)\n--\n\nPickling support."},
    {"__copy__", as_cfunction(same_object), METH_NOARGS, COPY_DOC},
    {"__deepcopy__", as_cfunction(same_object), METH_O, DEEPCOPY_DOC},
    {"_from_state", as_cfunction(from_state), METH_O | METH_CLASS,
     "_from_state($cls, state, /)\n--\n\nThe result that `__reduce__()` described."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getters[] = {
    {"circuit", get_circuit, nullptr, nullptr, nullptr},
    {"params", get_params, nullptr, nullptr, nullptr},
    {"stderr", get_stderr, nullptr, nullptr, nullptr},
    {"success", get_success, nullptr, nullptr, nullptr},
    {"iterations", get_iterations, nullptr, nullptr, nullptr},
    {"impedance_evals", get_impedance_evals, nullptr, nullptr, nullptr},
    {"cost", get_cost, nullptr, nullptr, nullptr},
    {"chi_square", get_chi_square, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<FitResultData>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_getset, getters},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_spec = {
    "vorlane.FitResult",
    sizeof(RecordObject<FitResultData>),
    0,
    CLASS_FLAGS,
    slots,
};

}  // namespace

int add_fit_result_type(PyObject* module) {
    return add_type(module, &type_spec, "FitResult", fit_result_type);
}

PyObject* make_fit_result(FitOutcome outcome, const Constraints& constraints) {
    FitResultData data{
        std::move(outcome.circuit),
        constraints,
        pair_up(outcome.names, outcome.params),
        outcome.stderr_ ? std::optional(pair_up(outcome.names, *outcome.stderr_)) : std::nullopt,
        fixed_names(outcome.names, constraints),
        outcome.success,
        outcome.iterations,
        outcome.impedance_evals,
        outcome.cost,
        outcome.chi_square,
    };
    return make_record(fit_result_type, "FitResult", std::move(data));
}

}  // namespace vorlane::py
