// An impedance from its modulus and phase angle in degrees, the form some
// instruments record, computed the same way wherever it is needed.
#pragma once

#include "core/complex.hpp"
#include "core/math.hpp"

namespace vorlane {

inline constexpr double DEGREES_TO_RADIANS = 0.017453292519943295;

inline Complex from_modulus_and_phase(double modulus, double degrees) {
    double sine, cosine;
    math::sincos(degrees * DEGREES_TO_RADIANS, sine, cosine);
    return {modulus * cosine, modulus * sine};
}

}  // namespace vorlane
