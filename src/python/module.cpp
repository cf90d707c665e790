// The module initialiser: registers the classes, the composition functions
// and the element aliases, in the order users see them in dir(vorlane).
#include "python/circuit_object.hpp"

namespace {

PyModuleDef vorlane_module = {
    PyModuleDef_HEAD_INIT,
    "vorlane",
    "",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_vorlane() {
    using namespace vorlane::py;
    vorlane::py::Ref module(PyModule_Create(&vorlane_module));
    if (!module) return nullptr;
    for (auto add : {add_element_types, add_circuit_type, add_fit_result_type, add_composition_functions,
                     add_element_aliases}) {
        if (add(module.get()) != 0) return nullptr;
    }
    return module.release();
}
