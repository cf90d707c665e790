// The FitResult class: an immutable record of one fit.
#include "python/circuit_object.hpp"

namespace vorlane::py {

int add_fit_result_type(PyObject*) { return 0; }

}  // namespace vorlane::py
