#pragma once

#include <filesystem>
#include <string>

namespace zarn {

// An advisory lock that serialises the changes of one file across processes (and across
// threads, each lock opening its own descriptor): flock() on "<file>.lock" beside the file,
// created private (0600) and never removed, since removing it would let two writers hold
// locks on different files. Waits until the lock is free; released on destruction.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& file, std::string* error = nullptr);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace zarn
