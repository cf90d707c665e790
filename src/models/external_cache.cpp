// The process-wide cache of weight files loaded from disk.
#include "models/external_cache.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <system_error>

namespace vorlane {
namespace {

struct ExternalCache {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<const Guesser>> guessers;
};

// Never destroyed, so guessers stay valid until the process ends.
ExternalCache& cache() {
    static auto* const instance = new ExternalCache();
    return *instance;
}

NnError io_error(int code) { return NnError{NnError::Kind::Io, std::generic_category().message(code)}; }

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

std::expected<std::vector<std::uint8_t>, NnError> read_file(const std::string& path) {
    // The operating system would silently stop at an embedded NUL and open
    // another file than the one named.
    if (path.find('\0') != std::string::npos) return std::unexpected(io_error(EINVAL));
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return std::unexpected(io_error(errno));
    struct stat info {};
    std::vector<std::uint8_t> bytes;
    if (::fstat(file.get(), &info) == 0 && info.st_size > 0) {
        if (static_cast<std::uint64_t>(info.st_size) > MAX_WEIGHT_FILE_BYTES) return std::unexpected(io_error(EFBIG));
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    }
    std::uint8_t buffer[1 << 16];
    while (true) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(io_error(errno));
        }
        if (got == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(got) > MAX_WEIGHT_FILE_BYTES) {
            return std::unexpected(io_error(EFBIG));
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
}

}  // namespace

std::expected<ExternalGuesser, std::string> load_external(const std::string& path, const WeightAcceptance& accept) {
    ExternalCache& c = cache();
    std::unique_lock lock(c.mutex);
    if (const auto it = c.guessers.find(path); it != c.guessers.end()) {
        if (auto ok = accept(*it->second); !ok) return std::unexpected(ok.error());
        return ExternalGuesser{std::move(lock), it->second.get()};
    }
    const auto bytes = read_file(path);
    if (!bytes) return std::unexpected(bytes.error().message());
    auto guesser = Guesser::from_bytes(*bytes);
    if (!guesser) return std::unexpected(guesser.error().message());
    if (auto ok = accept(*guesser); !ok) return std::unexpected(ok.error());
    const auto it = c.guessers.emplace(path, std::make_unique<const Guesser>(std::move(*guesser))).first;
    return ExternalGuesser{std::move(lock), it->second.get()};
}

}  // namespace vorlane
