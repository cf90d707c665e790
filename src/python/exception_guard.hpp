// Keeps C++ exceptions from crossing into the interpreter: a method body
// that throws (allocation failure, a broken internal invariant) becomes a
// Python exception instead of terminating the process.
#pragma once

#include <exception>
#include <new>

#include "python/py_ref.hpp"

namespace vorlane::py {

template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        return nullptr;
    }
}

}  // namespace vorlane::py
