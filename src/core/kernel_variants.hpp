// Numeric kernels (the network's layers, the sums and reciprocals of the
// block walk) are compiled for AVX2 and the baseline instruction set, and one
// variant runs for the whole process: AVX2 where the processor has it, or the
// one the environment variable VORLANE_KERNEL_VARIANT names ("avx2" or
// "baseline"), a diagnostic for comparing them. Every variant performs the
// same operations per value in the same order, none fused into a
// multiply-add, so the results do not depend on the variant.
//
// There is no AVX-512 variant: with AVX-512 enabled, GCC's vectoriser fuses
// a product and an alternating add and subtract (as in a complex product)
// into one multiply-add instruction even where contraction is off, which
// rounds once instead of twice. AVX2 without FMA has no such instruction.
// The network's loops work on four doubles at a time, and the circuit's
// are bound by division, so a wider variant would gain little.
//
// A kernel is an always-inline function; run_kernel<body>(args...) calls it
// through the variant's copy, into which the compiler inlines it for that
// instruction set.
#pragma once

#include <string_view>
#include <utility>

namespace vorlane {

enum class KernelVariant { baseline, avx2 };

// Fixed at the first call: the variant named by VORLANE_KERNEL_VARIANT when
// the processor supports it, else the widest supported.
KernelVariant active_kernel_variant();

std::string_view kernel_variant_name(KernelVariant variant);
bool kernel_variant_supported(KernelVariant variant);

namespace kernel_detail {

template <auto& body, class... Args>
__attribute__((target("avx2"))) decltype(auto) run_avx2(Args&&... args) {
    return body(std::forward<Args>(args)...);
}

template <auto& body, class... Args>
decltype(auto) run_baseline(Args&&... args) {
    return body(std::forward<Args>(args)...);
}

}  // namespace kernel_detail

template <auto& body, class... Args>
decltype(auto) run_kernel(Args&&... args) {
    switch (active_kernel_variant()) {
        case KernelVariant::avx2:
            return kernel_detail::run_avx2<body>(std::forward<Args>(args)...);
        case KernelVariant::baseline:
            break;
    }
    return kernel_detail::run_baseline<body>(std::forward<Args>(args)...);
}

}  // namespace vorlane

// Marks a kernel body: inlined into each variant's copy.
#define VORLANE_KERNEL [[gnu::always_inline]] inline
