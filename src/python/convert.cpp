// Conversions between Python objects and plain C++ values.
#include "python/convert.hpp"

#include <algorithm>
#include <bit>

#include "python/argument_values.hpp"

namespace vorlane::py {
namespace {

constexpr Py_ssize_t MAX_RESERVE = Py_ssize_t{1} << 20;

// One-dimensional contiguous float64 buffers are copied in one go.
bool float64_buffer(PyObject* obj, std::vector<double>& out) {
    return with_float64_buffer(obj, [&](std::span<const double> values) { out.assign(values.begin(), values.end()); });
}

}  // namespace

bool with_float64_buffer(PyObject* obj, const std::function<void(std::span<const double>)>& use) {
    return read_native_buffer(obj, [&](std::string_view format, const void* data, std::size_t n, std::size_t size) {
        if (format != "d" || size != sizeof(double)) return false;
        use({static_cast<const double*>(data), n});
        return true;
    });
}

bool to_double(PyObject* obj, double& out) {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    out = PyFloat_AsDouble(obj);
    return !(out == -1.0 && PyErr_Occurred());
}

bool require_sequence(PyObject* obj) {
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'Sequence'", Py_TYPE(obj)->tp_name);
        return false;
    }
    return true;
}

std::size_t capacity_hint(PyObject* seq) {
    const Py_ssize_t size = PySequence_Size(seq);
    if (size < 0) PyErr_Clear();
    return static_cast<std::size_t>(std::clamp<Py_ssize_t>(size, 0, MAX_RESERVE));
}

bool read_native_buffer(PyObject* obj, const BufferReader& read) {
    if (!PyObject_CheckBuffer(obj)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) != 0) {
        PyErr_Clear();
        return false;
    }
    std::string_view format = view.format ? view.format : "B";
    // '<' is native only on little-endian hosts; '=' and '@' always are.
    const bool little_endian = std::endian::native == std::endian::little;
    if (!format.empty() && (format[0] == '@' || format[0] == '=' || (format[0] == '<' && little_endian))) {
        format.remove_prefix(1);
    }
    const auto itemsize = static_cast<std::size_t>(view.itemsize);
    const bool taken = view.ndim == 1 && itemsize > 0 &&
                       read(format, view.buf, static_cast<std::size_t>(view.len) / itemsize, itemsize);
    PyBuffer_Release(&view);
    return taken;
}

bool to_float_vector(PyObject* obj, std::vector<double>& out) {
    return sequence_to_vector(obj, out, float64_buffer, to_double);
}

bool to_float_vector_arg(PyObject* obj, const char* argname, std::vector<double>& out) {
    return to_float_vector(obj, out) || name_argument_error(argname);
}

PyObject* float_list(std::span<const double> values) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* string_list(const std::vector<std::string>& items) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = PyUnicode_FromStringAndSize(items[i].data(), static_cast<Py_ssize_t>(items[i].size()));
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

bool pending_error_must_propagate() {
    return PyErr_ExceptionMatches(PyExc_MemoryError) || !PyErr_ExceptionMatches(PyExc_Exception);
}

PyObject* raise_value_error(std::string_view message) {
    Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
    return nullptr;
}

}  // namespace vorlane::py
