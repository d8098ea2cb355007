#include "dictionary/DictionaryStore.h"

#include <algorithm>
#include <deque>
#include <unordered_map>

#include "base/FileLock.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Unicode.h"
#include "base/FileWatcher.h"
#include "base/MainExecutor.h"

namespace zarn {

namespace fs = std::filesystem;

// What one read of the file found.
struct FileRead {
    paths::ReadStatus status = paths::ReadStatus::missing;
    bool ok = false;  // read and valid UTF-8
    std::string bytes;
    std::string problem;  // why it could not be used, naming the file
};

namespace {

FileRead readDictionaryFile(const fs::path& file) {
    FileRead read;
    // A dangling link counts as no file: the first save creates the file it points to.
    read.status = paths::readRegularFile(file, read.bytes, &read.problem);
    if (read.status == paths::ReadStatus::ok && !unicode::isValidUtf8(read.bytes)) {
        read.problem = file.string() + " is not readable as UTF-8 text";
    } else {
        read.ok = read.status == paths::ReadStatus::ok;
    }
    if (!read.ok) read.bytes.clear();
    return read;
}

bool sameRead(const FileRead& a, const FileRead& b) {
    return a.status == b.status && a.ok == b.ok && a.bytes == b.bytes && a.problem == b.problem;
}

// Entries read anew take the ids of equal entries held before, in order, so a change by id
// still finds its entry after another program changed other lines.
std::vector<DictionaryEntry> keepIds(std::vector<DictionaryEntry> fresh, const std::vector<DictionaryEntry>& held) {
    std::unordered_map<std::string, std::deque<std::string>> ids;
    for (const auto& entry : held) ids[entry.fileLine()].push_back(entry.id);
    for (auto& entry : fresh) {
        auto it = ids.find(entry.fileLine());
        if (it == ids.end() || it->second.empty()) continue;
        entry.id = std::move(it->second.front());
        it->second.pop_front();
    }
    return fresh;
}

}  // namespace

DictionaryStore::DictionaryStore(fs::path file, Executor& mainExecutor, bool watch)
    : file_(std::move(file)), executor_(mainExecutor) {
    // Watching starts before the first read, so no change can fall between the two.
    if (watch) {
        watcher_ = FileWatcher::make(file_, executor_, lifetime_.guard([this] { reloadIfChanged(); }));
    }
    load();
}

DictionaryStore::~DictionaryStore() {
    lifetime_.invalidate();
    watcher_.reset();
}

DictionaryStore& DictionaryStore::shared() {
    static DictionaryStore store(fileURL(), mainExecutor());
    return store;
}

fs::path DictionaryStore::fileURL() { return paths::dataDirectory() / "dictionary.txt"; }

Subscription DictionaryStore::observeEntries(std::function<void(const std::vector<DictionaryEntry>&)> observer) {
    return entries_.subscribe(std::move(observer));
}

Subscription DictionaryStore::observeRevision(std::function<void(const long&)> observer) {
    return revision_.subscribe(std::move(observer));
}

bool DictionaryStore::isWatchingFile() const { return watcher_ && watcher_->isWatchingFile(); }

void DictionaryStore::take(FileRead read, bool keepingIds) {
    unreadable_ = read.status != paths::ReadStatus::missing && !read.ok;
    unreadableReason_ = unreadable_ ? read.problem : std::string();
    if (read.ok) {
        auto entries = parse(read.bytes);
        entries_.set(keepingIds ? keepIds(std::move(entries), entries_.get()) : std::move(entries));
    } else {
        entries_.set({});
    }
    lastRead_ = std::make_unique<FileRead>(std::move(read));
    revision_.set(revision_.get() + 1);
}

void DictionaryStore::load() { take(readDictionaryFile(file_), false); }

void DictionaryStore::reloadIfChanged() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    // Our own saves come back as events too; an unchanged file keeps the entries (and ids).
    FileRead read = readDictionaryFile(file_);
    if (lastRead_ && read.ok && sameRead(read, *lastRead_)) return;
    take(std::move(read), false);
}

