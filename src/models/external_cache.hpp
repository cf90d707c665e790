// Weight files named by the caller, read once per path and kept for the
// life of the process once a caller has accepted them.
#pragma once

#include <expected>
#include <functional>
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

// Decides, under the cache lock, whether a loaded file suits the caller; an
// error text rejects it.
using WeightAcceptance = std::function<std::expected<void, std::string>(const Guesser&)>;

// The guesser loaded from `path` (exactly as given) and accepted by
// `accept`, reading the file until one load has been accepted. A file that
// fails to load or is rejected leaves the cache, and the memory it holds,
// as it was.
std::expected<ExternalGuesser, std::string> load_external(const std::string& path, const WeightAcceptance& accept);

}  // namespace vorlane
