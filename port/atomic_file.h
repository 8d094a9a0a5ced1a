#pragma once
// Whole-file reads and crash-safe whole-file replacement for the settings stores.
//
// ReadWholeFile opens without blocking and reads only a regular file: a FIFO, a device or a
// folder in the file's place is refused (EINVAL, EISDIR) instead of holding the caller up or
// feeding it without end, and a file longer than the limit is refused (EFBIG) after reading
// at most one byte more than the limit.
//
// ReplaceFileContents writes the new content to a temporary file in the same folder, flushes
// it to disk and renames it over the target, so a crash leaves either the old file or the new
// one, never a part. A symbolic link is followed, a dangling one too: the file it names is
// replaced or created and the link stays. An existing file keeps its permission bits, and its
// owner and group where the caller may give them (a save made as root leaves a user's file the
// user's); a new one gets 0644. Only a regular file is replaced. Both functions report the
// system's error number instead of throwing; they are safe to call from any thread.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::port {

// The file's bytes; nothing (and errno in *error) when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, int* error = nullptr,
                                         std::uintmax_t largest = std::numeric_limits<std::uintmax_t>::max());

// 0 on success, else the errno of the step that failed (the target is then untouched).
int ReplaceFileContents(const std::filesystem::path& path, std::string_view content);

// Where a write of `path` lands: the file its chain of symbolic links names, dangling or not.
// The path itself when it is no link; nothing (errno in *error) for a loop or an unreadable link.
std::optional<std::filesystem::path> LinkTarget(const std::filesystem::path& path, int* error = nullptr);

}  // namespace velmora::port