bool DictionaryStore::failSave(const std::string& reason) {
    lastSaveError_ = reason;
    Log::app().error("Dictionary not saved: %{public}s", reason);
    return false;
}

bool DictionaryStore::change(const std::function<bool(std::vector<DictionaryEntry>&)>& apply) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    lastSaveError_.clear();
    // The data folder may have been removed while the program ran.
    if (file_.has_parent_path()) paths::ensurePrivateDirectory(file_.parent_path());
    std::string error;
    FileLock lock(file_, &error);
    if (!lock) return failSave(error);
    // The change applies to the file as it is now, not to what was read before: another
    // process may have saved in between.
    FileRead read = readDictionaryFile(file_);
    if (!lastRead_ || !sameRead(read, *lastRead_)) take(std::move(read), true);
    auto entries = entries_.get();
    if (!apply(entries)) return true;
    entries_.set(std::move(entries));
    return save();
}

bool DictionaryStore::save() {
    revision_.set(revision_.get() + 1);
    if (unreadable_) {
        // What the user had is kept before anything is written; a FIFO or a device is never
        // moved or written over.
        std::string error;
        auto aside = lastRead_ && lastRead_->status == paths::ReadStatus::notRegular
                         ? std::nullopt
                         : paths::keepAside(file_, ".unreadable", &error);
        if (!aside) {
            return failSave(unreadableReason_ + "; not saving over it" + (error.empty() ? "" : " (" + error + ")"));
        }
        if (*aside != file_) {
            movedAside_ = *aside;
            Log::app().info("Dictionary file kept as %{public}s: %{public}s", aside->filename().string(),
                            unreadableReason_);
        }
        unreadable_ = false;  // the reason stays, for the caller to tell where the file went
    }
    std::string text = fileText(entries());
    std::string error;
    // A linked file (say, from a dotfiles folder) is written where it lives; the link stays.
    if (!paths::writeFileAtomically(file_, text, &error)) return failSave(error);
    FileRead written;
    written.status = paths::ReadStatus::ok;
    written.ok = true;
    written.bytes = std::move(text);
    lastRead_ = std::make_unique<FileRead>(std::move(written));
    // A save that created the file is watched from now on.
    if (watcher_) watcher_->rearm();
    return true;
}

bool DictionaryStore::add(const DictionaryEntry& entry) {
    return change([&](std::vector<DictionaryEntry>& entries) {
        entries.push_back(entry);
        return true;
    });
}

bool DictionaryStore::update(const DictionaryEntry& entry) {
    return change([&](std::vector<DictionaryEntry>& entries) {
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const DictionaryEntry& e) { return e.id == entry.id; });
        if (it == entries.end()) return false;
        *it = entry;
        return true;
    });
}

bool DictionaryStore::deleteEntry(const DictionaryEntry& entry) { return deleteIds({entry.id}); }

bool DictionaryStore::deleteIds(const std::unordered_set<std::string>& ids) {
    return change([&](std::vector<DictionaryEntry>& entries) {
        std::erase_if(entries, [&](const DictionaryEntry& e) { return ids.count(e.id) > 0; });
        return true;
    });
}

DictionaryCorrector DictionaryStore::corrector() const {
    if (correctorRevision_ != revision_.get()) {
        corrector_ = DictionaryCorrector(entries(), {}, &corrector_);
        correctorRevision_ = revision_.get();
    }
    return corrector_;
}

std::vector<DictionaryEntry> DictionaryStore::filtered(std::string_view query) const {
    std::string needle = unicode::trimWhitespaceAndNewlines(query);
    if (needle.empty()) return entries();
    std::vector<DictionaryEntry> out;
    for (const auto& entry : entries()) {
        if (unicode::localizedStandardContains(entry.write, needle) ||
            unicode::localizedStandardContains(entry.hear, needle)) {
            out.push_back(entry);
        }
    }
    return out;
}

}  // namespace zarn
