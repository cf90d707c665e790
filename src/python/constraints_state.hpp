// What pickle carries of a circuit's constraints, and the checks that let
// only constraints the circuit could have been given back in.
#pragma once

#include "circuit/constraints.hpp"
#include "circuit/tree.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

// A state dict's optional "constraints" entry: absent for a circuit without
// any (so that such a state reads as it did before circuits had them), else
// a dict with "fixed" (a tuple of one bool per parameter, or empty),
// "bounds" (a tuple of (lo, hi) or None per parameter, or empty) and
// "ordered_arcs" (a bool).

// Adds the entry to `state` unless `constraints` is empty; false with an
// exception set on failure.
bool add_constraints_state(PyObject* state, const Constraints& constraints);

// `state` without the entry, as `rest` (a copy when the entry was there),
// and the entry itself, borrowed from `state` (null when absent): the
// caller reads its own entries from `rest`.
bool split_constraints_state(PyObject* state, Ref& rest, PyObject*& entry);

// The constraints of `nodes` from the entry (none when it is null), checked
// as with_fixed and with_bounds check them; false with ValueError.
bool constraints_from_state(PyObject* entry, const SeriesList& nodes, Constraints& out);

}  // namespace vorlane::py
