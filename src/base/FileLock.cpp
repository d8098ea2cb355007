#include "base/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zarn {

FileLock::FileLock(const std::filesystem::path& file, std::string* error) {
    auto name = file;
    name += ".lock";
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
        errno = EINVAL;
    }
    int result = -1;
    if (fd >= 0) {
        while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
    }
    if (result != 0) {
        if (error) *error = "cannot lock " + name.string() + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return;
    }
    fd_ = fd;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace zarn
