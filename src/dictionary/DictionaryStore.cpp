#include "dictionary/DictionaryStore.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Log.h"
#include "base/Paths.h"
#include "base/Unicode.h"
#include "dictionary/FileWatcher.h"
#include "base/MainExecutor.h"

namespace zarn {

namespace fs = std::filesystem;

namespace {

struct FileRead {
    bool exists = false;
    bool ok = false;  // read and valid UTF-8
    std::string bytes;
};

FileRead readDictionaryFile(const fs::path& file) {
    FileRead read;
    std::error_code ec;
    // A dangling link counts as no file: the first save creates the file it points to.
    read.exists = fs::exists(file, ec);
    if (!read.exists) return read;
    read.ok = paths::readFile(file, read.bytes) && fs::is_regular_file(file, ec) && unicode::isValidUtf8(read.bytes);
    if (!read.ok) read.bytes.clear();
    return read;
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

// The file a chain of symbolic links leads to, whether it exists or not.
fs::path linkTarget(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        fs::path next = fs::read_symlink(path, ec);
        if (ec) break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

}  // namespace

DictionaryStore::DictionaryStore(fs::path file, Executor& mainExecutor, bool watch)
    : file_(std::move(file)), executor_(mainExecutor) {
    // Watching starts before the first read, so no change can fall between the two.
    if (watch) {
        watcher_ = std::make_unique<FileWatcher>(file_, executor_, lifetime_.guard([this] { reloadIfChanged(); }));
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

void DictionaryStore::load() {
    FileRead read = readDictionaryFile(file_);
    unreadable_ = read.exists && !read.ok;
    if (read.ok) {
        entries_.set(parse(read.bytes));
        lastBytes_ = std::move(read.bytes);
    } else {
        entries_.set({});
        lastBytes_.reset();
    }
    revision_.set(revision_.get() + 1);
}

void DictionaryStore::reloadIfChanged() {
    // Our own saves come back as events too; an unchanged file keeps the entries (and ids).
    FileRead read = readDictionaryFile(file_);
    if (read.ok && lastBytes_ && read.bytes == *lastBytes_) return;
    load();
}

bool DictionaryStore::moveUnreadableFileAside() {
    std::string base = file_.filename().string() + ".unreadable";
    for (int n = 1; n <= 1000; ++n) {
        fs::path aside = file_.parent_path() / (n == 1 ? base : base + "-" + std::to_string(n));
        if (renameNoReplace(file_, aside)) {
            movedAside_ = aside;
            Log::app().info("Dictionary file was not readable as UTF-8 text; kept it as %{public}s",
                            aside.filename().string());
            return true;
        }
        if (errno == ENOENT) return true;  // gone meanwhile: nothing left to keep
        if (errno != EEXIST) break;
    }
    Log::app().error("Dictionary file is not readable as UTF-8 text and could not be moved aside (%{public}s); "
                     "not saving over it",
                     std::string(std::strerror(errno)));
    return false;
}

void DictionaryStore::save() {
    revision_.set(revision_.get() + 1);
    lastSaveError_.clear();
    if (unreadable_) {
        if (!moveUnreadableFileAside()) {
            lastSaveError_ = file_.string() + " is not readable as UTF-8 text and could not be moved aside";
            return;
        }
        unreadable_ = false;
    }
    std::string text = fileText(entries());
    // A linked file (say, from a dotfiles folder) is written where it lives; the link stays.
    if (paths::writeFileAtomically(linkTarget(file_), text, &lastSaveError_)) lastBytes_ = std::move(text);
    // A save that created the file is watched from now on.
    if (watcher_) watcher_->rearm();
}

void DictionaryStore::add(const DictionaryEntry& entry) {
    auto entries = entries_.get();
    entries.push_back(entry);
    entries_.set(std::move(entries));
    save();
}

void DictionaryStore::update(const DictionaryEntry& entry) {
    auto entries = entries_.get();
    auto it = std::find_if(entries.begin(), entries.end(), [&](const DictionaryEntry& e) { return e.id == entry.id; });
    if (it == entries.end()) return;
    *it = entry;
    entries_.set(std::move(entries));
    save();
}

void DictionaryStore::deleteEntry(const DictionaryEntry& entry) { deleteIds({entry.id}); }

void DictionaryStore::deleteIds(const std::unordered_set<std::string>& ids) {
    auto entries = entries_.get();
    std::erase_if(entries, [&](const DictionaryEntry& e) { return ids.count(e.id) > 0; });
    entries_.set(std::move(entries));
    save();
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
