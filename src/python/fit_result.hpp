// The FitResult class: an immutable record of one fit.
#pragma once

#include "fit/fit_outcome.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

// A new FitResult taking over `outcome` of a circuit with `constraints`
// (its fitted circuit keeps them); null with an exception set on failure
// (add_fit_result_type must have run).
PyObject* make_fit_result(FitOutcome outcome, const Constraints& constraints);

}  // namespace vorlane::py
