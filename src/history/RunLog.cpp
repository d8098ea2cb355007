#include "history/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// Calls `fn` for every non-empty piece between line feeds; a missing final line feed is harmless.
template <class F>
void forEachLine(std::string_view bytes, F fn) {
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        if (end > start) fn(bytes.substr(start, end - start));
        start = end + 1;
    }
}

bool setError(std::string* error, const std::string& what, int code) {
    if (error) *error = what + ": " + std::strerror(code);
    return false;
}

}  // namespace

RunLog::RunLog(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path RunLog::defaultFile() { return paths::dataDirectory() / "runs.jsonl"; }

bool RunLog::record(const DictationRun& run, std::string* error) { return append(run, error); }

bool RunLog::append(const DictationRun& run, std::string* error) {
    auto line = encodeRunLine(run);
    if (!line) {
        if (error) *error = "the run cannot be written as JSON";
        return false;
    }
    if (file_.has_parent_path()) paths::ensurePrivateDirectory(file_.parent_path());

    // The history holds what the user said: private to the user from its first byte.
    int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return setError(error, "cannot open " + file_.string(), errno);

    std::string bytes;
    bytes.reserve(line->size() + 2);
    // A crash may have left the last line without its line feed; the new record must not
    // be glued onto it, or both would be lost.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') bytes += '\n';
    }
    bytes += *line;
    bytes += '\n';

    if (!paths::writeAll(fd, bytes)) {
        int saved = errno;
        ::close(fd);
        return setError(error, "cannot write " + file_.string(), saved);
    }
    if (::close(fd) != 0) return setError(error, "cannot write " + file_.string(), errno);
    return true;
}

std::vector<DictationRun> RunLog::load() const {
    std::vector<DictationRun> runs;
    std::string bytes;
    if (!paths::readFile(file_, bytes)) return runs;
    forEachLine(bytes, [&](std::string_view line) {
        if (auto run = decodeRunLine(line)) runs.push_back(std::move(*run));
    });
    return runs;
}

std::size_t RunLog::deleteRun(const DictationRun& run, std::string* error) { return deleteRun(run.id, error); }

std::size_t RunLog::deleteRun(std::string_view id, std::string* error) {
    std::error_code ec;
    auto status = std::filesystem::status(file_, ec);
    if (status.type() == std::filesystem::file_type::not_found) return 0;
    std::string bytes;
    std::string reason;
    if (status.type() != std::filesystem::file_type::regular) {
        if (error) *error = file_.string() + " is not a readable file";
        return 0;
    }
    if (!paths::readFile(file_, bytes, &reason)) {
        if (error) *error = reason;
        return 0;
    }
    const std::string wanted = upper(id);
    std::vector<std::string_view> kept;
    std::size_t removed = 0;
    forEachLine(bytes, [&](std::string_view line) {
        // Only a record that loads and carries this id goes; anything else, readable or
        // not, is kept byte for byte in its place.
        if (auto run = decodeRunLine(line); run && run->id == wanted) {
            ++removed;
        } else {
            kept.push_back(line);
        }
    });
    if (removed == 0) return 0;
    if (!rewrite(kept, error)) return 0;
    return removed;
}

bool RunLog::rewrite(const std::vector<std::string_view>& lines, std::string* error) {
    std::string text;
    for (auto line : lines) {
        text += line;
        text += '\n';
    }
    return paths::writeFileAtomically(file_, text, error);
}

bool RunLog::clear(std::string* error) {
    if (::unlink(file_.c_str()) != 0 && errno != ENOENT) return setError(error, "cannot remove " + file_.string(), errno);
    return true;
}

}  // namespace zarn
