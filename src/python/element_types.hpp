// The Element class family seen from C++: the instance layout and the
// checks the composition functions need.
#pragma once

#include "elements/element.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

struct ElementObject {
    PyObject_HEAD
    Element element;
};

// The Element base class, set at module initialisation.
extern PyTypeObject* element_type;

inline bool is_element(PyObject* obj) { return element_type && PyObject_TypeCheck(obj, element_type); }
inline const Element& element_of(PyObject* obj) { return reinterpret_cast<ElementObject*>(obj)->element; }

}  // namespace vorlane::py
