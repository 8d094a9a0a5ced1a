#pragma once
// Whole-file reads and crash-safe whole-file replacement for the settings stores.
//
// ReplaceFileContents writes the new content to a temporary file in the same folder, flushes
// it to disk and renames it over the target, so a crash leaves either the old file or the new
// one, never a part. A symbolic link is followed: its target is replaced and the link stays.
// An existing file keeps its permission bits; a new one gets 0644. Both functions report the
// system's error number instead of throwing; they are safe to call from any thread.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::port {

// The file's bytes; nothing (and errno in *error) when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, int* error = nullptr);

// 0 on success, else the errno of the step that failed (the target is then untouched).
int ReplaceFileContents(const std::filesystem::path& path, std::string_view content);

}  // namespace velmora::port
