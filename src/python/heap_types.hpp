// Small helpers shared by the module's classes, which are heap types made
// from specs and immutable like the built-in types, and its method tables.
#pragma once

#include <string>
#include <string_view>

#include "python/py_ref.hpp"

namespace vorlane::py {

#ifdef Py_TPFLAGS_IMMUTABLETYPE
inline constexpr unsigned long CLASS_FLAGS = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
inline constexpr unsigned long CLASS_FLAGS = Py_TPFLAGS_DEFAULT;
#endif

// Sets an attribute in the namespace of a class whose attributes Python code
// may not set; 0 on success, -1 with an exception set.
inline int set_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
    if (PyDict_SetItemString(type->tp_dict, name, value) != 0) return -1;
    PyType_Modified(type);
    return 0;
}

// The class name without its module: "Element_R" for "vorlane.Element_R".
inline std::string_view short_type_name(PyTypeObject* type) {
    const std::string_view full = type->tp_name;
    const auto dot = full.rfind('.');
    return dot == std::string_view::npos ? full : full.substr(dot + 1);
}

// Refuses instantiation of a class without constructor.
inline PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
    const std::string_view name = short_type_name(type);
    Ref message(PyUnicode_FromFormat("No constructor defined for %s", std::string(name).c_str()));
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
    return nullptr;
}

// __copy__ and __deepcopy__ of immutable objects, which are their own
// copies, as the built-in immutable types are.
inline PyObject* same_object(PyObject* self, PyObject*) {
    Py_INCREF(self);
    return self;
}
inline constexpr const char* COPY_DOC = "__copy__($self)\n--\n\nThe object itself: it is immutable.";
inline constexpr const char* DEEPCOPY_DOC = "__deepcopy__($self, memo, /)\n--\n\nThe object itself: it is immutable.";

// Method-table entry for any of the C calling conventions.
template <class Function>
PyCFunction as_cfunction(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace vorlane::py
