#include "base/Paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zarn::paths {
namespace fs = std::filesystem;

namespace {

fs::path xdgDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    // Relative values are invalid by the XDG rules and must be ignored.
    if (value && *value && value[0] == '/') return value;
    return homeDirectory() / fallback;
}

}  // namespace

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

bool ensurePrivateDirectory(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return true;
    if (!dir.has_parent_path() || dir.parent_path() == dir) return false;
    if (!fs::is_directory(dir.parent_path(), ec)) {
        fs::create_directories(dir.parent_path(), ec);
    }
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

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return false;
    };
    std::string name = ".";
    name += path.filename().string();
    name += ".XXXXXX";
    std::string tmpl = (path.parent_path() / name).string();
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);  // mkostemp creates the file 0600
    if (fd < 0) return fail("cannot create a temporary file beside " + path.string());
    if (!writeAll(fd, bytes)) {
        int saved = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        errno = saved;
        return fail("cannot write " + tmpl);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int saved = errno;
        ::unlink(tmpl.c_str());
        errno = saved;
        return fail("cannot flush " + tmpl);
    }
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(tmpl.c_str());
        errno = saved;
        return fail("cannot replace " + path.string());
    }
    return true;
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

bool readFile(const fs::path& path, std::string& bytes, std::string* error) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        if (error) *error = path.string() + " is a folder, not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) {
        if (error) *error = "cannot read " + path.string();
        return false;
    }
    bytes = out.str();
    return true;
}

}  // namespace zarn::paths
