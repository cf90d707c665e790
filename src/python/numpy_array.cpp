// Handing impedance and real vectors to Python as numpy arrays without
// copying them.
//
// The module is built without numpy's headers: the few entries of numpy's
// C API table that are used are called through their stable slot numbers,
// which numpy keeps fixed across its 1.x and 2.x releases.
#include "python/numpy_array.hpp"

#include <algorithm>
#include <memory>
#include <new>

namespace vorlane::py {
namespace {

static_assert(sizeof(Complex) == 2 * sizeof(double), "complex128 elements are two packed doubles");

constexpr int SLOT_ARRAY_TYPE = 2;
constexpr int SLOT_ARRAY_NEW = 93;
constexpr int SLOT_SET_BASE_OBJECT = 282;
constexpr int NPY_DOUBLE = 12;
constexpr int NPY_CDOUBLE = 15;
constexpr int NPY_ARRAY_C_CONTIGUOUS = 0x0001;
constexpr int NPY_ARRAY_ALIGNED = 0x0100;
constexpr int NPY_ARRAY_WRITEABLE = 0x0400;

using ArrayNewFn = PyObject* (*)(PyTypeObject* subtype, int nd, const Py_ssize_t* dims, int type_num,
                                 const Py_ssize_t* strides, void* data, int itemsize, int flags, PyObject* obj);
using SetBaseObjectFn = int (*)(PyObject* array, PyObject* base);

// The numpy type number and the owner capsule's name of each element type.
template <class T>
struct ElementType;
template <>
struct ElementType<double> {
    static constexpr int number = NPY_DOUBLE;
    static constexpr const char* capsule_name = "vorlane.float_buffer";
};
template <>
struct ElementType<Complex> {
    static constexpr int number = NPY_CDOUBLE;
    static constexpr const char* capsule_name = "vorlane.complex_buffer";
};

// Written once under the interpreter lock; numpy's table lives as long as
// the process.
void** array_api = nullptr;

Ref import_attr(const char* module_name, const char* attr) {
    Ref module(PyImport_ImportModule(module_name));
    if (!module) return Ref();
    return Ref(PyObject_GetAttrString(module.get(), attr));
}

// numpy 2 moved its core package to numpy._core and keeps numpy.core only
// as a deprecated alias, so the version decides where the capsule is read.
const char* multiarray_module_name() {
    Ref version(import_attr("numpy", "__version__"));
    if (!version) return nullptr;
    Ref numpy_version(import_attr("numpy.lib", "NumpyVersion"));
    if (!numpy_version) return nullptr;
    Ref parsed(PyObject_CallOneArg(numpy_version.get(), version.get()));
    if (!parsed) return nullptr;
    Ref major(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major) return nullptr;
    const long value = PyLong_AsLong(major.get());
    if (value == -1 && PyErr_Occurred()) return nullptr;
    return value >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
}

void** load_array_api() {
    const char* module_name = multiarray_module_name();
    if (!module_name) return nullptr;
    Ref capsule(import_attr(module_name, "_ARRAY_API"));
    if (!capsule) return nullptr;
    if (!PyCapsule_CheckExact(capsule.get())) {
        PyErr_SetString(PyExc_TypeError, "_ARRAY_API is not a capsule");
        return nullptr;
    }
    return static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
}

// The reason the table could not be reached stays attached as the cause.
void** numpy_array_api() {
    if (array_api) return array_api;
    array_api = load_array_api();
    if (array_api) return array_api;
    PyObject *type = nullptr, *cause = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &cause, &traceback);
    PyErr_NormalizeException(&type, &cause, &traceback);
    if (cause && traceback) PyException_SetTraceback(cause, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    Ref error(PyObject_CallFunction(PyExc_ImportError, "s", "Failed to access NumPy array API capsule"));
    if (!error) {
        Py_XDECREF(cause);
        return nullptr;
    }
    if (cause) PyException_SetCause(error.get(), cause);  // steals `cause`
    PyErr_SetObject(PyExc_ImportError, error.get());
    return nullptr;
}

template <class T>
void free_buffer(PyObject* capsule) {
    delete static_cast<std::vector<T>*>(PyCapsule_GetPointer(capsule, ElementType<T>::capsule_name));
}

// The array of `count` elements of type number at `data`, with `owner` (which
// frees data) as its base; the owner is released even on failure.
PyObject* array_with_owner(void** api, int number, void* data, std::size_t count, Ref owner) {
    const auto array_new = reinterpret_cast<ArrayNewFn>(api[SLOT_ARRAY_NEW]);
    const auto set_base_object = reinterpret_cast<SetBaseObjectFn>(api[SLOT_SET_BASE_OBJECT]);
    auto* array_type = static_cast<PyTypeObject*>(api[SLOT_ARRAY_TYPE]);
    const int flags = NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_WRITEABLE;
    const Py_ssize_t dims[1] = {static_cast<Py_ssize_t>(count)};
    Ref array(array_new(array_type, 1, dims, number, nullptr, data, 0, flags, nullptr));
    if (!array) return nullptr;
    // Steals the owner even when it fails.
    if (set_base_object(array.get(), owner.release()) != 0) return nullptr;
    return array.release();
}

template <class T>
PyObject* owned_array(std::vector<T>&& values) {
    void** api = numpy_array_api();
    if (!api) return nullptr;
    auto buffer = std::make_unique<std::vector<T>>(std::move(values));
    // numpy allocates memory of its own for a null data pointer; an empty
    // vector gets a real allocation so that every array has our owner.
    if (buffer->capacity() == 0) buffer->reserve(1);
    void* data = buffer->data();
    const std::size_t count = buffer->size();

    Ref owner(PyCapsule_New(buffer.get(), ElementType<T>::capsule_name, free_buffer<T>));
    if (!owner) return nullptr;
    buffer.release();
    return array_with_owner(api, ElementType<T>::number, data, count, std::move(owner));
}

constexpr const char* RAW_COMPLEX_CAPSULE = "vorlane.complex_memory";

void free_raw(PyObject* capsule) { ::operator delete(PyCapsule_GetPointer(capsule, RAW_COMPLEX_CAPSULE)); }

}  // namespace

PyObject* complex_array(std::vector<Complex>&& values) { return owned_array(std::move(values)); }

PyObject* uninitialised_complex_array(std::size_t n, Complex*& data) {
    void** api = numpy_array_api();
    if (!api) return nullptr;
    // Complex is an implicit-lifetime type: the allocation holds its
    // elements, to be written before they are read. At least one element,
    // so that even an empty array has our owner.
    void* memory = ::operator new(std::max<std::size_t>(n, 1) * sizeof(Complex));
    Ref owner(PyCapsule_New(memory, RAW_COMPLEX_CAPSULE, free_raw));
    if (!owner) {
        ::operator delete(memory);
        return nullptr;
    }
    data = static_cast<Complex*>(memory);
    return array_with_owner(api, NPY_CDOUBLE, memory, n, std::move(owner));
}

PyObject* float_array(std::vector<double>&& values) { return owned_array(std::move(values)); }

}  // namespace vorlane::py
