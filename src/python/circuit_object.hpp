// The Python Circuit object and the functions its methods are spread over.
#pragma once

#include "python/py_ref.hpp"
#include "circuit/constraints.hpp"
#include "circuit/tree.hpp"

namespace vorlane::py {

struct CircuitObject {
    PyObject_HEAD
    SeriesList* nodes;     // owned
    bool explicit_values;  // false while the values are the parser's placeholders
    Constraints* constraints;  // owned; null for a circuit without any
};

// The Circuit heap type of the module, set at module initialisation.
extern PyTypeObject* circuit_type;

bool is_circuit(PyObject* obj);
// A new Circuit instance owning `nodes`; null with an exception set on failure.
PyObject* make_circuit(SeriesList nodes, bool explicit_values);
// The same, holding `constraints` (none kept when they are empty).
PyObject* make_circuit(SeriesList nodes, bool explicit_values, const Constraints& constraints);
inline const SeriesList& nodes_of(PyObject* circuit) { return *reinterpret_cast<CircuitObject*>(circuit)->nodes; }
// The circuit's constraints; the empty record when it has none.
const Constraints& constraints_of(PyObject* circuit);

// Methods implemented next to the subjects they belong to.
PyObject* circuit_residuals(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_jacobian(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_fit(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_fit_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_guess(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_ml_circuits(PyObject* self, PyObject* unused);
PyObject* circuit_with_fixed(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_with_bounds(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_free_params(PyObject* self, PyObject* unused);
PyObject* circuit_with_ordered_arcs(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* circuit_reduce(PyObject* self, PyObject* unused);
PyObject* circuit_from_state(PyObject* cls, PyObject* state);
extern const char* const RESIDUALS_DOC;
extern const char* const JACOBIAN_DOC;
extern const char* const FIT_DOC;
extern const char* const FIT_MANY_DOC;
extern const char* const GUESS_DOC;
extern const char* const ML_CIRCUITS_DOC;
extern const char* const WITH_FIXED_DOC;
extern const char* const WITH_BOUNDS_DOC;
extern const char* const FREE_PARAMS_DOC;
extern const char* const WITH_ORDERED_ARCS_DOC;
extern const char* const CIRCUIT_REDUCE_DOC;
extern const char* const CIRCUIT_FROM_STATE_DOC;

// Type registration of the other modules' classes; 0 on success, -1 with an
// exception set.
int add_element_types(PyObject* module);     // Element and its fourteen variants
int add_circuit_type(PyObject* module);
int add_fit_result_type(PyObject* module);
int add_composition_functions(PyObject* module);  // Series, Parallel
int add_kramers_kronig_result_type(PyObject* module);
int add_validation_functions(PyObject* module);   // kramers_kronig
int add_element_aliases(PyObject* module);   // R, C, ..., T bound to Element.R, ...
int add_spectrum_function(PyObject* module);  // _spectrum, for the pure-Python helpers
int add_kernel_variant_function(PyObject* module);  // kernel_variant

}  // namespace vorlane::py
