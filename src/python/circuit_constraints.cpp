// Circuit.with_fixed, with_bounds, free_params and with_ordered_arcs: what a
// fit may vary, held by the circuit beside its tree.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "circuit/arc_order.hpp"
#include "circuit/layout.hpp"
#include "circuit/named_values.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/dict_entries.hpp"
#include "python/exception_guard.hpp"

namespace vorlane::py {

const char* const WITH_FIXED_DOC =
    "with_fixed($self, values)\n--\n\n"
    "A new circuit whose named parameters every fit holds at a value.\n"
    "`values` is a dict of names to values, or a list of names to hold at\n"
    "their current values. A fixed value must be finite and inside the\n"
    "parameter's bounds. Fits vary only `free_params()`; a fixed parameter\n"
    "is listed in `FitResult.params` at its value, and its entry in\n"
    "`FitResult.stderr` is None.";

const char* const WITH_BOUNDS_DOC =
    "with_bounds($self, bounds)\n--\n\n"
    "A new circuit with bounds of its own for the named parameters: a dict\n"
    "of names to `(lo, hi)`, or to None for the default bounds again. Own\n"
    "bounds lie inside the default (physical) ones, with lo < hi, and every\n"
    "fit method keeps the parameter inside them: in the solver space, in the\n"
    "search box of the global methods, in the starting point and in the\n"
    "result.";

const char* const FREE_PARAMS_DOC =
    "free_params($self)\n--\n\n"
    "Names of the parameters a fit varies, in `param_names()` order: every\n"
    "parameter that is not fixed.";

const char* const WITH_ORDERED_ARCS_DOC =
    "with_ordered_arcs($self, ordered=True)\n--\n\n"
    "A new circuit whose interchangeable arcs come out of every fit and\n"
    "guess ordered by time constant, fastest first, so that a label means\n"
    "the same process across a series of spectra. Interchangeable are\n"
    "series members of the same shape with a time constant:\n"
    "(R,C) tau = r*c, (R,CPE) tau = (r*q)^(1/alpha), (R,L) tau = l/r,\n"
    "K and Zarc tau_k, Wo and Ws tau, G and Gs tg (a pair written as\n"
    "(C,R) is a shape of its own). Members whose constraints differ keep\n"
    "their places. `ordered=False` drops the ordering.";

namespace {

constexpr const char* NO_ARCS_MESSAGE =
    "this circuit has no interchangeable arcs to order: ordering needs two or more series members of the same "
    "shape, (R,C), (R,CPE), (R,L), K, Zarc, Wo, Ws, G or Gs";

// The parameter indices named by `keys`, or null with the named-values
// error (unknown names, suggestions, the table of valid parameters) set.
bool indices_of(const SeriesList& nodes, const std::vector<std::string>& keys,
                std::vector<std::vector<std::size_t>>& out) {
    auto found = find_named_params(nodes, keys);
    if (!found) {
        raise_value_error(found.error());
        return false;
    }
    out = std::move(*found);
    return true;
}

bool text_item(PyObject* item, std::string& out) {
    if (!PyUnicode_Check(item)) {
        PyErr_Format(PyExc_TypeError, "expected str names, got '%s'", Py_TYPE(item)->tp_name);
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
    if (!utf8) return false;
    out.assign(utf8, static_cast<std::size_t>(size));
    return true;
}

// with_fixed's argument: a dict of names to values (`given` true), or a
// sequence of names held at the circuit's own values.
bool fixed_entries(PyObject* values, std::vector<std::pair<std::string, double>>& entries, bool& given) {
    given = PyDict_Check(values);
    if (given) return dict_entries<double>(values, "values", to_double, entries);
    if (!require_sequence(values)) return name_argument_error("values");
    return for_each_item(values, [&](PyObject* item) {
        std::string name;
        if (!text_item(item, name)) return name_argument_error("values");
        entries.emplace_back(std::move(name), 0.0);
        return true;
    });
}

// None, or a pair of numbers.
bool bound_value(PyObject* obj, std::optional<Bound>& out) {
    if (obj == Py_None) {
        out.reset();
        return true;
    }
    std::vector<double> pair;
    if (!to_float_vector(obj, pair)) return false;
    if (pair.size() != 2) {
        PyErr_Format(PyExc_TypeError, "expected (lo, hi) or None, got %zd numbers", static_cast<Py_ssize_t>(pair.size()));
        return false;
    }
    out = Bound{pair[0], pair[1]};
    return true;
}

bool explicit_of(PyObject* self) { return reinterpret_cast<CircuitObject*>(self)->explicit_values; }

}  // namespace

PyObject* circuit_with_fixed(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"values", nullptr};
    PyObject* values_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:with_fixed", const_cast<char**>(keywords), &values_arg)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::vector<std::pair<std::string, double>> entries;
        bool given = false;
        if (!fixed_entries(values_arg, entries, given)) return nullptr;
        const SeriesList& nodes = nodes_of(self);
        std::vector<std::string> keys;
        for (const auto& entry : entries) keys.push_back(entry.first);
        std::vector<std::vector<std::size_t>> found;
        if (!indices_of(nodes, keys, found)) return nullptr;
        std::vector<double> values = param_values(nodes);
        std::vector<std::size_t> indices;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            for (const std::size_t i : found[k]) {
                if (given) values[i] = entries[k].second;
                indices.push_back(i);
            }
        }
        std::vector<double> held;
        for (const std::size_t i : indices) held.push_back(values[i]);
        auto constraints = fix_params(nodes, constraints_of(self), indices, held);
        if (!constraints) return raise_value_error(constraints.error());
        return make_circuit(rebuild_with_values(nodes, values), explicit_of(self), *constraints);
    });
}

PyObject* circuit_with_bounds(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"bounds", nullptr};
    PyObject* bounds_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:with_bounds", const_cast<char**>(keywords), &bounds_arg)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        std::vector<std::pair<std::string, std::optional<Bound>>> entries;
        if (!dict_entries<std::optional<Bound>>(bounds_arg, "bounds", bound_value, entries)) return nullptr;
        const SeriesList& nodes = nodes_of(self);
        std::vector<std::string> keys;
        for (const auto& entry : entries) keys.push_back(entry.first);
        std::vector<std::vector<std::size_t>> found;
        if (!indices_of(nodes, keys, found)) return nullptr;
        std::vector<std::size_t> indices;
        std::vector<std::optional<Bound>> bounds;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            for (const std::size_t i : found[k]) {
                indices.push_back(i);
                bounds.push_back(entries[k].second);
            }
        }
        auto constraints = bound_params(nodes, constraints_of(self), indices, bounds);
        if (!constraints) return raise_value_error(constraints.error());
        return make_circuit(nodes, explicit_of(self), *constraints);
    });
}

PyObject* circuit_free_params(PyObject* self, PyObject*) {
    return guarded([&] {
        const std::vector<std::string> names = param_names(nodes_of(self));
        std::vector<std::string> free;
        for (const std::size_t i : free_indices(constraints_of(self), names.size())) free.push_back(names[i]);
        return string_list(free);
    });
}

PyObject* circuit_with_ordered_arcs(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"ordered", nullptr};
    int ordered = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|p:with_ordered_arcs", const_cast<char**>(keywords),
                                     &ordered)) {
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        const SeriesList& nodes = nodes_of(self);
        if (ordered && interchangeable_arcs(nodes).empty()) return raise_value_error(NO_ARCS_MESSAGE);
        Constraints constraints = constraints_of(self);
        constraints.ordered_arcs = ordered != 0;
        return make_circuit(nodes, explicit_of(self), constraints);
    });
}

}  // namespace vorlane::py
