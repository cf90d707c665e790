// Which kernel variant runs: chosen once per process from the processor's
// features and VORLANE_KERNEL_VARIANT.
#include "core/kernel_variants.hpp"

#include <cstdlib>

namespace vorlane {
namespace {

constexpr KernelVariant WIDEST_FIRST[] = {KernelVariant::avx2, KernelVariant::baseline};

KernelVariant choose_variant() {
    if (const char* requested = std::getenv("VORLANE_KERNEL_VARIANT")) {
        for (KernelVariant variant : WIDEST_FIRST) {
            if (kernel_variant_name(variant) == requested && kernel_variant_supported(variant)) return variant;
        }
    }
    for (KernelVariant variant : WIDEST_FIRST) {
        if (kernel_variant_supported(variant)) return variant;
    }
    return KernelVariant::baseline;
}

}  // namespace

KernelVariant active_kernel_variant() {
    static const KernelVariant variant = choose_variant();
    return variant;
}

std::string_view kernel_variant_name(KernelVariant variant) {
    switch (variant) {
        case KernelVariant::avx2:
            return "avx2";
        case KernelVariant::baseline:
            break;
    }
    return "baseline";
}

bool kernel_variant_supported(KernelVariant variant) {
    __builtin_cpu_init();
    switch (variant) {
        case KernelVariant::avx2:
            return __builtin_cpu_supports("avx2");
        case KernelVariant::baseline:
            break;
    }
    return true;
}

}  // namespace vorlane
