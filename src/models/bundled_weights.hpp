// The weight files compiled into the library (generated at build time from
// models/*.eisnn).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vorlane {

// The bytes of models/<model_name>.eisnn, or an empty span when the build
// has no such file.
std::span<const std::uint8_t> bundled_weights(std::string_view model_name);

}  // namespace vorlane
