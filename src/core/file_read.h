#pragma once
// Reading a whole input file (a sheet, a profile, Lang.txt, Cfg.ini, a command list, a firmware
// image) with a size limit. Only regular files are read: a path naming a device (/dev/zero), a
// pipe or a directory is refused before a byte is read, and a file above the limit is refused
// instead of being pulled into memory, each with a message a person can act on.

#include <cstddef>
#include <optional>
#include <string>

namespace varnix {

// Limits of the program's own files; callers pick the one that fits.
inline constexpr std::size_t MaxTextFileBytes = 4u << 20;   // sheets, profiles, Lang.txt, Cfg.ini
inline constexpr std::size_t MaxImageFileBytes = 64u << 20; // firmware images

// The bytes of the regular file at `path` when it holds at most `maxBytes`; otherwise nothing,
// with `error` (when given) set to the reason, for example "not a regular file",
// "larger than 4 MiB" or the system's text for an open or read failure.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string* error);

// "4 MiB", "512 KiB" or "100 bytes": the limit as the messages above name it.
std::string ByteSizeText(std::size_t bytes);

} // namespace varnix
