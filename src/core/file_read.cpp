#include "core/file_read.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnix {

namespace {

std::optional<std::string> Fail(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
    return std::nullopt;
}

class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::string ByteSizeText(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string* error) {
    // O_NONBLOCK: opening a named pipe must not wait for a writer; it is refused below anyway.
    const TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0)
        return Fail(error, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return Fail(error, std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return Fail(error, "a directory, not a file");
    if (!S_ISREG(st.st_mode))
        return Fail(error, "not a regular file");
    const std::string tooLarge = "larger than " + ByteSizeText(maxBytes);
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > maxBytes)
        return Fail(error, tooLarge);

    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        // The file may grow while it is read: one byte past the limit is enough to tell.
        if (got == bytes.size()) {
            if (bytes.size() > maxBytes)
                return Fail(error, tooLarge);
            bytes.resize(std::min(maxBytes + 1, bytes.size() * 2 + 4096));
        }
        const ssize_t n = ::read(fd.Get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(error, std::strerror(errno));
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > maxBytes)
        return Fail(error, tooLarge);
    bytes.resize(got);
    return bytes;
}

} // namespace varnix
