// The one guarded reader of input files: what it refuses, without blocking or filling memory, and
// the reasons it gives.
#include "core/file_read.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnix;

namespace {

struct TTempDir {
    std::string Path;
    TTempDir() {
        char tmpl[] = "/tmp/varnix-file-read-XXXXXX";
        Path = ::mkdtemp(tmpl);
    }
    ~TTempDir() { std::system(("rm -rf '" + Path + "'").c_str()); }
    std::string File(const char* name) const { return Path + "/" + name; }
};

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Reason(const TResult<std::string>& r) {
    return r ? std::string("(read)") : r.Error().Message;
}

} // namespace

TEST(FileRead, OnlyRegularFilesWithinTheLimitAreRead) {
    TTempDir dir;
    const std::string text = dir.File("a.txt");
    Write(text, "hello");
    const auto ok = ReadRegularFile(text, 5);
    ASSERT_TRUE(ok) << Reason(ok);
    EXPECT_EQ(*ok, "hello");
    EXPECT_EQ(Reason(ReadRegularFile(text, 4)), text + ": larger than 4 bytes");

    // A device and a pipe without a writer: refused at once, neither read nor waited for.
    EXPECT_EQ(Reason(ReadRegularFile("/dev/zero", MaxImageFileBytes)), "/dev/zero: not a regular file");
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Reason(ReadFirmwareImage(fifo)), fifo + ": not a regular file");
    EXPECT_EQ(Reason(ReadRegularFile(dir.Path, 100)), dir.Path + ": a directory, not a file");

    // A sparse file far above the limit is refused from its size, before a byte is read.
    const std::string huge = dir.File("huge.bin");
    Write(huge, "");
    ASSERT_EQ(::truncate(huge.c_str(), 1LL << 30), 0);
    EXPECT_EQ(Reason(ReadFirmwareImage(huge)), huge + ": larger than 64 MiB");
    // A file the kernel reports as empty but that yields bytes is still bounded by the read loop.
    const auto status = ReadRegularFile("/proc/self/status", 16);
    EXPECT_FALSE(status);
    EXPECT_EQ(Reason(status), "/proc/self/status: larger than 16 bytes");

    // Links: followed unless the caller refuses them (files it writes back).
    const std::string link = dir.File("link.txt");
    ASSERT_EQ(::symlink(text.c_str(), link.c_str()), 0);
    EXPECT_TRUE(ReadRegularFile(link, 100));
    EXPECT_EQ(Reason(ReadRegularFile(link, 100, TLinks::Refuse)), link + ": a symbolic link");
    const std::string toZero = dir.File("zero.bin");
    ASSERT_EQ(::symlink("/dev/zero", toZero.c_str()), 0);
    EXPECT_EQ(Reason(ReadFirmwareImage(toZero)), toZero + ": not a regular file");

    // Missing files are told apart; an empty one is no image.
    const auto missing = ReadRegularFile(dir.File("none"), 100);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(IsNotFound(missing.Error()));
    EXPECT_FALSE(IsNotFound(ReadRegularFile(fifo, 100).Error()));
    const std::string empty = dir.File("empty.bin");
    Write(empty, "");
    EXPECT_EQ(Reason(ReadFirmwareImage(empty)), empty + ": an empty file");
    EXPECT_TRUE(ReadRegularFile(empty, 100));
}
