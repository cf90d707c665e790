// Small helpers shared by the module's classes, which are heap types made
// from specs and immutable like the built-in types, and its method tables.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

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

// Creates the class from its `definition`, adds it to `module` under `name` and keeps
// a pointer in `slot` for making instances (the module keeps the class
// alive); 0 on success, -1 with an exception set.
inline int add_type(PyObject* module, PyType_Spec* definition, const char* name, PyTypeObject*& slot) {
    Ref type(PyType_FromSpec(definition));
    if (!type) return -1;
    Py_INCREF(type.get());
    if (PyModule_AddObject(module, name, type.get()) != 0) {
        Py_DECREF(type.get());
        return -1;
    }
    Py_XDECREF(reinterpret_cast<PyObject*>(slot));
    slot = reinterpret_cast<PyTypeObject*>(type.release());
    return 0;
}

// Instances of a read-only record class: the C++ record they own.
template <class T>
struct RecordObject {
    PyObject_HEAD
    T* data;  // owned
};

template <class T>
const T& record_of(PyObject* self) {
    return *reinterpret_cast<RecordObject<T>*>(self)->data;
}

template <class T>
void record_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<RecordObject<T>*>(self)->data;
    type->tp_free(self);
    Py_DECREF(type);
}

// A new instance of the record class `type` (null until add_type has run)
// taking over `value`; null with an exception set on failure.
template <class T>
PyObject* make_record(PyTypeObject* type, const char* class_name, T value) {
    if (type == nullptr) {
        PyErr_Format(PyExc_RuntimeError, "%s type is not registered", class_name);
        return nullptr;
    }
    auto data = std::make_unique<T>(std::move(value));
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<RecordObject<T>*>(self)->data = data.release();
    return self;
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
