// Pickled constraints: plain tuples of flags and bounds, read back through
// the same checks as with_fixed and with_bounds.
#include "python/constraints_state.hpp"

#include <optional>
#include <string>
#include <vector>

#include "circuit/layout.hpp"
#include "python/circuit_state.hpp"
#include "python/convert.hpp"

namespace vorlane::py {
namespace {

constexpr const char* CONSTRAINTS_ENTRY = "constraints";
constexpr const char* ENTRIES[] = {"fixed", "bounds", "ordered_arcs"};

bool invalid(const std::string& what) {
    raise_value_error("invalid circuit state: " + what);
    return false;
}

PyObject* fixed_state(const Constraints& c) {
    Ref out(PyTuple_New(static_cast<Py_ssize_t>(c.fixed.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < c.fixed.size(); ++i) {
        PyObject* flag = c.fixed[i] ? Py_True : Py_False;
        Py_INCREF(flag);
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), flag);
    }
    return out.release();
}

PyObject* bounds_state(const Constraints& c) {
    Ref out(PyTuple_New(static_cast<Py_ssize_t>(c.bounds.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < c.bounds.size(); ++i) {
        PyObject* item = nullptr;
        if (c.bounds[i]) {
            item = Py_BuildValue("(dd)", c.bounds[i]->first, c.bounds[i]->second);
        } else {
            Py_INCREF(Py_None);
            item = Py_None;
        }
        if (!item) return nullptr;
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item);
    }
    return out.release();
}

// A tuple of `count` items (or an empty one), each read by read(item, i).
template <class Read>
bool per_param(PyObject* tuple, std::size_t count, const char* what, Read&& read) {
    if (!PyTuple_Check(tuple)) return invalid(std::string(what) + " must be a tuple");
    const auto size = static_cast<std::size_t>(PyTuple_GET_SIZE(tuple));
    if (size != 0 && size != count) return invalid(std::string(what) + " must have one entry per parameter");
    for (std::size_t i = 0; i < size; ++i) {
        if (!read(PyTuple_GET_ITEM(tuple, static_cast<Py_ssize_t>(i)), i)) return false;
    }
    return true;
}

}  // namespace

bool add_constraints_state(PyObject* state, const Constraints& constraints) {
    if (constraints.empty()) return true;
    Ref fixed(fixed_state(constraints));
    Ref bounds(bounds_state(constraints));
    if (!fixed || !bounds) return false;
    Ref entry(Py_BuildValue("{sOsOsO}", ENTRIES[0], fixed.get(), ENTRIES[1], bounds.get(), ENTRIES[2],
                            constraints.ordered_arcs ? Py_True : Py_False));
    return entry && PyDict_SetItemString(state, CONSTRAINTS_ENTRY, entry.get()) == 0;
}

bool split_constraints_state(PyObject* state, Ref& rest, PyObject*& entry) {
    entry = nullptr;
    rest = Ref::borrow(state);
    if (!PyDict_Check(state)) return true;  // the caller's own check reports it
    entry = PyDict_GetItemString(state, CONSTRAINTS_ENTRY);
    if (!entry) return true;
    rest = Ref(PyDict_Copy(state));
    return rest && PyDict_DelItemString(rest.get(), CONSTRAINTS_ENTRY) == 0;
}

bool constraints_from_state(PyObject* state, const SeriesList& nodes, Constraints& out) {
    out = Constraints{};
    if (state == nullptr) return true;
    PyObject* entries[std::size(ENTRIES)] = {};
    if (!state_entries(state, "Circuit constraints", ENTRIES, entries)) return false;
    const std::size_t count = param_count(nodes);
    const std::vector<double> values = param_values(nodes);
    std::vector<std::size_t> fixed;
    std::vector<double> held;
    const bool fixed_ok = per_param(entries[0], count, "fixed", [&](PyObject* flag, std::size_t i) {
        if (!PyBool_Check(flag)) return invalid("fixed flags must be bools");
        if (flag == Py_True) {
            fixed.push_back(i);
            held.push_back(values[i]);
        }
        return true;
    });
    std::vector<std::size_t> bounded;
    std::vector<std::optional<Bound>> bounds;
    const bool bounds_ok = fixed_ok && per_param(entries[1], count, "bounds", [&](PyObject* item, std::size_t i) {
        if (item == Py_None) return true;
        if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2 || !PyFloat_Check(PyTuple_GET_ITEM(item, 0)) ||
            !PyFloat_Check(PyTuple_GET_ITEM(item, 1))) {
            return invalid("bounds must be (lo, hi) pairs of floats or None");
        }
        bounded.push_back(i);
        bounds.emplace_back(Bound{PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(item, 0)), PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(item, 1))});
        return true;
    });
    if (!bounds_ok) return false;
    if (!PyBool_Check(entries[2])) return invalid("ordered_arcs must be a bool");
    auto with_bounds = bound_params(nodes, Constraints{}, bounded, bounds);
    if (!with_bounds) return invalid(with_bounds.error());
    auto with_fixed = fix_params(nodes, std::move(*with_bounds), fixed, held);
    if (!with_fixed) return invalid(with_fixed.error());
    out = std::move(*with_fixed);
    out.ordered_arcs = entries[2] == Py_True;
    return true;
}

}  // namespace vorlane::py
