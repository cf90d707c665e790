// Conversions of single keyword arguments.
#include "python/argument_values.hpp"

#include <cstring>
#include <limits>

#include "python/convert.hpp"
#include "python/exception_state.hpp"

namespace vorlane::py {
namespace {

bool refuse_type(PyObject* obj, const char* argname, const char* expected) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got '%s'", argname, expected,
                 Py_TYPE(obj)->tp_name);
    return false;
}

bool is_numpy_bool(PyObject* obj) {
    const char* name = Py_TYPE(obj)->tp_name;
    return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}

// None -> unset; anything else through `convert` into the engaged value.
template <class T, class Convert>
bool optional_arg(PyObject* obj, const char* argname, std::optional<T>& out, Convert convert) {
    if (obj == Py_None) {
        out.reset();
        return true;
    }
    return convert(obj, argname, out.emplace());
}

}  // namespace

bool name_argument_error(const char* argname) {
    Ref exc = take_exception();
    Ref type = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())));
    Ref text(PyObject_Str(exc.get()));
    if (!text) return false;
    PyErr_Format(type.get(), "argument '%s': %U", argname, text.get());
    return false;
}

bool text_arg(PyObject* obj, const char* argname, std::string& out) {
    if (!PyUnicode_Check(obj)) return refuse_type(obj, argname, "str");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
    if (utf8 == nullptr) return name_argument_error(argname);
    out.assign(utf8, static_cast<std::size_t>(size));
    return true;
}

bool optional_text_arg(PyObject* obj, const char* argname, std::optional<std::string>& out) {
    return optional_arg(obj, argname, out, text_arg);
}

bool double_arg(PyObject* obj, const char* argname, double& out) {
    return to_double(obj, out) || name_argument_error(argname);
}

bool u64_arg(PyObject* obj, const char* argname, std::uint64_t& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) return name_argument_error(argname);
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return name_argument_error(argname);
    out = value;
    return true;
}

bool u32_arg(PyObject* obj, const char* argname, std::uint32_t& out) {
    std::uint64_t wide = 0;
    if (!u64_arg(obj, argname, wide)) return false;
    if (wide > std::numeric_limits<std::uint32_t>::max()) {
        PyErr_Format(PyExc_OverflowError, "argument '%s': int too big to convert to a 32-bit unsigned integer",
                     argname);
        return false;
    }
    out = static_cast<std::uint32_t>(wide);
    return true;
}

bool optional_u64_arg(PyObject* obj, const char* argname, std::optional<std::uint64_t>& out) {
    return optional_arg(obj, argname, out, u64_arg);
}

bool bool_arg(PyObject* obj, const char* argname, bool& out) {
    if (!PyBool_Check(obj) && !is_numpy_bool(obj)) return refuse_type(obj, argname, "bool");
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) return name_argument_error(argname);
    out = truth == 1;
    return true;
}

bool optional_bool_arg(PyObject* obj, const char* argname, std::optional<bool>& out) {
    if (obj != Py_None && !PyBool_Check(obj) && !is_numpy_bool(obj)) return refuse_type(obj, argname, "bool or None");
    return optional_arg(obj, argname, out, bool_arg);
}

}  // namespace vorlane::py
