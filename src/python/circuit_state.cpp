// Pickling circuits: Circuit.__reduce__ hands pickle the class
// method Circuit._from_state and a state dict, so that entries can be added
// later without breaking what was pickled before.
#include "python/circuit_state.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "circuit/layout.hpp"
#include "core/quoting.hpp"
#include "python/circuit_object.hpp"
#include "python/constraints_state.hpp"
#include "python/convert.hpp"
#include "python/exception_guard.hpp"

namespace vorlane::py {
namespace {

constexpr std::string_view PARALLEL_TAG = "p";

PyObject* leaf_state(const Leaf& leaf) {
    const KindInfo& info = kind_info(leaf.element.kind);
    Ref values(PyTuple_New(static_cast<Py_ssize_t>(info.count)));
    if (!values) return nullptr;
    for (std::size_t i = 0; i < info.count; ++i) {
        PyObject* value = PyFloat_FromDouble(leaf.element.v[i]);
        if (!value) return nullptr;
        PyTuple_SET_ITEM(values.get(), static_cast<Py_ssize_t>(i), value);
    }
    Ref label = leaf.label ? Ref(PyUnicode_FromStringAndSize(leaf.label->data(),
                                                             static_cast<Py_ssize_t>(leaf.label->size())))
                           : Ref::borrow(Py_None);
    if (!label) return nullptr;
    return Py_BuildValue("(s#OO)", info.canonical.data(), static_cast<Py_ssize_t>(info.canonical.size()),
                         label.get(), values.get());
}

PyObject* series_state(const SeriesList& nodes);

PyObject* parallel_state(const ParallelNode& node) {
    Ref branches(PyTuple_New(static_cast<Py_ssize_t>(node.branches.size())));
    if (!branches) return nullptr;
    for (std::size_t i = 0; i < node.branches.size(); ++i) {
        PyObject* branch = series_state(node.branches[i]);
        if (!branch) return nullptr;
        PyTuple_SET_ITEM(branches.get(), static_cast<Py_ssize_t>(i), branch);
    }
    return Py_BuildValue("(s#O)", PARALLEL_TAG.data(), static_cast<Py_ssize_t>(PARALLEL_TAG.size()),
                         branches.get());
}

PyObject* series_state(const SeriesList& nodes) {
    Ref out(PyTuple_New(static_cast<Py_ssize_t>(nodes.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        PyObject* node = nodes[i].leaf() ? leaf_state(*nodes[i].leaf()) : parallel_state(*nodes[i].parallel());
        if (!node) return nullptr;
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), node);
    }
    return out.release();
}

bool invalid(const std::string& what) {
    raise_value_error("invalid circuit state: " + what);
    return false;
}

bool utf8_of(PyObject* text, std::string& out) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) return false;
    out.assign(utf8, static_cast<std::size_t>(size));
    return true;
}

bool series_from_state(PyObject* state, std::size_t depth, SeriesList& out);

bool leaf_from_state(PyObject* code, PyObject* label, PyObject* values, Node& out) {
    std::string code_text;
    if (!utf8_of(code, code_text)) return false;
    const KindInfo* info = nullptr;
    for (const KindInfo& candidate : catalogue()) {
        if (candidate.canonical == code_text) info = &candidate;
    }
    if (!info) return invalid("unknown element code " + quote(code_text));
    if (!PyTuple_Check(values) || static_cast<std::size_t>(PyTuple_GET_SIZE(values)) != info->count) {
        return invalid("element " + quote(code_text) + " needs a tuple of " + std::to_string(info->count) + " floats");
    }
    Leaf leaf{Element{static_cast<Kind>(info - catalogue().data()), {}}, std::nullopt};
    for (std::size_t i = 0; i < info->count; ++i) {
        PyObject* value = PyTuple_GET_ITEM(values, static_cast<Py_ssize_t>(i));
        if (!PyFloat_Check(value)) return invalid("element values must be floats");
        leaf.element.v[i] = PyFloat_AS_DOUBLE(value);
    }
    if (label != Py_None) {
        if (!PyUnicode_Check(label)) return invalid("a label must be a str or None");
        if (!utf8_of(label, leaf.label.emplace())) return false;
    }
    out.v = std::move(leaf);
    return true;
}

