// The Circuit class: construction from a circuit string or a model name,
// the parameter table, the parameter accessors and rebuilders, and the
// impedance over an array of frequencies.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "circuit/circuit_string.hpp"
#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/named_values.hpp"
#include "circuit/parser.hpp"
#include "core/number_format.hpp"
#include "models/registry.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/dict_entries.hpp"
#include "python/exception_guard.hpp"
#include "python/heap_types.hpp"
#include "python/interruptible.hpp"
#include "python/numpy_array.hpp"
#include "python/measurement_input.hpp"

namespace vorlane::py {

PyTypeObject* circuit_type = nullptr;

bool is_circuit(PyObject* obj) { return circuit_type && PyObject_TypeCheck(obj, circuit_type); }

PyObject* make_circuit(SeriesList nodes, bool explicit_values) {
    return make_circuit(std::move(nodes), explicit_values, Constraints{});
}

PyObject* make_circuit(SeriesList nodes, bool explicit_values, const Constraints& constraints) {
    return guarded([&]() -> PyObject* {
        auto owned = std::make_unique<SeriesList>(std::move(nodes));
        auto owned_constraints = constraints.empty() ? nullptr : std::make_unique<Constraints>(constraints);
        PyObject* self = circuit_type->tp_alloc(circuit_type, 0);
        if (!self) return nullptr;
        auto* circuit = reinterpret_cast<CircuitObject*>(self);
        circuit->nodes = owned.release();
        circuit->explicit_values = explicit_values;
        circuit->constraints = owned_constraints.release();
        return self;
    });
}

const Constraints& constraints_of(PyObject* circuit) {
    static const Constraints none;
    const Constraints* own = reinterpret_cast<CircuitObject*>(circuit)->constraints;
    return own ? *own : none;
}

namespace {

constexpr const char* CIRCUIT_DOC = "Circuit(s)\n--\n\n";

// Unicode White_Space; str.strip() would also take the separators
// U+001C..U+001F, which are not white space.
bool is_white_space(Py_UCS4 c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The trimmed text as a str; its UTF-8 form is cached inside it.
Ref trimmed(PyObject* text) {
    Py_ssize_t begin = 0;
    Py_ssize_t end = PyUnicode_GET_LENGTH(text);
    while (begin < end && is_white_space(PyUnicode_READ_CHAR(text, begin))) ++begin;
    while (end > begin && is_white_space(PyUnicode_READ_CHAR(text, end - 1))) --end;
    return Ref(PyUnicode_Substring(text, begin, end));
}

PyObject* circuit_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"s", nullptr};
    PyObject* s = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Circuit", const_cast<char**>(keywords), &s)) return nullptr;
    if (!PyUnicode_Check(s)) {
        PyErr_Format(PyExc_TypeError, "argument 's': expected str, got '%s'", Py_TYPE(s)->tp_name);
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        Ref text(trimmed(s));
        if (!text) return nullptr;
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
        if (!utf8) return nullptr;
        std::string_view source(utf8, static_cast<std::size_t>(size));
        if (const auto model_circuit = registry_circuit_for_name(source)) source = *model_circuit;
        auto parsed = parse(source);
        if (!parsed) return raise_value_error(parse_error_message(parsed.error(), source));
        return make_circuit(std::move(*parsed), false);
    });
}

void circuit_dealloc(PyObject* self) {
    delete reinterpret_cast<CircuitObject*>(self)->nodes;
    delete reinterpret_cast<CircuitObject*>(self)->constraints;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// What a fit may do with parameter i: "fixed", "own bounds (lo, hi)" or
// the default "bounds (lo, hi)".
std::string freedom_text(const Constraints& constraints, const std::vector<Bound>& bounds, std::size_t i) {
    if (constraints.is_fixed(i)) return "fixed";
    return (constraints.own_bound(i) ? "own bounds " : "bounds ") + range_text(bounds[i]);
}

PyObject* circuit_repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        const SeriesList& nodes = nodes_of(self);
        const Constraints& constraints = constraints_of(self);
        const std::vector<std::string> names = param_names(nodes);
        const std::vector<std::string> units = param_units(nodes);
        const auto bounds = effective_bounds(nodes, constraints);
        const std::vector<double> values = param_values(nodes);
        std::size_t name_width = 0;
        for (const std::string& name : names) name_width = std::max(name_width, name.size());

        std::string text = "Circuit (" + std::to_string(names.size()) + " parameter";
        if (names.size() != 1) text += 's';
        const std::size_t fixed = names.size() - free_indices(constraints, names.size()).size();
        if (fixed > 0) text += ", " + std::to_string(fixed) + " fixed";
        if (constraints.ordered_arcs) text += ", arcs ordered by time constant";
        text += ")\n";
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i > 0) text += '\n';
            text += "  " + padded(names[i], name_width) + " = " + padded(format_table_number(values[i]), 10) +
                    " [" + units[i] + "]  " + freedom_text(constraints, bounds, i);
        }
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

