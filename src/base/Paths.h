#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
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

// Creates `dir` and missing parents, each private to the user (0700). False on failure.
bool ensurePrivateDirectory(const std::filesystem::path& dir);

// The file a chain of symbolic links leads to, whether it exists or not.
std::filesystem::path resolveLinks(std::filesystem::path path);

// Far above any dictionary or settings file a person keeps; stops a runaway read.
inline constexpr std::size_t fileSizeLimit = 64u << 20;

// "<path> is a FIFO, not a regular file" (or a folder, a device, a socket) for a file's st_mode.
std::string notRegularFile(const std::filesystem::path& path, unsigned mode);

enum class ReadStatus { ok, missing, notRegular, tooLarge, failed };

// Opens `path` (links followed) for reading only when it is a regular file, so a FIFO never
// blocks and a device is never read. Returns the descriptor, or -1 with `status` and a reason
// naming the file ("… is a FIFO").
int openRegularFile(const std::filesystem::path& path, ReadStatus& status, std::string* error = nullptr);

// Reads a whole regular file of at most `limit` bytes.
ReadStatus readRegularFile(const std::filesystem::path& path, std::string& bytes, std::string* error = nullptr,
                           std::size_t limit = fileSizeLimit);
inline bool readFile(const std::filesystem::path& path, std::string& bytes, std::string* error = nullptr) {
    return readRegularFile(path, bytes, error) == ReadStatus::ok;
}

// Moves the regular file behind `path` (links followed) to "<name><suffix>", or
// "<name><suffix>-2", "-3" …, never over an existing file. The new name, or nothing with a
// reason; a file gone meanwhile gives `path` itself back, as there is nothing left to keep.
std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path, std::string_view suffix,
                                               std::string* error = nullptr);

// Replaces a file so readers see the old one or the new one, never a mix: the bytes go to a
// private (0600) temporary file beside the file a link leads to, flushed to disk, then renamed
// over it, so a link stays a link. An existing file that is read-only or not a regular file is
// never replaced. Destruction without commit() removes the temporary file.
class AtomicFile {
public:
    explicit AtomicFile(const std::filesystem::path& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False with a reason when the file may not or cannot be replaced.
    bool open(std::string* error = nullptr);
    bool write(std::string_view bytes, std::string* error = nullptr);
    bool commit(std::string* error = nullptr);

private:
    bool fail(const std::string& what, std::string* error);

    std::filesystem::path target_;
    std::string temporary_;
    int fd_ = -1;
};

// AtomicFile in one call. On failure returns false with a reason and leaves the old file untouched.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error = nullptr);

// Writes every byte to `fd`, retrying after interruptions and short writes. On failure
// returns false with errno telling why.
bool writeAll(int fd, std::string_view bytes);

}  // namespace zarn::paths
