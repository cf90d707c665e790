// Handing impedance and real vectors to Python as numpy arrays without
// copying them.
#pragma once

#include <cstddef>
#include <vector>

#include "core/complex.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

// A one-dimensional, writeable complex128 array over the memory of
// `values`, which the array's base object takes over and frees with it.
// numpy is imported on the first call, never at module import; null with
// an exception set on failure.
PyObject* complex_array(std::vector<Complex>&& values);

// The same for a float64 array.
PyObject* float_array(std::vector<double>&& values);

// A complex128 array like complex_array's over new memory for `n` values
// that is left unwritten: `data` receives it, and the caller fills it (the
// interpreter lock may be released meanwhile, as long as the array is not
// handed out before).
PyObject* uninitialised_complex_array(std::size_t n, Complex*& data);

}  // namespace vorlane::py
