// Four doubles operated on together, for the few loops that the compiler
// does not vectorise on its own. Each lane sees exactly the operations a
// plain double would, so results do not depend on the vector width.
//
// Lanes are only ever passed by reference: a vector passed by value would
// depend on the calling convention of the processor variant compiled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorlane {

using DoubleLanes = double __attribute__((vector_size(32)));
using BitLanes = std::uint64_t __attribute__((vector_size(32)));
inline constexpr std::size_t LANES = 4;

// Loads and stores of lanes, with overloads for a single double so that
// templates can run the same code on the last values of a row.
[[gnu::always_inline]] inline void load_lanes(const double* p, DoubleLanes& v) { std::memcpy(&v, p, sizeof v); }
[[gnu::always_inline]] inline void load_lanes(const double* p, double& v) { v = *p; }
[[gnu::always_inline]] inline void store_lanes(double* p, const DoubleLanes& v) { std::memcpy(p, &v, sizeof v); }
[[gnu::always_inline]] inline void store_lanes(double* p, const double& v) { *p = v; }

}  // namespace vorlane