bool node_from_state(PyObject* state, std::size_t depth, Node& out) {
    const Py_ssize_t size = PyTuple_Check(state) ? PyTuple_GET_SIZE(state) : 0;
    PyObject* tag = size > 0 ? PyTuple_GET_ITEM(state, 0) : nullptr;
    if (!tag || !PyUnicode_Check(tag)) return invalid("a node must be a tuple starting with a str");
    if (size == 3) return leaf_from_state(tag, PyTuple_GET_ITEM(state, 1), PyTuple_GET_ITEM(state, 2), out);
    PyObject* branches = size == 2 ? PyTuple_GET_ITEM(state, 1) : nullptr;
    if (!branches || PyUnicode_CompareWithASCIIString(tag, "p") != 0 || !PyTuple_Check(branches)) {
        return invalid("a node must be (code, label, values) or (\"p\", branches)");
    }
    if (depth >= MAX_PARALLEL_DEPTH) {
        // Appended piece by piece: GCC 12 warns falsely (-Warray-bounds) on
        // the one-expression concatenation.
        std::string message = "parallel nodes nested deeper than ";
        message += std::to_string(MAX_PARALLEL_DEPTH);
        message += " levels";
        return invalid(message);
    }
    ParallelNode node;
    node.branches.resize(static_cast<std::size_t>(PyTuple_GET_SIZE(branches)));
    for (std::size_t i = 0; i < node.branches.size(); ++i) {
        if (!series_from_state(PyTuple_GET_ITEM(branches, static_cast<Py_ssize_t>(i)), depth + 1, node.branches[i])) {
            return false;
        }
    }
    out.v = std::move(node);
    return true;
}

bool series_from_state(PyObject* state, std::size_t depth, SeriesList& out) {
    if (!PyTuple_Check(state)) return invalid("a series must be a tuple of nodes");
    out.resize(static_cast<std::size_t>(PyTuple_GET_SIZE(state)));
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!node_from_state(PyTuple_GET_ITEM(state, static_cast<Py_ssize_t>(i)), depth, out[i])) return false;
    }
    return true;
}

constexpr const char* CIRCUIT_ENTRIES[] = {"nodes", "explicit_values"};

}  // namespace

const char* const CIRCUIT_REDUCE_DOC = "__reduce__($self)\n--\n\nPickling support.";
const char* const CIRCUIT_FROM_STATE_DOC =
    "_from_state($cls, state, /)\n--\n\nThe circuit that `__reduce__()` described.";

PyObject* tree_state(const SeriesList& nodes) {
    if (parallel_depth(nodes) > MAX_PARALLEL_DEPTH) {
        return raise_value_error("cannot pickle a circuit that nests parallel nodes deeper than " +
                                 std::to_string(MAX_PARALLEL_DEPTH) + " levels");
    }
    return series_state(nodes);
}

bool tree_from_state(PyObject* state, SeriesList& out) { return series_from_state(state, 0, out); }

PyObject* reduced(PyObject* self, Ref state) {
    if (!state) return nullptr;
    Ref restore(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_state"));
    return restore ? Py_BuildValue("(O(O))", restore.get(), state.get()) : nullptr;
}

bool state_entries(PyObject* state, const char* owner, std::span<const char* const> names,
                   std::span<PyObject*> out) {
    if (!PyDict_Check(state)) {
        PyErr_Format(PyExc_TypeError, "%s state must be a dict, got '%s'", owner, Py_TYPE(state)->tp_name);
        return false;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        out[i] = PyDict_GetItemString(state, names[i]);
        if (!out[i]) {
            PyErr_Format(PyExc_ValueError, "%s state has no \"%s\" entry", owner, names[i]);
            return false;
        }
    }
    if (static_cast<std::size_t>(PyDict_GET_SIZE(state)) == names.size()) return true;
    Ref unknown(PyList_New(0));
    if (!unknown) return false;
    PyObject *key = nullptr, *value = nullptr;
    for (Py_ssize_t pos = 0; PyDict_Next(state, &pos, &key, &value);) {
        const bool known = PyUnicode_Check(key) && std::ranges::any_of(names, [&](const char* name) {
            return PyUnicode_CompareWithASCIIString(key, name) == 0;
        });
        if (!known && PyList_Append(unknown.get(), key) != 0) return false;
    }
    PyErr_Format(PyExc_ValueError, "%s state has entries this version does not know: %R", owner, unknown.get());
    return false;
}

PyObject* circuit_reduce(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Ref nodes(tree_state(nodes_of(self)));
        if (!nodes) return nullptr;
        Ref state(Py_BuildValue("{sOsO}", CIRCUIT_ENTRIES[0], nodes.get(), CIRCUIT_ENTRIES[1],
                                reinterpret_cast<CircuitObject*>(self)->explicit_values ? Py_True : Py_False));
        if (!state || !add_constraints_state(state.get(), constraints_of(self))) return nullptr;
        return reduced(self, std::move(state));
    });
}

PyObject* circuit_from_state(PyObject*, PyObject* state) {
    return guarded([&]() -> PyObject* {
        PyObject* entries[std::size(CIRCUIT_ENTRIES)] = {};
        Ref rest;
        PyObject* constraints_entry = nullptr;
        if (!split_constraints_state(state, rest, constraints_entry)) return nullptr;
        if (!state_entries(rest.get(), "Circuit", CIRCUIT_ENTRIES, entries)) return nullptr;
        SeriesList nodes;
        if (!tree_from_state(entries[0], nodes)) return nullptr;
        if (!PyBool_Check(entries[1])) return raise_value_error("invalid circuit state: explicit_values must be a bool");
        Constraints constraints;
        if (!constraints_from_state(constraints_entry, nodes, constraints)) return nullptr;
        return make_circuit(std::move(nodes), entries[1] == Py_True, constraints);
    });
}

}  // namespace vorlane::py
