// The store's watcher on real files: every change is made by a second party (as an editor
// would) and the test waits on the event loop until the store has seen it.

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>

#include "base/EventLoop.h"
#include "dictionary/DictionaryStore.h"
#include "base/FileWatcher.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::writeFile;

constexpr auto patience = 10s;

std::vector<std::string> writes(const DictionaryStore& store) {
    std::vector<std::string> out;
    for (const auto& e : store.entries()) out.push_back(e.write);
    return out;
}

class DictionaryWatcherTest : public ::testing::Test {
protected:
    fs::path file() const { return dir_ / "dictionary.txt"; }

    bool waitForWrites(const DictionaryStore& store, const std::vector<std::string>& expected) {
        bool seen = loop_.runUntil([&] { return writes(store) == expected; }, patience);
        EXPECT_TRUE(seen) << "still " << ::testing::PrintToString(writes(store));
        return seen;
    }

    // An editor's save: a new file written beside the old one, renamed over it.
    void replaceByRename(const std::string& text) {
        writeFile(dir_ / ".dictionary.txt.swp", text);
        fs::rename(dir_ / ".dictionary.txt.swp", file());
    }

    void append(const std::string& text) {
        std::ofstream out(file(), std::ios::app | std::ios::binary);
        out << text;
    }

    test::TempDir dir_;
    EventLoop loop_;
};

// Edits in place, growth after truncation, and a file that appears later (made by hand or
// by our own save) are all seen.
TEST_F(DictionaryWatcherTest, EditsInPlaceAndNewFilesAreSeen) {
    DictionaryStore store(file(), loop_);
    EXPECT_FALSE(store.isWatchingFile());
    writeFile(file(), "Foo\n# off: x -> Y\n");
    waitForWrites(store, {"Foo", "Y"});
    EXPECT_TRUE(store.isWatchingFile());
    append("Bar\n");
    waitForWrites(store, {"Foo", "Y", "Bar"});
    writeFile(file(), "cloud code -> Claude Code\n");
    waitForWrites(store, {"Claude Code"});

    DictionaryStore saved(dir_ / "other.txt", loop_);
    saved.add(DictionaryEntry::term("Foo"));
    EXPECT_TRUE(saved.isWatchingFile());
    std::ofstream(dir_ / "other.txt", std::ios::app) << "Bar\n";
    waitForWrites(saved, {"Foo", "Bar"});
}

// Deleted or renamed away, the file's entries go; a file made again at the name is read,
// and edits of the moved file are no longer ours.
TEST_F(DictionaryWatcherTest, DeleteOrRenameAwayEmptiesTheDictionary) {
    writeFile(file(), "Foo\n");
    DictionaryStore store(file(), loop_);
    long revision = store.revision();
    fs::remove(file());
    waitForWrites(store, {});
    EXPECT_GT(store.revision(), revision);
    EXPECT_FALSE(store.isWatchingFile());
    writeFile(file(), "Back\n");
    waitForWrites(store, {"Back"});
    fs::rename(file(), dir_ / "old-dictionary.txt");
    waitForWrites(store, {});
    writeFile(dir_ / "old-dictionary.txt", "Elsewhere\n");
    writeFile(file(), "Here\n");
    waitForWrites(store, {"Here"});
}

TEST_F(DictionaryWatcherTest, ReplaceByRenameIsSeenAndWatchedAgain) {
    writeFile(file(), "Foo\n");
    DictionaryStore store(file(), loop_);
    replaceByRename("One\n");
    waitForWrites(store, {"One"});
    // The new file is watched: a later in-place edit is seen too, and so is a second replacement.
    append("Two\n");
    waitForWrites(store, {"One", "Two"});
    replaceByRename("Three\n");
    waitForWrites(store, {"Three"});
}

TEST_F(DictionaryWatcherTest, OwnSavesAreNotReadBackAsChanges) {
    writeFile(file(), "Foo\n");
    DictionaryStore store(file(), loop_);
    store.add(DictionaryEntry::term("Bar"));
    store.add(DictionaryEntry::term("Baz"));
    long revision = store.revision();
    // The events of our two saves come before those of this edit: only the edit is a load.
    append("Qux\n");
    waitForWrites(store, {"Foo", "Bar", "Baz", "Qux"});
    EXPECT_EQ(store.revision(), revision + 1);
}

TEST_F(DictionaryWatcherTest, LinkedFileEditsAreSeen) {
    fs::create_directory(dir_ / "dotfiles");
    auto target = dir_ / "dotfiles" / "dictionary.txt";
    writeFile(target, "Foo\n");
    fs::create_symlink(target, file());
    DictionaryStore store(file(), loop_);
    std::ofstream(target, std::ios::app) << "Bar\n";
    waitForWrites(store, {"Foo", "Bar"});
}

TEST_F(DictionaryWatcherTest, StoreGoneBeforeItsReloadRuns) {
    writeFile(file(), "Foo\n");
    auto store = std::make_unique<DictionaryStore>(file(), loop_);
    // A watcher of our own tells when the kernel has reported the edit.
    bool reported = false;
    auto probe = FileWatcher::make(file(), loop_, [&] { reported = true; });
    append("Bar\n");
    ASSERT_TRUE(loop_.runUntil([&] { return reported; }, patience));
    store.reset();  // its reload may still be queued: it must do nothing
    append("Baz\n");
    reported = false;
    ASSERT_TRUE(loop_.runUntil([&] { return reported; }, patience));
}

TEST(FileWatcher, StopsCleanlyAndReportsNothingAfterwards) {
    test::TempDir dir;
    EventLoop loop;
    int calls = 0;
    auto watcher = FileWatcher::make(dir / "f.txt", loop, [&] { ++calls; });
    EXPECT_TRUE(watcher->isRunning());
    writeFile(dir / "f.txt", "x");
    ASSERT_TRUE(loop.runUntil([&] { return calls > 0; }, patience));
    writeFile(dir / "f.txt", "y");
    watcher.reset();  // joins the thread: whatever it posted is queued before the sentinel
    int before = calls;
    bool drained = false;
    loop.post([&] { drained = true; });
    ASSERT_TRUE(loop.runUntil([&] { return drained; }, patience));
    EXPECT_EQ(calls, before);
}

}  // namespace
}  // namespace zarn
