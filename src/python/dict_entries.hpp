// The entries of a dict argument keyed by parameter names.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "python/argument_values.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

// (key, value) in the dict's iteration order, each value converted by
// convert(borrowed value, T&). The items are snapshotted first: a value's
// conversion could otherwise change the dict mid-walk. A non-dict, a key
// that is not a str, or a value that does not convert is an error of the
// argument `argname`; false with the exception set.
template <class T, class Convert>
bool dict_entries(PyObject* dict, const char* argname, Convert&& convert,
                  std::vector<std::pair<std::string, T>>& out) {
    if (!PyDict_Check(dict)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected dict, got '%s'", argname, Py_TYPE(dict)->tp_name);
        return false;
    }
    Ref items(PyDict_Items(dict));
    if (!items) return false;
    const Py_ssize_t count = PyList_GET_SIZE(items.get());
    out.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);
        PyObject* key = PyTuple_GET_ITEM(item, 0);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "argument '%s': expected str keys, got '%s'", argname,
                         Py_TYPE(key)->tp_name);
            return false;
        }
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
        if (!utf8) return false;
        T value{};
        if (!convert(PyTuple_GET_ITEM(item, 1), value)) return name_argument_error(argname);
        out.emplace_back(std::string(utf8, static_cast<std::size_t>(size)), std::move(value));
    }
    return true;
}

}  // namespace vorlane::py
