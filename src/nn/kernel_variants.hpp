// The network's numeric kernels are compiled for AVX-512, AVX2 and the
// baseline instruction set, and the variant the processor supports is chosen
// at load; every variant performs the same operations per value.
//
// A kernel declared in a header carries the attribute on its declaration as
// well as on its definition: clang, when a declaration without it comes
// first, compiles only the first variant, which faults on processors
// without AVX-512.
#pragma once

#define VORLANE_KERNEL_VARIANTS __attribute__((target_clones("avx512f", "avx2", "default")))
