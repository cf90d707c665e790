// The network's activation function.
#pragma once

#include <span>

namespace vorlane {

// GELU in its tanh form, 0.5 x (1 + tanh(u)) with
// u = 0.7978845608028654 (x + 0.044715 x^3), in place. It is evaluated as
// x / (1 + exp(-2u)), the same function without the cancellation of
// 1 + tanh(u) for negative u, so it agrees with the tanh form to within its
// rounding; infinities and NaN give what the tanh form gives.
void gelu(std::span<double> x);

}  // namespace vorlane
