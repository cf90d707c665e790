// Weight files named by the caller, read once per path and kept for the
// life of the process.
#pragma once

#include <mutex>
#include <string>

#include "nn/guesser.hpp"

namespace vorlane {

// Files above this size are refused instead of read: no network this
// module can run needs more, and a device such as /dev/zero never ends.
inline constexpr std::size_t MAX_WEIGHT_FILE_BYTES = std::size_t{128} << 20;

// A cached guesser together with the cache lock: the caller matches the
// file's circuit while holding it and releases it before the network runs.
struct ExternalGuesser {
    std::unique_lock<std::mutex> lock;
    const Guesser* guesser = nullptr;
};

// The guesser loaded from `path` (exactly as given), reading the file only
// on the first successful load; failures leave the cache unchanged.
std::expected<ExternalGuesser, NnError> load_external(const std::string& path);

}  // namespace vorlane
