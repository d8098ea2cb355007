#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zarn::paths {

// $XDG_DATA_HOME/Zarn (default ~/.local/share/Zarn): dictionary, run history, models.
// Created (0700, with missing parents) at every call; a failure to create it is ignored,
// so the file operation that follows fails on its own.
std::filesystem::path dataDirectory();
// $XDG_CONFIG_HOME/Zarn (default ~/.config/Zarn): the defaults store.
std::filesystem::path configDirectory();
std::filesystem::path homeDirectory();

// Creates `dir` and missing parents; new folders are private to the user. False on failure.
bool ensurePrivateDirectory(const std::filesystem::path& dir);

// Replaces `path` with `bytes` so readers see the old file or the new one, never a mix:
// a private (0600) temporary file beside it, flushed to disk, then renamed over it.
// On failure returns false with a reason in `error` and leaves the old file untouched.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error = nullptr);

// Writes every byte to `fd`, retrying after interruptions and short writes. On failure
// returns false with errno telling why.
bool writeAll(int fd, std::string_view bytes);

// Reads a whole file; false with a reason when it cannot.
bool readFile(const std::filesystem::path& path, std::string& bytes, std::string* error = nullptr);

}  // namespace zarn::paths
