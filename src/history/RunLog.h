#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/Contracts.h"

namespace zarn {

// The run history file: one JSON line per finished dictation, oldest first. Append-only
// except for deletion, which rewrites the file atomically. Operations report failures so
// the command line can tell; the application ignores them (a run not stored is the worst
// outcome). Not thread-safe: one writer, on the main executor.
class RunLog {
public:
    explicit RunLog(std::filesystem::path file);

    // dataDirectory()/"runs.jsonl"; the folder is created on every call.
    static std::filesystem::path defaultFile();
    const std::filesystem::path& file() const { return file_; }

    // Appends the run as one line. False (with a reason) when it was not stored.
    bool record(const DictationRun& run, std::string* error = nullptr);
    // Every readable record, in file order. Unreadable lines are skipped; an unreadable or
    // missing file gives the empty list.
    std::vector<DictationRun> load() const;
    // Removes every record with the run's id (letter case ignored) and returns how many went.
    // Lines that do not load stay in the file as they were. The file is rewritten only when
    // something was removed. On a failure nothing is removed and `error` says why.
    std::size_t deleteRun(const DictationRun& run, std::string* error = nullptr);
    std::size_t deleteRun(std::string_view id, std::string* error = nullptr);
    // Removes the file; a missing file is no failure.
    bool clear(std::string* error = nullptr);

private:
    bool append(const DictationRun& run, std::string* error);
    bool rewrite(const std::vector<std::string_view>& lines, std::string* error);

    std::filesystem::path file_;
};

}  // namespace zarn
