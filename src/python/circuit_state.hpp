// What pickle carries of circuits and of the module's other objects:
// circuit trees as nested tuples of element codes, labels and values, and
// state dicts read back with every entry checked.
#pragma once

#include <cstddef>
#include <span>

#include "circuit/tree.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

// A series list as a tuple of nodes: a leaf as (code, label or None,
// (values...)), a parallel node as ("p", (branch, ...)) with every branch a
// series list. Null with an exception set on failure, ValueError for a tree
// nested deeper than any circuit can be read back.
PyObject* tree_state(const SeriesList& nodes);
// The tree back from tree_state's form; false with ValueError or TypeError.
bool tree_from_state(PyObject* state, SeriesList& out);

// What __reduce__ returns: (type(self)._from_state, (state,)); null when
// `state` is null or on failure, with an exception set.
PyObject* reduced(PyObject* self, Ref state);

// The entries `names` of a state dict of class `owner`, borrowed, in order;
// a missing or an unknown entry is a ValueError.
bool state_entries(PyObject* state, const char* owner, std::span<const char* const> names,
                   std::span<PyObject*> out);

}  // namespace vorlane::py
