#include "history/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/FileLock.h"
#include "base/Paths.h"
#include "history/RunJson.h"

namespace zarn {
namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool setError(std::string* error, const std::string& what, int code) {
    if (error) *error = what + ": " + std::strerror(code);
    return false;
}

// Reads `fd` as a stream of lines, so a huge file never has to fit in memory at once. Every
// non-empty line of at most `limit` bytes goes to `onLine`, followed in memory by at least
// RunLineDecoder::readAhead readable bytes; a longer one (no record is that long) goes to
// `onLongPiece` in pieces, the last one flagged, so it can be copied unread. False with
// errno set when reading fails.
template <class Line, class LongPiece>
bool forEachLine(int fd, std::size_t limit, Line onLine, LongPiece onLongPiece) {
    constexpr std::size_t chunk = 1 << 18;
    std::string buffer;
    std::size_t filled = 0;
    bool inLongLine = false;
    for (;;) {
        // Read straight into the buffer, with room after the data for the parser to look ahead.
        buffer.resize(std::max(buffer.size(), filled + chunk + RunLineDecoder::readAhead));
        ssize_t n = ::read(fd, buffer.data() + filled, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        filled += static_cast<std::size_t>(n);
        const std::string_view data(buffer.data(), filled);
        std::size_t start = 0;
        for (std::size_t end; (end = data.find('\n', start)) != std::string_view::npos; start = end + 1) {
            std::string_view line = data.substr(start, end - start);
            if (inLongLine) {
                onLongPiece(line, true);
                inLongLine = false;
            } else if (line.size() > limit) {
                onLongPiece(line, true);
            } else if (!line.empty()) {
                onLine(line);
            }
        }
        std::string_view rest = data.substr(start);
        if (n == 0) {
            // A missing final line feed is harmless.
            if (inLongLine || rest.size() > limit) {
                onLongPiece(rest, true);
            } else if (!rest.empty()) {
                onLine(rest);
            }
            return true;
        }
        if (rest.size() > limit) {
            onLongPiece(rest, false);
            rest = {};
            inLongLine = true;
        }
        if (!rest.empty()) std::memmove(buffer.data(), rest.data(), rest.size());
        filled = rest.size();
    }
}

}  // namespace

RunLog::RunLog(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path RunLog::defaultFile() { return paths::dataDirectory() / "runs.jsonl"; }

namespace {

RunLog::Version versionOfStat(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

}  // namespace

RunLog::Version RunLog::versionOf(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return {};
    return versionOfStat(st);
}

bool RunLog::record(const DictationRun& run, std::string* error) { return append(run, error); }

bool RunLog::append(const DictationRun& run, std::string* error) {
    auto line = encodeRunLine(run);
    if (!line) {
        if (error) *error = "the run cannot be written as JSON";
        return false;
    }
    if (file_.has_parent_path()) paths::ensurePrivateDirectory(file_.parent_path());
    // Under the lock a delete's rewrite cannot take the file from under this append.
    FileLock lock(file_, error);
    if (!lock) return false;

    // Looked at first, so a device is never opened; not blocking, so a FIFO put in its place
    // between the two cannot stall the caller. The history holds what the user said: private
    // to the user from its first byte.
    struct stat st {};
    if (::stat(file_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (error) *error = paths::notRegularFile(file_, st.st_mode);
        return false;
    }
    int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) return setError(error, "cannot open " + file_.string(), errno);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error) *error = paths::notRegularFile(file_, st.st_mode);
        return false;
    }

    std::string bytes;
    bytes.reserve(line->size() + 2);
    // A crash may have left the last line without its line feed; the new record must not
    // be glued onto it, or both would be lost.
    if (st.st_size > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') bytes += '\n';
    }
    bytes += *line;
    bytes += '\n';

    const Version before = versionOfStat(st);
    if (!paths::writeAll(fd, bytes)) {
        int saved = errno;
        ::close(fd);
        return setError(error, "cannot write " + file_.string(), saved);
    }
    struct stat written {};
    const bool known = ::fstat(fd, &written) == 0;
    if (::close(fd) != 0) return setError(error, "cannot write " + file_.string(), errno);
    before_ = before;
    after_ = known ? versionOfStat(written) : Version{};
    return true;
}

std::vector<DictationRun> RunLog::load(std::string* error) const {
    std::vector<DictationRun> runs;
    paths::ReadStatus status;
    int fd = paths::openRegularFile(file_, status, error);
    if (fd < 0) {
        if (status == paths::ReadStatus::missing && error) error->clear();
        return runs;
    }
    struct stat st {};
    const double fileSize = ::fstat(fd, &st) == 0 ? static_cast<double>(st.st_size) : 0;
    double seen = 0;
    RunLineDecoder decoder;
    bool read = forEachLine(
        fd, lineLimit,
        [&](std::string_view line) {
            if (auto run = decoder.decodeInPlace(line)) runs.push_back(std::move(*run));
            // Past the first megabyte, room for the rest at the same density: a long list is
            // then not moved to a larger place again and again while it grows.
            if (seen < (1 << 20) && (seen += static_cast<double>(line.size() + 1)) >= (1 << 20)) {
                runs.reserve(static_cast<std::size_t>(static_cast<double>(runs.size()) * fileSize / seen * 1.05));
            }
        },
        [](std::string_view, bool) {});
    if (!read) setError(error, "cannot read " + file_.string(), errno);
    ::close(fd);
    return runs;
}

std::size_t RunLog::deleteRun(const DictationRun& run, std::string* error) { return deleteRun(run.id, error); }

std::size_t RunLog::deleteRun(std::string_view id, std::string* error) {
    if (error) error->clear();
    FileLock lock(file_, error);
    if (!lock) return 0;
    // Read under the lock: the file as it is now, with every run recorded up to this moment.
    paths::ReadStatus status;
    int fd = paths::openRegularFile(file_, status, error);
    if (fd < 0) {
        if (status == paths::ReadStatus::missing && error) error->clear();
        return 0;
    }
    struct stat st {};
    const Version before = ::fstat(fd, &st) == 0 ? versionOfStat(st) : Version{};
    paths::AtomicFile out(file_);
    if (!out.open(error)) {
        ::close(fd);
        return 0;
    }
    const std::string wanted = upper(id);
    // Only a line holding the id, in any letter case, or a "\\u" escape can decode to it: no
    // other escape stands for a hex digit or a hyphen. The rest are copied without parsing.
    // Hyphens are rare in text, so the search looks for the id's first one.
    auto sameLetter = [](char a, char b) {
        return a == b || (a >= 'a' && a <= 'z' && static_cast<char>(a - 'a' + 'A') == b);
    };
    auto mayCarryId = [&](std::string_view line) {
        if (line.find("\\u") != std::string_view::npos) return true;
        for (auto dash = line.find('-', 8); dash != std::string_view::npos; dash = line.find('-', dash + 1)) {
            auto candidate = line.substr(dash - 8, wanted.size());
            if (std::equal(candidate.begin(), candidate.end(), wanted.begin(), wanted.end(), sameLetter)) return true;
        }
        return false;
    };
    RunLineDecoder decoder;
    std::size_t removed = 0;
    std::string pending;
    bool written = true;
    auto flush = [&](std::size_t atLeast) {
        if (pending.size() < atLeast) return;
        if (written) written = out.write(pending, error);
        pending.clear();
    };
    bool read = forEachLine(
        fd, lineLimit,
        [&](std::string_view line) {
            // Only a record that loads and carries this id goes; anything else, readable or
            // not, is kept byte for byte in its place.
            if (auto run = mayCarryId(line) ? decoder.decodeInPlace(line) : std::nullopt; run && run->id == wanted) {
                ++removed;
                return;
            }
            pending += line;
            pending += '\n';
            flush(1 << 20);
        },
        [&](std::string_view piece, bool last) {
            pending += piece;
            if (last) pending += '\n';
            flush(1 << 20);
        });
    int readErrno = errno;
    ::close(fd);
    if (!read) {
        setError(error, "cannot read " + file_.string(), readErrno);
        return 0;
    }
    if (removed == 0) return 0;
    flush(0);
    if (!written || !out.commit(error)) return 0;
    before_ = before;
    after_ = versionOf(file_);
    return removed;
}

bool RunLog::clear(std::string* error) {
    FileLock lock(file_, error);
    if (!lock) return false;
    // Through a link the file it leads to goes, and the link stays for the next record.
    auto target = paths::resolveLinks(file_);
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) return setError(error, "cannot remove " + target.string(), errno);
        before_ = after_ = Version{};
        return true;
    }
    // Never a device node or a folder, whatever a link leads to.
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = paths::notRegularFile(target, st.st_mode);
        return false;
    }
    if (::unlink(target.c_str()) != 0) return setError(error, "cannot remove " + target.string(), errno);
    before_ = versionOfStat(st);
    after_ = Version{};
    return true;
}

}  // namespace zarn
