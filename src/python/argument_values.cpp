// Conversions of single keyword arguments.
#include "python/argument_values.hpp"

#include <cstring>
#include <limits>
#include <string>

#include "python/convert.hpp"
#include "python/exception_state.hpp"

namespace vorlane::py {
namespace {

// The decimal digits of an integer, or a phrase for one too long to show.
std::string shown_integer(PyObject* integer, const char* phrase) {
    constexpr Py_ssize_t MAX_DIGITS = 40;
    Ref text(PyObject_Str(integer));
    Py_ssize_t size = 0;
    const char* digits = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (digits == nullptr || size > MAX_DIGITS) {
        PyErr_Clear();
        return phrase;
    }
    return {digits, static_cast<std::size_t>(size)};
}

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

bool bounded_u64_arg(PyObject* obj, const char* argname, std::uint64_t low, std::uint64_t high, bool none_allowed,
                     std::uint64_t& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) return name_argument_error(argname);
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) return name_argument_error(argname);
    std::string got;
    if (overflow == 0 && value >= 0) {
        out = static_cast<std::uint64_t>(value);
    } else if (overflow > 0) {
        out = PyLong_AsUnsignedLongLong(index.get());
        if (out == std::numeric_limits<std::uint64_t>::max() && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return name_argument_error(argname);
            PyErr_Clear();
            got = shown_integer(index.get(), "an integer above that");
        }
    } else {
        got = overflow == 0 ? std::to_string(value) : shown_integer(index.get(), "an integer below that");
    }
    if (got.empty() && out >= low && out <= high) return true;
    if (got.empty()) got = std::to_string(out);
    PyErr_Format(PyExc_ValueError, "argument '%s': expected an integer from %llu to %llu%s, got %s", argname,
                 static_cast<unsigned long long>(low), static_cast<unsigned long long>(high),
                 none_allowed ? " or None" : "", got.c_str());
    return false;
}

bool u64_arg(PyObject* obj, const char* argname, std::uint64_t& out) {
    return bounded_u64_arg(obj, argname, 0, std::numeric_limits<std::uint64_t>::max(), false, out);
}

bool u32_arg(PyObject* obj, const char* argname, std::uint32_t& out) {
    std::uint64_t wide = 0;
    if (!bounded_u64_arg(obj, argname, 0, std::numeric_limits<std::uint32_t>::max(), false, wide)) return false;
    out = static_cast<std::uint32_t>(wide);
    return true;
}

bool optional_u64_arg(PyObject* obj, const char* argname, std::optional<std::uint64_t>& out) {
    if (obj == Py_None) {
        out.reset();
        return true;
    }
    return bounded_u64_arg(obj, argname, 0, std::numeric_limits<std::uint64_t>::max(), true, out.emplace());
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
