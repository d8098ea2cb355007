#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/DictationRun.h"

namespace zarn {

// The run history file: one JSON line per finished dictation, oldest first. Append-only
// except for deletion, which rewrites the file atomically. Operations report failures so
// the command line can tell; the application logs them. Any number of processes may record
// and delete at once: every change holds the file's lock (FileLock) from its read to its
// write, so none works on a stale copy. Through a symbolic link the file it leads to is
// changed and the link stays.
class RunLog {
public:
    // Which state of the file a reader saw: a change by anyone gives another version.
    struct Version {
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = -1;  // -1: no file
        std::int64_t modifiedNs = 0;
        bool operator==(const Version&) const = default;
    };
    static Version versionOf(const std::filesystem::path& file);

    explicit RunLog(std::filesystem::path file);

    // dataDirectory()/"runs.jsonl"; the folder is created on every call.
    static std::filesystem::path defaultFile();
    const std::filesystem::path& file() const { return file_; }

    // Appends the run as one line. False (with a reason) when it was not stored.
    bool record(const DictationRun& run, std::string* error = nullptr);
    // The file just before and just after this object's last successful change (a record, a
    // delete that removed something, a clear), taken under the lock: a reader that knew the
    // first knows the second once it applies that change to what it read.
    const Version& versionBeforeChange() const { return before_; }
    const Version& versionAfterChange() const { return after_; }
    // No record comes near this; a longer line is read as unreadable (and kept by a delete).
    static constexpr std::size_t lineLimit = 1u << 20;

    // Every readable record, in file order, read as a stream. Unreadable lines are skipped;
    // a missing file gives the empty list, an unreadable one (a FIFO, say) the empty list
    // and a reason in `error`.
    std::vector<DictationRun> load(std::string* error = nullptr) const;
    // Removes every record with the run's id (letter case ignored) and returns how many went.
    // Lines that do not load stay in the file as they were. The file is rewritten only when
    // something was removed. On a failure nothing is removed and `error` says why.
    std::size_t deleteRun(const DictationRun& run, std::string* error = nullptr);
    std::size_t deleteRun(std::string_view id, std::string* error = nullptr);
    // Removes the file (the one a link leads to); a missing file is no failure.
    bool clear(std::string* error = nullptr);

private:
    bool append(const DictationRun& run, std::string* error);

    std::filesystem::path file_;
    Version before_, after_;
};

}  // namespace zarn
