// The KramersKronigResult class: an immutable record of one Kramers-Kronig
// test.
#pragma once

#include "python/py_ref.hpp"
#include "validation/kramers_kronig.hpp"

namespace vorlane::py {

// A new KramersKronigResult taking over `result`; null with an exception
// set on failure (add_kramers_kronig_result_type must have run).
PyObject* make_kramers_kronig_result(KkResult result);

}  // namespace vorlane::py
