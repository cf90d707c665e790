// The initialiser of the compiled core, vorlane._core: registers the classes,
// the composition functions and the element aliases, in the order users see
// them in dir(vorlane) (the package re-exports them under their own names).
#include "python/circuit_object.hpp"

namespace {

PyModuleDef vorlane_module = {
    PyModuleDef_HEAD_INIT,
    "vorlane._core",
    "",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__core() {
    using namespace vorlane::py;
    vorlane::py::Ref module(PyModule_Create(&vorlane_module));
    if (!module) return nullptr;
    for (auto add : {add_element_types, add_circuit_type, add_fit_result_type, add_composition_functions,
                     add_kramers_kronig_result_type, add_validation_functions, add_element_aliases,
                     add_spectrum_function, add_kernel_variant_function}) {
        if (add(module.get()) != 0) return nullptr;
    }
    return module.release();
}