constexpr const char* PARAM_NAMES_DOC =
    "param_names($self)\n--\n\n"
    "Parameter names, in the same order `with_values()` consumes and\n"
    "`with_named_values()` expects as keys.";

PyObject* circuit_param_names(PyObject* self, PyObject*) {
    return guarded([&] { return string_list(param_names(nodes_of(self))); });
}

constexpr const char* PARAM_UNITS_DOC =
    "param_units($self)\n--\n\n"
    "Physical units per parameter";

PyObject* circuit_param_units(PyObject* self, PyObject*) {
    return guarded([&] { return string_list(param_units(nodes_of(self))); });
}

constexpr const char* PARAM_BOUNDS_DOC =
    "param_bounds($self)\n--\n\n"
    "Default physical-validity `(lo, hi)` bounds per parameter, in\n"
    "`param_names()` order. `hi` is `inf` for open-bound parameters.";

PyObject* circuit_param_bounds(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const auto bounds = param_bounds(nodes_of(self));
        Ref list(PyList_New(static_cast<Py_ssize_t>(bounds.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < bounds.size(); ++i) {
            PyObject* pair = Py_BuildValue("(dd)", bounds[i].first, bounds[i].second);
            if (!pair) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
        }
        return list.release();
    });
}

constexpr const char* PARAM_VALUES_DOC =
    "param_values($self)\n--\n\n"
    "Current parameter values, in `param_names()` order.";

PyObject* circuit_param_values(PyObject* self, PyObject*) {
    return guarded([&] { return float_list(param_values(nodes_of(self))); });
}

// The circuit with new values and its constraints; a fixed parameter is
// held at its new value, which must be one it can hold.
PyObject* rebuilt(PyObject* self, const std::vector<double>& values) {
    const Constraints& constraints = constraints_of(self);
    if (auto why = check_fixed_values(nodes_of(self), constraints, values)) return raise_value_error(*why);
    return make_circuit(rebuild_with_values(nodes_of(self), values), true, constraints);
}

constexpr const char* WITH_VALUES_DOC =
    "with_values($self, values)\n--\n\n"
    "Rebuild this circuit with a new flat parameter vector, assigned\n"
    "positionally in `param_names()` order.";

PyObject* circuit_with_values(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"values", nullptr};
    PyObject* values_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:with_values", const_cast<char**>(keywords), &values_arg)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::vector<double> values;
        if (!to_float_vector_arg(values_arg, "values", values)) return nullptr;
        const SeriesList& nodes = nodes_of(self);
        const std::size_t expected = param_count(nodes);
        if (values.size() != expected) {
            return raise_value_error("expected " + std::to_string(expected) + " values, got " +
                                     std::to_string(values.size()));
        }
        return rebuilt(self, values);
    });
}

constexpr const char* WITH_NAMED_VALUES_DOC =
    "with_named_values($self, values)\n--\n\n"
    "Rebuild this circuit with parameter values looked up by name (see\n"
    "`param_names()`). Every name must be present and no unknown names\n"
    "may be supplied.";

PyObject* circuit_with_named_values(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"values", nullptr};
    PyObject* dict = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:with_named_values", const_cast<char**>(keywords), &dict)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::vector<std::pair<std::string, double>> entries;
        if (!dict_entries<double>(dict, "values", to_double, entries)) return nullptr;
        const SeriesList& nodes = nodes_of(self);
        const auto values = assign_named_values(nodes, entries);
        if (!values) return raise_value_error(values.error());
        return rebuilt(self, *values);
    });
}

constexpr const char* IMPEDANCE_DOC = "impedance($self, frequencies)\n--\n\n";

// A numeric sequence, else the frequency column of a dataframe.
bool frequencies_of(PyObject* obj, std::vector<double>& out) {
    bool found_complex = false;
    if (to_real_vector(obj, "frequencies must be real numbers (hertz), not complex", out, &found_complex)) return true;
    if (found_complex || pending_error_must_propagate()) return false;
    PyErr_Clear();
    switch (column(obj, FREQUENCY_COLUMN, out)) {
        case ColumnLookup::Found:
            return true;
        case ColumnLookup::Failed:
            return false;
        case ColumnLookup::Missing:
            break;
    }
    raise_value_error("expected a sequence of frequencies, or a dataframe with a " + pair_text(FREQUENCY_COLUMN) +
                      " column");
    return false;
}

// The circuit's impedance at `frequencies` as a new complex array.
PyObject* impedance_array(PyObject* self, std::span<const double> frequencies) {
    const SeriesList& nodes = nodes_of(self);
    // Written straight into the array's memory, which nothing else can
    // reach before it is returned; an interrupted evaluation drops it.
    Complex* data = nullptr;
    Ref array(uninitialised_complex_array(frequencies.size(), data));
    if (!array) return nullptr;
    // A short evaluation (tens of microseconds for common circuits) keeps
    // the interpreter lock: releasing it and watching for signals would cost
    // a good part of its time.
    if (frequencies.size() < PARALLEL_SPECTRUM_THRESHOLD) {
        spectrum_impedance_into(nodes, frequencies, data);
        return array.release();
    }
    const std::optional<bool> done = interruptible([&] {
        spectrum_impedance_into(nodes, frequencies, data);
        return true;
    });
    return done ? array.release() : nullptr;
}

