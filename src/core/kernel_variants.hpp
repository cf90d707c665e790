// Numeric kernels (the network's layers, the sums and reciprocals of the
// block walk) are compiled for AVX-512, AVX2 and the baseline instruction
// set, and the variant the processor supports is chosen at load. Every
// variant performs the same operations per value, none contracted into a
// fused multiply-add, so the results do not depend on the processor.
//
// Only functions without an earlier declaration carry the attribute (the
// public kernels call them): clang, given a declaration without it first,
// compiles only the first variant, which faults on processors without
// AVX-512, and gcc cannot share the variants across files.
#pragma once

#define VORLANE_KERNEL_VARIANTS __attribute__((target_clones("avx512f", "avx2", "default")))
