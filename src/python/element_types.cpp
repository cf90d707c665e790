// The Element base class and its fourteen variant classes, one per kind:
// constructors by position or keyword, read-only fields, pattern-matching
// support and the printed form.
#include "python/element_types.hpp"

#include <array>
#include <cstdint>
#include <string>

#include "core/number_format.hpp"
#include "python/argument_values.hpp"
#include "python/circuit_object.hpp"
#include "python/convert.hpp"
#include "python/exception_guard.hpp"
#include "python/heap_types.hpp"

namespace vorlane::py {

PyTypeObject* element_type = nullptr;

namespace {

constexpr const char* ELEMENT_DOC =
    "A single circuit element.\n\n"
    "These are Python subclasses taking its fields as arguments.\n"
    "They are combined with `Series()` and `Parallel()`.";

// Everything a variant class points at for the life of the process: type
// names, docstrings, keyword lists and attribute tables are referenced, not
// copied, by the interpreter.
struct VariantClass {
    Kind kind{};
    std::string qualified_name;  // "vorlane.Element_Cpe"
    std::string signature_doc;   // "Element_Cpe(q, alpha)\n--\n\n"
    std::string parse_format;    // "OO:Element_Cpe"
    std::array<std::string, MAX_ELEMENT_PARAMS> fields;
    std::array<char*, MAX_ELEMENT_PARAMS + 1> keywords{};
    std::array<PyGetSetDef, MAX_ELEMENT_PARAMS + 1> getset{};
    std::array<PyType_Slot, 4> slots{};
    PyType_Spec type_spec{};
    PyTypeObject* type = nullptr;
};

std::array<VariantClass, KIND_COUNT>* variant_classes = nullptr;

const VariantClass* variant_of(PyTypeObject* type) {
    for (const VariantClass& variant : *variant_classes) {
        if (variant.type == type) return &variant;
    }
    return nullptr;
}

PyObject* element_repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        const Element& element = element_of(self);
        const KindInfo& info = kind_info(element.kind);
        std::string text = "Element.";
        text.append(info.canonical);
        text += '(';
        for (std::size_t i = 0; i < info.count; ++i) {
            if (i > 0) text += ", ";
            text.append(info.names[i]);
            text += '=';
            text += format_debug_float(element.v[i]);
        }
        text += ')';
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* variant_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const VariantClass* variant = variant_of(type);
    if (!variant) {
        PyErr_SetString(PyExc_RuntimeError, "element variant class is not registered");
        return nullptr;
    }
    std::array<PyObject*, MAX_ELEMENT_PARAMS> given{};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, variant->parse_format.c_str(),
                                     const_cast<char**>(variant->keywords.data()), &given[0], &given[1],
                                     &given[2], &given[3])) {
        return nullptr;
    }
    Element element{variant->kind, {}};
    for (std::size_t i = 0; i < element.count(); ++i) {
        if (!to_double(given[i], element.v[i])) {
            name_argument_error(variant->fields[i].c_str());
            return nullptr;
        }
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (self) reinterpret_cast<ElementObject*>(self)->element = element;
    return self;
}

PyObject* get_field(PyObject* self, void* index) {
    return PyFloat_FromDouble(element_of(self).v[reinterpret_cast<std::uintptr_t>(index)]);
}

void describe_variant(VariantClass& variant, Kind kind) {
    const KindInfo& info = kind_info(kind);
    const std::string class_name = "Element_" + std::string(info.canonical);
    variant.kind = kind;
    variant.qualified_name = "vorlane." + class_name;
    variant.signature_doc = class_name + "(";
    variant.parse_format.assign(info.count, 'O');
    variant.parse_format += ":" + class_name;
    for (std::size_t i = 0; i < info.count; ++i) {
        variant.fields[i] = std::string(info.names[i]);
        variant.keywords[i] = variant.fields[i].data();
        variant.getset[i] = {variant.fields[i].c_str(), get_field, nullptr, nullptr,
                             reinterpret_cast<void*>(static_cast<std::uintptr_t>(i))};
        variant.signature_doc += (i > 0 ? ", " : "") + variant.fields[i];
    }
    variant.signature_doc += ")\n--\n\n";
    variant.slots = {{{Py_tp_new, reinterpret_cast<void*>(variant_new)},
                      {Py_tp_doc, variant.signature_doc.data()},
                      {Py_tp_getset, variant.getset.data()},
                      {0, nullptr}}};
    variant.type_spec = {variant.qualified_name.c_str(), static_cast<int>(sizeof(ElementObject)), 0,
                    static_cast<unsigned int>(CLASS_FLAGS), variant.slots.data()};
}