PyObject* circuit_impedance(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"frequencies", nullptr};
    PyObject* frequencies_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:impedance", const_cast<char**>(keywords),
                                     &frequencies_arg)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        // A float64 array is read in place, anything else copied first.
        PyObject* result = nullptr;
        auto evaluate = [&](std::span<const double> frequencies) { result = impedance_array(self, frequencies); };
        if (with_float64_buffer(frequencies_arg, evaluate)) return result;
        std::vector<double> frequencies;
        if (!frequencies_of(frequencies_arg, frequencies)) return nullptr;
        return impedance_array(self, frequencies);
    });
}

PyMethodDef circuit_methods[] = {
    {"param_names", as_cfunction(circuit_param_names), METH_NOARGS, PARAM_NAMES_DOC},
    {"param_units", as_cfunction(circuit_param_units), METH_NOARGS, PARAM_UNITS_DOC},
    {"param_bounds", as_cfunction(circuit_param_bounds), METH_NOARGS, PARAM_BOUNDS_DOC},
    {"param_values", as_cfunction(circuit_param_values), METH_NOARGS, PARAM_VALUES_DOC},
    {"with_values", as_cfunction(circuit_with_values), METH_VARARGS | METH_KEYWORDS, WITH_VALUES_DOC},
    {"with_named_values", as_cfunction(circuit_with_named_values), METH_VARARGS | METH_KEYWORDS,
     WITH_NAMED_VALUES_DOC},
    {"with_fixed", as_cfunction(circuit_with_fixed), METH_VARARGS | METH_KEYWORDS, WITH_FIXED_DOC},
    {"with_bounds", as_cfunction(circuit_with_bounds), METH_VARARGS | METH_KEYWORDS, WITH_BOUNDS_DOC},
    {"free_params", as_cfunction(circuit_free_params), METH_NOARGS, FREE_PARAMS_DOC},
    {"with_ordered_arcs", as_cfunction(circuit_with_ordered_arcs), METH_VARARGS | METH_KEYWORDS,
     WITH_ORDERED_ARCS_DOC},
    {"impedance", as_cfunction(circuit_impedance), METH_VARARGS | METH_KEYWORDS, IMPEDANCE_DOC},
    {"residuals", as_cfunction(circuit_residuals), METH_VARARGS | METH_KEYWORDS, RESIDUALS_DOC},
    {"jacobian", as_cfunction(circuit_jacobian), METH_VARARGS | METH_KEYWORDS, JACOBIAN_DOC},
    {"fit", as_cfunction(circuit_fit), METH_VARARGS | METH_KEYWORDS, FIT_DOC},
    {"fit_many", as_cfunction(circuit_fit_many), METH_VARARGS | METH_KEYWORDS, FIT_MANY_DOC},
    {"guess", as_cfunction(circuit_guess), METH_VARARGS | METH_KEYWORDS, GUESS_DOC},
    {"ml_circuits", as_cfunction(circuit_ml_circuits), METH_NOARGS | METH_STATIC, ML_CIRCUITS_DOC},
    {"__reduce__", as_cfunction(circuit_reduce), METH_NOARGS, CIRCUIT_REDUCE_DOC},
    {"__copy__", as_cfunction(same_object), METH_NOARGS, COPY_DOC},
    {"__deepcopy__", as_cfunction(same_object), METH_O, DEEPCOPY_DOC},
    {"_from_state", as_cfunction(circuit_from_state), METH_O | METH_CLASS, CIRCUIT_FROM_STATE_DOC},
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char* CIRCUIT_STRING_DOC =
    "This circuit in the circuit-string grammar, each element under its label:\n"
    "`Circuit(\"randles\").circuit_string` is \"R0-(R1-W1,CPE1)\".";

PyObject* circuit_circuit_string(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const std::string text = circuit_string(nodes_of(self));
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyGetSetDef circuit_getters[] = {
    {"circuit_string", circuit_circuit_string, nullptr, CIRCUIT_STRING_DOC, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot circuit_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(circuit_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(circuit_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(circuit_repr)},
    {Py_tp_methods, circuit_methods},
    {Py_tp_getset, circuit_getters},
    {Py_tp_doc, const_cast<char*>(CIRCUIT_DOC)},
    {0, nullptr},
};

PyType_Spec circuit_spec = {"vorlane.Circuit", static_cast<int>(sizeof(CircuitObject)), 0,
                            static_cast<unsigned int>(CLASS_FLAGS), circuit_slots};

}  // namespace

int add_circuit_type(PyObject* module) {
    Ref type(PyType_FromModuleAndSpec(module, &circuit_spec, nullptr));
    if (!type || PyObject_SetAttrString(module, "Circuit", type.get()) != 0) return -1;
    // Kept for the life of the process, like the module's other classes.
    circuit_type = reinterpret_cast<PyTypeObject*>(type.release());
    return 0;
}

}  // namespace vorlane::py
