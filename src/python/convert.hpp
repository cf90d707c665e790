// Conversions between Python objects and plain C++ values.
// Every function returns false / null with a Python exception set on failure.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "python/py_ref.hpp"

namespace vorlane::py {

// Float conversion: a Python float directly, anything else through the
// interpreter's float conversion.
bool to_double(PyObject* obj, double& out);

// A sequence of numbers (list, tuple, numpy array, ...; a str is refused)
// into `out`. A str or a non-sequence raises TypeError
// "'{type}' object cannot be converted to 'Sequence'"; element conversion
// errors propagate unchanged. Contiguous float64 buffers take a fast path.
bool to_float_vector(PyObject* obj, std::vector<double>& out);

// As to_float_vector, but a failure is re-raised as a TypeError naming the
// argument: "argument 'values': <original message>".
bool to_float_vector_arg(PyObject* obj, const char* argname, std::vector<double>& out);

PyObject* float_list(std::span<const double> values);
PyObject* string_list(const std::vector<std::string>& items);

}  // namespace vorlane::py
