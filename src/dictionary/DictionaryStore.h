#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "contracts/Corrections.h"
#include "dictionary/DictionaryCorrector.h"
#include "dictionary/DictionaryEntry.h"

namespace zarn {

class FileWatcher;
struct FileRead;

// The user's dictionary while the program runs: read from dictionary.txt at start-up,
// rewritten whole (atomically) after every change made through it, and re-read whenever the
// file changes on disk. Confined to the main executor, which also receives the watcher's
// reloads. Other processes may change the file at the same time: every change holds the
// file's lock (FileLock), re-reads the file, applies itself to what is there and writes.
//
// A file that exists but cannot be used (not UTF-8, not readable, too large) leaves the
// dictionary empty; the first save after that moves the user's file aside (to
// "dictionary.txt.unreadable", or ".unreadable-2" and so on, never over an earlier one)
// before writing, and logs where it went. If it cannot be moved aside, or is no regular file
// (a FIFO, a device), nothing is written.
class DictionaryStore final : public DictionaryCorrections {
public:
    // The seven header lines that begin every file the program writes.
    static constexpr std::string_view header =
        "# Zarn dictionary\n"
        "#\n"
        "#   Anthropic                 a term \xE2\x80\x94 the engine is told this word exists\n"
        "#   cloud code -> Claude Code a correction \xE2\x80\x94 when you hear X, write Y\n"
        "#   # off: some rule -> Rule  a disabled entry\n"
        "#\n"
        "# Edit this file directly if you like; the app picks up changes immediately.\n";

    // `watch` false makes a store that never watches the file (one-shot command-line use).
    DictionaryStore(std::filesystem::path file, Executor& mainExecutor, bool watch = true);
    ~DictionaryStore() override;
    DictionaryStore(const DictionaryStore&) = delete;
    DictionaryStore& operator=(const DictionaryStore&) = delete;

    // Over fileURL(), on the executor given to setMainExecutor(); made on first use.
    static DictionaryStore& shared();
    // $XDG_DATA_HOME/Zarn/dictionary.txt; the folder is created when missing.
    static std::filesystem::path fileURL();

    // The file's text to entries, in file order. Pure.
    static std::vector<DictionaryEntry> parse(std::string_view text);
    // The text written for `entries`: header, their lines joined with LF, one final LF.
    static std::string fileText(const std::vector<DictionaryEntry>& entries);

    const std::filesystem::path& file() const { return file_; }
    const std::vector<DictionaryEntry>& entries() const { return entries_.get(); }
    long revision() const { return revision_.get(); }
    [[nodiscard]] Subscription observeEntries(std::function<void(const std::vector<DictionaryEntry>&)> observer);
    [[nodiscard]] Subscription observeRevision(std::function<void(const long&)> observer);

    // Each returns false when the save failed; the reason is then in lastSaveError() and the log.
    bool add(const DictionaryEntry& entry);
    // Replaces the first entry with the same id and saves; does nothing when there is none.
    bool update(const DictionaryEntry& entry);
    // Removes every entry with that id, then saves (also when none was removed).
    bool deleteEntry(const DictionaryEntry& entry);
    // Removes every entry whose id is in `ids`, then saves.
    bool deleteIds(const std::unordered_set<std::string>& ids);

    // Entries whose write or hear contains the trimmed query (case- and diacritic-insensitive);
    // all of them for an empty query.
    std::vector<DictionaryEntry> filtered(std::string_view query) const;

    // Built on first use after the entries change, with the expressions of unchanged rules
    // kept from the one before.
    DictionaryCorrector corrector() const;
    std::vector<std::string> biasPhrases() const { return DictionaryCorrector::biasPhrases(entries()); }
    // The controller's view of the dictionary: the current corrector applied to `text`.
    CorrectionResult applyCorrections(const std::string& text) override { return corrector().apply(text); }

    // True while the file on disk could not be read and will be moved aside by the next save.
    bool isFileUnreadable() const { return unreadable_; }
    // Why, naming the file ("… is a FIFO, not a regular file"); empty when it was read.
    const std::string& unreadableReason() const { return unreadableReason_; }
    bool isWatchingFile() const;
    // What the watcher calls on the main executor: reads the file and takes it when it
    // differs from what was last read or written.
    void reloadIfChanged();
    // Why the last save wrote nothing (empty after a successful one).
    const std::string& lastSaveError() const { return lastSaveError_; }
    // Where the last save moved an unreadable file, if it did.
    const std::optional<std::filesystem::path>& movedAsideFile() const { return movedAside_; }

private:
    void load();
    void take(FileRead read, bool keepingIds);
    bool change(const std::function<bool(std::vector<DictionaryEntry>&)>& apply);
    bool save();
    bool failSave(const std::string& reason);

    std::filesystem::path file_;
    Executor& executor_;
    Observable<std::vector<DictionaryEntry>> entries_;
    Observable<long> revision_{0};
    bool unreadable_ = false;
    std::string unreadableReason_;
    std::string lastSaveError_;
    std::optional<std::filesystem::path> movedAside_;
    // The file as last read or written; an event that leaves it as it was is not a change,
    // so entries keep their ids.
    std::unique_ptr<FileRead> lastRead_;
    mutable DictionaryCorrector corrector_;
    mutable long correctorRevision_ = -1;
    SequenceChecker sequence_;
    Lifetime lifetime_;
    std::unique_ptr<FileWatcher> watcher_;
};

}  // namespace zarn
