// Series and Parallel: circuits composed from element objects and existing
// circuits. Trees are copied as they are; nothing is relabelled or checked.
#include <optional>
#include <utility>
#include <vector>

#include "circuit/layout.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/element_types.hpp"
#include "python/exception_guard.hpp"
#include "python/heap_types.hpp"

namespace vorlane::py {
namespace {

constexpr const char* SERIES_DOC = "Series(parts)\n--\n\nConnect elements and circuits end to end.";
constexpr const char* PARALLEL_DOC = "Parallel(parts)\n--\n\nConnect elements and circuits as parallel branches.";

struct Parts {
    std::vector<SeriesList> lists;  // one per operand, in order
    bool explicit_values = true;    // false once a circuit operand still has placeholders
    // Each operand's constraints (none for an element) and parameter count:
    // the composed circuit keeps them for the parameters they belong to.
    std::vector<Constraints> constraints;
    std::vector<std::size_t> counts;
};

// An element operand is a single unlabeled leaf; a circuit operand brings
// its own top-level series list.
bool collect_parts(PyObject* args, PyObject* kwargs, const char* format, Parts& out) {
    static const char* keywords[] = {"parts", nullptr};
    PyObject* parts = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &parts)) return false;
    if (!require_sequence(parts)) return name_argument_error("parts");
    out.lists.reserve(capacity_hint(parts));
    return for_each_item(parts, [&](PyObject* item) {
        if (is_element(item)) {
            out.lists.push_back(SeriesList{Node{Leaf{element_of(item), std::nullopt}}});
            out.constraints.emplace_back();
            out.counts.push_back(param_count(out.lists.back()));
        } else if (is_circuit(item)) {
            out.lists.push_back(nodes_of(item));
            out.constraints.push_back(constraints_of(item));
            out.counts.push_back(param_count(out.lists.back()));
            out.explicit_values = out.explicit_values && reinterpret_cast<CircuitObject*>(item)->explicit_values;
        } else {
            PyErr_Format(PyExc_TypeError, "argument 'parts': expected Element or Circuit items, got '%s'",
                         Py_TYPE(item)->tp_name);
            return false;
        }
        return true;
    });
}

PyObject* series(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Parts parts;
        if (!collect_parts(args, kwargs, "O:Series", parts)) return nullptr;
        SeriesList nodes;
        for (SeriesList& list : parts.lists) {
            for (Node& node : list) nodes.push_back(std::move(node));
        }
        return make_circuit(std::move(nodes), parts.explicit_values, concatenate(parts.constraints, parts.counts));
    });
}

PyObject* parallel(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Parts parts;
        if (!collect_parts(args, kwargs, "O:Parallel", parts)) return nullptr;
        SeriesList nodes{Node{ParallelNode{std::move(parts.lists)}}};
        return make_circuit(std::move(nodes), parts.explicit_values, concatenate(parts.constraints, parts.counts));
    });
}

PyMethodDef composition_functions[] = {
    {"Series", as_cfunction(series), METH_VARARGS | METH_KEYWORDS,
     SERIES_DOC},
    {"Parallel", as_cfunction(parallel),
     METH_VARARGS | METH_KEYWORDS, PARALLEL_DOC},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_composition_functions(PyObject* module) { return PyModule_AddFunctions(module, composition_functions); }

}  // namespace vorlane::py
