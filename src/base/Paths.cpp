#include "base/Paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zarn::paths {
namespace fs = std::filesystem;

namespace {

fs::path xdgDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    // Relative values are invalid by the XDG rules and must be ignored.
    if (value && *value && value[0] == '/') return value;
    return homeDirectory() / fallback;
}

std::string reason(const std::string& what, int code) { return what + ": " + std::strerror(code); }

const char* typeName(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}


// Renames `from` to `to` unless `to` exists. Sets errno on failure.
bool renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot refuse to replace: a hard link fails on an existing name.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    return false;
}

}  // namespace

std::string notRegularFile(const fs::path& path, unsigned mode) {
    return path.string() + " is " + typeName(mode) + ", not a regular file";
}

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

bool ensurePrivateDirectory(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return true;
    if (!dir.has_parent_path() || dir.parent_path() == dir) return false;
    if (!ensurePrivateDirectory(dir.parent_path())) return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return fs::is_directory(dir, ec);
}

fs::path dataDirectory() {
    auto dir = xdgDirectory("XDG_DATA_HOME", ".local/share") / "Zarn";
    ensurePrivateDirectory(dir);
    return dir;
}

fs::path configDirectory() {
    auto dir = xdgDirectory("XDG_CONFIG_HOME", ".config") / "Zarn";
    ensurePrivateDirectory(dir);
    return dir;
}

fs::path resolveLinks(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        fs::path next = fs::read_symlink(path, ec);
        if (ec) break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

int openRegularFile(const fs::path& path, ReadStatus& status, std::string* error) {
    auto fail = [&](ReadStatus s, const std::string& why) {
        status = s;
        if (error) *error = why;
        return -1;
    };
    // Looked at before opening, so a device is never opened at all; checked again on the
    // descriptor, in case the name changed between the two.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return fail(errno == ENOENT ? ReadStatus::missing : ReadStatus::failed,
                    reason("cannot open " + path.string(), errno));
    }
    if (!S_ISREG(st.st_mode)) return fail(ReadStatus::notRegular, notRegularFile(path, st.st_mode));
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fail(errno == ENOENT ? ReadStatus::missing : ReadStatus::failed,
                    reason("cannot open " + path.string(), errno));
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(ReadStatus::notRegular, notRegularFile(path, st.st_mode));
    }
    status = ReadStatus::ok;
    return fd;
}

ReadStatus readRegularFile(const fs::path& path, std::string& bytes, std::string* error, std::size_t limit) {
    ReadStatus status;
    int fd = openRegularFile(path, status, error);
    if (fd < 0) return status;
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int saved = errno;
            ::close(fd);
            if (error) *error = reason("cannot read " + path.string(), saved);
            return ReadStatus::failed;
        }
        if (n == 0) break;
        if (out.size() + static_cast<std::size_t>(n) > limit) {
            ::close(fd);
            if (error) *error = path.string() + " is larger than " + std::to_string(limit >> 20) + " MB";
            return ReadStatus::tooLarge;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    bytes = std::move(out);
    return ReadStatus::ok;
}

std::optional<fs::path> keepAside(const fs::path& path, std::string_view suffix, std::string* error) {
    fs::path file = resolveLinks(path);
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        if (errno == ENOENT) return path;
        if (error) *error = reason("cannot look at " + file.string(), errno);
        return std::nullopt;
    }
    // Only a file is moved: renaming a device node or a folder could break far more than Zarn.
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = notRegularFile(file, st.st_mode);
        return std::nullopt;
    }
    std::string base = file.filename().string() + std::string(suffix);
    for (int n = 1; n <= 1000; ++n) {
        fs::path aside = file.parent_path() / (n == 1 ? base : base + "-" + std::to_string(n));
        if (renameNoReplace(file, aside)) return aside;
        if (errno == ENOENT) return path;  // gone meanwhile: nothing left to keep
        if (errno != EEXIST) break;
    }
    if (error) *error = reason("cannot keep " + file.string() + " aside", errno);
    return std::nullopt;
}

AtomicFile::AtomicFile(const fs::path& path) : target_(resolveLinks(path)) {}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool AtomicFile::fail(const std::string& what, std::string* error) {
    if (error) *error = reason(what, errno);
    return false;
}

bool AtomicFile::open(std::string* error) {
    struct stat st {};
    if (::lstat(target_.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            if (error) *error = notRegularFile(target_, st.st_mode) + "; not replacing it";
            return false;
        }
        // The permission bits, not access(): a user who made the file read-only means it,
        // even where the process could write it anyway.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target_.c_str(), W_OK) != 0) {
            if (error) *error = target_.string() + " is read-only; not replacing it";
            return false;
        }
    }
    std::string name = ".";
    name += target_.filename().string();
    name += ".XXXXXX";
    std::string tmpl = (target_.parent_path() / name).string();
    fd_ = ::mkostemp(tmpl.data(), O_CLOEXEC);  // mkostemp creates the file 0600
    if (fd_ < 0) return fail("cannot create a temporary file beside " + target_.string(), error);
    temporary_ = std::move(tmpl);
    return true;
}

bool AtomicFile::write(std::string_view bytes, std::string* error) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail("cannot write " + target_.string(), error);
    }
    return writeAll(fd_, bytes) || fail("cannot write " + temporary_, error);
}

bool AtomicFile::commit(std::string* error) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail("cannot write " + target_.string(), error);
    }
    int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return fail("cannot flush " + temporary_, error);
    }
    if (::close(fd) != 0) return fail("cannot flush " + temporary_, error);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return fail("cannot replace " + target_.string(), error);
    temporary_.clear();
    return true;
}

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string* error) {
    AtomicFile file(path);
    return file.open(error) && file.write(bytes, error) && file.commit(error);
}

bool writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace zarn::paths
