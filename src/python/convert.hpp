// Conversions between Python objects and plain C++ values.
// Every function returns false / null with a Python exception set on failure.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python/py_ref.hpp"

namespace vorlane::py {

// Float conversion: a Python float directly, anything else through the
// interpreter's float conversion.
bool to_double(PyObject* obj, double& out);

// True for a sequence other than a str; otherwise raises TypeError
// "'{type}' object cannot be converted to 'Sequence'" and returns false.
bool require_sequence(PyObject* obj);

// The sequence's length as a capacity hint, capped so that a hostile
// __len__ cannot make the caller reserve unbounded memory up front.
std::size_t capacity_hint(PyObject* seq);

// Calls on_item(borrowed item) for every item of `seq` in iteration order,
// stopping at the first false. Keyboard interrupts are honoured on long or
// endless iterations.
template <class OnItem>
bool for_each_item(PyObject* seq, OnItem&& on_item);

// Calls read(format, data, count, itemsize) on a one-dimensional
// C-contiguous buffer of `obj`, its format stripped of a native byte-order
// prefix; false without an exception when `obj` offers no such buffer or
// `read` declines its format.
using BufferReader = std::function<bool(std::string_view, const void*, std::size_t, std::size_t)>;
bool read_native_buffer(PyObject* obj, const BufferReader& read);

// Calls use(values) on the values of a one-dimensional C-contiguous float64
// buffer of `obj` (a numpy array, array('d'), a memoryview) in place, while
// the buffer is held; false without an exception when `obj` offers none.
bool with_float64_buffer(PyObject* obj, const std::function<void(std::span<const double>)>& use);

// A sequence into `out`: `whole` may take it at once (a buffer fast path,
// returning false when it does not apply), otherwise item by item through
// convert(item, value). A str or a non-sequence is refused as by
// require_sequence.
template <class T, class Whole, class Convert>
bool sequence_to_vector(PyObject* obj, std::vector<T>& out, Whole&& whole, Convert&& convert);

// A sequence of numbers (list, tuple, numpy array, ...; a str is refused)
// into `out`. A str or a non-sequence raises TypeError
// "'{type}' object cannot be converted to 'Sequence'"; element conversion
// errors propagate unchanged. Contiguous float64 buffers take a fast path.
bool to_float_vector(PyObject* obj, std::vector<double>& out);

// As to_float_vector, but a failure is re-raised with the same exception
// type naming the argument: "argument 'values': <original message>".
bool to_float_vector_arg(PyObject* obj, const char* argname, std::vector<double>& out);

PyObject* float_list(std::span<const double> values);
PyObject* string_list(const std::vector<std::string>& items);

// Raises ValueError with the UTF-8 `message`, embedded NULs and all;
// returns null for the caller to pass on.
PyObject* raise_value_error(std::string_view message);

// Whether the pending error says nothing about the input being converted:
// an interrupt, an exit, exhausted memory, and whatever else is not an
// Exception. Such errors go on to the caller as raised.
bool pending_error_must_propagate();

template <class OnItem>
bool for_each_item(PyObject* seq, OnItem&& on_item) {
    constexpr std::size_t SIGNAL_CHECK_INTERVAL = std::size_t{1} << 16;
    Ref iterator(PyObject_GetIter(seq));
    if (!iterator) return false;
    std::size_t count = 0;
    while (Ref item{PyIter_Next(iterator.get())}) {
        if (!on_item(item.get())) return false;
        if (++count % SIGNAL_CHECK_INTERVAL == 0 && PyErr_CheckSignals() != 0) return false;
    }
    return !PyErr_Occurred();
}

template <class T, class Whole, class Convert>
bool sequence_to_vector(PyObject* obj, std::vector<T>& out, Whole&& whole, Convert&& convert) {
    if (!require_sequence(obj)) return false;
    out.clear();
    if (whole(obj, out)) return true;
    out.reserve(capacity_hint(obj));
    return for_each_item(obj, [&](PyObject* item) {
        T value;
        if (!convert(item, value)) return false;
        out.push_back(value);
        return true;
    });
}

}  // namespace vorlane::py