// Pickle rebuilds an element by calling its class with its values.
PyObject* element_reduce(PyObject* self, PyObject*) {
    const Element& element = element_of(self);
    Ref values(PyTuple_New(static_cast<Py_ssize_t>(element.count())));
    if (!values) return nullptr;
    for (std::size_t i = 0; i < element.count(); ++i) {
        PyObject* value = PyFloat_FromDouble(element.v[i]);
        if (!value) return nullptr;
        PyTuple_SET_ITEM(values.get(), static_cast<Py_ssize_t>(i), value);
    }
    return Py_BuildValue("(OO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), values.get());
}

PyMethodDef element_methods[] = {
    {"__reduce__", as_cfunction(element_reduce), METH_NOARGS, "__reduce__($self)\n--\n\nPickling support."},
    {"__copy__", as_cfunction(same_object), METH_NOARGS, COPY_DOC},
    {"__deepcopy__", as_cfunction(same_object), METH_O, DEEPCOPY_DOC},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot element_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_repr, reinterpret_cast<void*>(element_repr)},
    {Py_tp_methods, element_methods},
    {Py_tp_doc, const_cast<char*>(ELEMENT_DOC)},
    {0, nullptr},
};

PyType_Spec element_spec = {"vorlane.Element", static_cast<int>(sizeof(ElementObject)), 0,
                            static_cast<unsigned int>(CLASS_FLAGS | Py_TPFLAGS_BASETYPE), element_slots};

// The variant class, its __match_args__, and its place as Element.<name>.
int add_variant(PyObject* module, VariantClass& variant) {
    Ref type(PyType_FromModuleAndSpec(module, &variant.type_spec, reinterpret_cast<PyObject*>(element_type)));
    if (!type) return -1;
    const KindInfo& info = kind_info(variant.kind);
    Ref match_args(PyTuple_New(static_cast<Py_ssize_t>(info.count)));
    if (!match_args) return -1;
    for (std::size_t i = 0; i < info.count; ++i) {
        PyObject* field = PyUnicode_FromString(variant.fields[i].c_str());
        if (!field) return -1;
        PyTuple_SET_ITEM(match_args.get(), static_cast<Py_ssize_t>(i), field);
    }
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    if (set_class_attribute(type_object, "__match_args__", match_args.get()) != 0) return -1;
    const std::string canonical(info.canonical);
    // The class lives at Element.<canonical name>, which is where pickle
    // finds it; its __name__ keeps the Element_<name> form.
    Ref qualname(PyUnicode_FromString(("Element." + canonical).c_str()));
    if (!qualname) return -1;
    Py_SETREF(reinterpret_cast<PyHeapTypeObject*>(type_object)->ht_qualname, qualname.release());
    if (set_class_attribute(element_type, canonical.c_str(), type.get()) != 0) return -1;
    // The class now lives in Element's namespace, which keeps it alive.
    variant.type = type_object;
    return 0;
}

}  // namespace

int add_element_types(PyObject* module) {
    try {
        if (!variant_classes) {
            auto* described = new std::array<VariantClass, KIND_COUNT>();
            for (std::size_t k = 0; k < KIND_COUNT; ++k) describe_variant((*described)[k], static_cast<Kind>(k));
            variant_classes = described;
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    Ref base(PyType_FromModuleAndSpec(module, &element_spec, nullptr));
    if (!base || PyObject_SetAttrString(module, "Element", base.get()) != 0) return -1;
    element_type = reinterpret_cast<PyTypeObject*>(base.get());
    for (VariantClass& variant : *variant_classes) {
        if (add_variant(module, variant) != 0) {
            element_type = nullptr;
            return -1;
        }
    }
    // Kept for the life of the process, like the module's other classes.
    base.release();
    return 0;
}

int add_element_aliases(PyObject* module) {
    for (const KindInfo& info : catalogue()) {
        const std::string name(info.canonical);
        Ref variant(PyObject_GetAttrString(reinterpret_cast<PyObject*>(element_type), name.c_str()));
        if (!variant || PyObject_SetAttrString(module, name.c_str(), variant.get()) != 0) return -1;
    }
    return 0;
}

}  // namespace vorlane::py
