#pragma once
// The one way the program reads a whole input file (a sheet, a profile, Lang.txt, Cfg.ini, a
// command list, a firmware image). Only a regular file is read: the path is opened without
// blocking (a named pipe has no writer to wait for, a device is not touched), the open descriptor
// is checked with fstat (so a file swapped after a check cannot slip through), a file above the
// caller's limit is refused before a byte is read, and the read loop stops one byte past the
// limit, so a file that grows while it is read is refused as well. A path that is a symbolic link
// is refused when the caller asks for that (files the program also writes back).

#include "core/result.h"

#include <cstddef>
#include <string>

namespace varnix {

// Limits of the program's own files; callers pick the one that fits.
inline constexpr std::size_t MaxTextFileBytes = 4u << 20;   // sheets, profiles, Lang.txt, Cfg.ini
inline constexpr std::size_t MaxImageFileBytes = 64u << 20; // firmware images

enum class TLinks {
    Follow, // a symbolic link is read through (files the program only reads)
    Refuse, // a symbolic link is refused (files the program writes back in place of what it read)
};

// The bytes of the regular file at `path` when it holds at most `maxBytes`. Otherwise a TError
// with Text = the path and a Message naming the path and the reason: "not a regular file",
// "a directory, not a file", "a symbolic link", "larger than 4 MiB" or the system's text for an
// open or read failure ("No such file or directory"). NotFound tells a missing file apart.
TResult<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes,
                                     TLinks links = TLinks::Follow);

// True when `error` came from ReadRegularFile for a path that does not exist.
bool IsNotFound(const TError& error);

// A firmware image: ReadRegularFile with MaxImageFileBytes, following a link (a "latest.bin"
// link to the current image is common). An empty file is refused as well: it cannot be an image.
TResult<std::string> ReadFirmwareImage(const std::string& path);

// "4 MiB", "512 KiB" or "100 bytes": the limit as the messages above name it.
std::string ByteSizeText(std::size_t bytes);

} // namespace varnix
