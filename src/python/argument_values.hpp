// Conversions of single keyword arguments, each failure reported as an
// error of the named argument with the interpreter's exception type kept.
// Every function returns false with a Python exception set on failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "python/py_ref.hpp"

namespace vorlane::py {

// Re-raises the pending exception with "argument '<name>': " in front of
// its message and the same type; always returns false.
bool name_argument_error(const char* argname);

// A str as UTF-8 text; anything else (None included) is a TypeError.
bool text_arg(PyObject* obj, const char* argname, std::string& out);
bool optional_text_arg(PyObject* obj, const char* argname, std::optional<std::string>& out);

bool double_arg(PyObject* obj, const char* argname, double& out);

// An integer (anything with __index__) from `low` to `high`: another type is
// a TypeError, an integer outside the range (however large) a ValueError
// "argument '<name>': expected an integer from <low> to <high>[ or None],
// got <value>".
bool bounded_u64_arg(PyObject* obj, const char* argname, std::uint64_t low, std::uint64_t high, bool none_allowed,
                     std::uint64_t& out);
// The same over the whole range of the type; None -> unset for the optional one.
bool u32_arg(PyObject* obj, const char* argname, std::uint32_t& out);
bool u64_arg(PyObject* obj, const char* argname, std::uint64_t& out);
bool optional_u64_arg(PyObject* obj, const char* argname, std::optional<std::uint64_t>& out);

// Python and numpy booleans -> their value; anything else is a TypeError.
bool bool_arg(PyObject* obj, const char* argname, bool& out);

// None -> unset; Python and numpy booleans -> their value.
bool optional_bool_arg(PyObject* obj, const char* argname, std::optional<bool>& out);

}  // namespace vorlane::py
