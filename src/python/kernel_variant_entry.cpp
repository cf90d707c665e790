// vorlane._core.kernel_variant: which instruction-set variant of the numeric
// kernels this process runs, for checking that results agree across them.
#include "core/kernel_variants.hpp"
#include "python/circuit_object.hpp"
#include "python/heap_types.hpp"

namespace vorlane::py {
namespace {

constexpr const char* KERNEL_VARIANT_DOC =
    "kernel_variant()\n--\n\n"
    "The instruction-set variant of vorlane's numeric kernels that this process\n"
    "runs: \"avx2\" or \"baseline\". It is \"avx2\" where the processor has\n"
    "AVX2, unless the environment variable VORLANE_KERNEL_VARIANT names\n"
    "another variant the processor supports; fixed when vorlane is imported.\n"
    "Every variant gives the same bits; the variable exists to check that.";

PyObject* kernel_variant_entry(PyObject*, PyObject*) {
    const std::string_view name = kernel_variant_name(active_kernel_variant());
    return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
}

PyMethodDef kernel_variant_functions[] = {
    {"kernel_variant", kernel_variant_entry, METH_NOARGS, KERNEL_VARIANT_DOC},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_kernel_variant_function(PyObject* module) { return PyModule_AddFunctions(module, kernel_variant_functions); }

}  // namespace vorlane::py
