#include "core/file_read.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnix {

namespace {

TError Fail(const std::string& path, const std::string& reason) {
    return TError{std::string(), path, path + ": " + reason};
}

std::string SystemText(int error) {
    return std::strerror(error);
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

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

std::string ByteSizeText(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

TResult<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes, TLinks links) {
    // O_NONBLOCK: opening a named pipe must not wait for a writer; it is refused below anyway.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (links == TLinks::Refuse)
        flags |= O_NOFOLLOW;
    const TFd fd(::open(path.c_str(), flags));
    if (fd.Get() < 0)
        return Fail(path, links == TLinks::Refuse && errno == ELOOP ? "a symbolic link" : SystemText(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return Fail(path, SystemText(errno));
    if (S_ISDIR(st.st_mode))
        return Fail(path, "a directory, not a file");
    if (!S_ISREG(st.st_mode))
        return Fail(path, "not a regular file");
    const std::string tooLarge = "larger than " + ByteSizeText(maxBytes);
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > maxBytes)
        return Fail(path, tooLarge);

    // Sized from fstat, never beyond one byte past the limit: a file that grows while it is read
    // is refused as soon as that byte arrives.
    std::string bytes;
    bytes.resize(std::min(maxBytes, static_cast<std::size_t>(st.st_size)) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > maxBytes)
                return Fail(path, tooLarge);
            bytes.resize(std::min(maxBytes + 1, bytes.size() * 2 + 4096));
        }
        const ssize_t n = ::read(fd.Get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(path, SystemText(errno));
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > maxBytes)
        return Fail(path, tooLarge);
    bytes.resize(got);
    return bytes;
}

bool IsNotFound(const TError& error) {
    return EndsWith(error.Message, ": " + SystemText(ENOENT)) ||
           EndsWith(error.Message, ": " + SystemText(ENOTDIR));
}

TResult<std::string> ReadFirmwareImage(const std::string& path) {
    TResult<std::string> bytes = ReadRegularFile(path, MaxImageFileBytes, TLinks::Follow);
    if (bytes && bytes->empty())
        return Fail(path, "an empty file");
    return bytes;
}

} // namespace varnix
