#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/ManualExecutor.h"
#include "dictionary/DictionaryStore.h"
#include "support/LogCapture.h"
#include "support/MainExecutor.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

std::string withHeader(const std::string& lines) { return std::string(DictionaryStore::header) + lines; }

std::vector<std::string> writes(const std::vector<DictionaryEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.write);
    return out;
}

class DictionaryStoreTest : public ::testing::Test {
protected:
    fs::path file() const { return dir_ / "dictionary.txt"; }
    std::unique_ptr<DictionaryStore> makeStore() { return std::make_unique<DictionaryStore>(file(), executor_, false); }

    test::TempDir dir_;
    ManualExecutor executor_;
};

TEST_F(DictionaryStoreTest, LoadsTheFileInOrderAndAMissingOneAsEmpty) {
    auto none = makeStore();
    EXPECT_TRUE(none->entries().empty());
    EXPECT_FALSE(none->isFileUnreadable());
    EXPECT_FALSE(fs::exists(file())) << "loading creates nothing";
    writeFile(file(), withHeader("Foo\r\ncloud code -> Claude Code\n# off: Bar\n"));
    auto store = makeStore();
    EXPECT_EQ(writes(store->entries()), (std::vector<std::string>{"Foo", "Claude Code", "Bar"}));
    EXPECT_EQ(store->revision(), 1);
}

TEST_F(DictionaryStoreTest, EveryChangeRewritesTheWholeFile) {
    writeFile(file(), "# my own comment\n\nFoo\n");
    auto store = makeStore();
    store->add(DictionaryEntry::correction("cloud code", "Claude Code"));
    EXPECT_EQ(readFile(file()), withHeader("Foo\ncloud code -> Claude Code\n"));  // the hand comment is gone
    EXPECT_EQ(store->revision(), 2);

    auto second = store->entries()[1];
    second.isEnabled = false;
    store->update(second);
    EXPECT_EQ(readFile(file()), withHeader("Foo\n# off: cloud code -> Claude Code\n"));
    EXPECT_EQ(store->entries()[1], second);
    EXPECT_EQ(store->revision(), 3);

    store->deleteEntry(store->entries()[0]);
    EXPECT_EQ(readFile(file()), withHeader("# off: cloud code -> Claude Code\n"));
    EXPECT_EQ(store->revision(), 4);

    store->deleteIds({store->entries()[0].id});
    EXPECT_EQ(readFile(file()), withHeader("\n"));
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(store->revision(), 5);
}

TEST_F(DictionaryStoreTest, UpdateReplacesOnlyTheFirstWithThatId) {
    auto store = makeStore();
    DictionaryEntry twin("SAME", DictionaryEntry::Kind::term, "one");
    store->add(twin);
    store->add(DictionaryEntry::term("middle"));
    store->add(twin);
    DictionaryEntry changed("SAME", DictionaryEntry::Kind::term, "two");
    store->update(changed);
    EXPECT_EQ(writes(store->entries()), (std::vector<std::string>{"two", "middle", "one"}));
    // delete removes every entry bearing the id.
    store->deleteEntry(changed);
    EXPECT_EQ(writes(store->entries()), std::vector<std::string>{"middle"});
}

// An update of an unknown id writes nothing; deletes save even when nothing went. Observers
// of the entries hear real changes only; the revision counts every load and save.
TEST_F(DictionaryStoreTest, SavesAndNotificationsFollowRealChanges) {
    auto store = makeStore();
    int entryChanges = 0;
    std::vector<long> revisions;
    auto a = store->observeEntries([&](const std::vector<DictionaryEntry>&) { ++entryChanges; });
    auto b = store->observeRevision([&](const long& revision) { revisions.push_back(revision); });
    store->update(DictionaryEntry::term("ghost"));
    EXPECT_FALSE(fs::exists(file()));
    store->deleteIds({"not-there"});
    EXPECT_EQ(readFile(file()), withHeader("\n"));
    store->add(DictionaryEntry::term("Bar"));
    EXPECT_EQ(entryChanges, 1);
    EXPECT_EQ(revisions, (std::vector<long>{2, 3}));
}

TEST_F(DictionaryStoreTest, FilteredByLocalizedContainment) {
    writeFile(file(), "Caf\xC3\xA9\ncloud code -> Claude Code\nAnthropic\n");
    auto store = makeStore();
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
        {"   ", {"Caf\xC3\xA9", "Claude Code", "Anthropic"}}, {"cafe", {"Caf\xC3\xA9"}},
        {"  CLOUD \n", {"Claude Code"}}, {"an", {"Anthropic"}}, {"zzz", {}}};
    for (const auto& [query, expected] : cases) EXPECT_EQ(writes(store->filtered(query)), expected) << query;
}

TEST_F(DictionaryStoreTest, CorrectorAndBiasPhrasesFollowTheEntries) {
    writeFile(file(), "Anthropic\ncloud code -> Claude Code\n# off: foo -> Bar\n");
    auto store = makeStore();
    EXPECT_EQ(store->biasPhrases(), (std::vector<std::string>{"Anthropic", "Claude Code"}));
    DictionaryCorrections& corrections = *store;
    auto result = corrections.applyCorrections("cloud code and foo");
    EXPECT_EQ(result.text, "Claude Code and foo");
    EXPECT_EQ(result.applied, (std::vector<AppliedCorrection>{{"cloud code", "Claude Code", 1}}));
    store->add(DictionaryEntry::correction("foo", "Foo!"));
    EXPECT_EQ(corrections.applyCorrections("foo").text, "Foo!");
    EXPECT_EQ(store->corrector().ruleCount(), 2u);
}

TEST_F(DictionaryStoreTest, ItsOwnSaveReadBackKeepsIds) {
    auto store = makeStore();
    store->add(DictionaryEntry::term("Foo"));
    auto before = store->entries();
    long revision = store->revision();
    store->reloadIfChanged();  // what the watcher does after the save's own event
    EXPECT_EQ(store->entries(), before);
    EXPECT_EQ(store->revision(), revision);
    // A real change is read, with fresh ids.
    writeFile(file(), "Foo\nBar\n");
    store->reloadIfChanged();
    EXPECT_EQ(writes(store->entries()), (std::vector<std::string>{"Foo", "Bar"}));
    EXPECT_NE(store->entries()[0].id, before[0].id);
    EXPECT_EQ(store->revision(), revision + 1);
}

// A failed save keeps the entries in memory, tells the caller and logs why; a removed data
// folder is made again.
TEST_F(DictionaryStoreTest, FailedSaveIsReportedAndLoggedAndAMissingFolderIsMadeAgain) {
    writeFile(file(), "Foo\n");
    ::chmod(file().c_str(), 0444);  // made read-only by the user
    test::LogCapture log;
    auto store = makeStore();
    EXPECT_FALSE(store->add(DictionaryEntry::term("Bar")));
    EXPECT_EQ(writes(store->entries()), (std::vector<std::string>{"Foo", "Bar"}));
    EXPECT_EQ(store->lastSaveError(), file().string() + " is read-only; not replacing it");
    EXPECT_EQ(readFile(file()), "Foo\n");
    auto records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, Log::Level::error);
    EXPECT_EQ(records[0].category, "app");

    auto folder = dir_ / "gone" / "Zarn";
    DictionaryStore elsewhere(folder / "dictionary.txt", executor_, false);
    EXPECT_TRUE(elsewhere.add(DictionaryEntry::term("Baz")));
    EXPECT_EQ(readFile(folder / "dictionary.txt"), withHeader("Baz\n"));
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
}

// Each change applies to the file as it is at that moment, not to a copy read before.
TEST_F(DictionaryStoreTest, ChangesApplyToTheFileAsItIsNow) {
    auto first = makeStore();
    auto second = makeStore();
    first->add(DictionaryEntry::term("Foo"));
    second->add(DictionaryEntry::term("Bar"));
    first->add(DictionaryEntry::term("Baz"));
    auto foo = first->entries()[0];
    EXPECT_EQ(writes(first->entries()), (std::vector<std::string>{"Foo", "Bar", "Baz"}));
    second->deleteEntry(second->entries()[1]);  // Bar
    first->update(DictionaryEntry(foo.id, foo.kind, "Foo!", "", true));
    EXPECT_EQ(readFile(file()), withHeader("Foo!\nBaz\n"));
}

// A FIFO or a device is neither read (which would block or never end) nor written over.
TEST_F(DictionaryStoreTest, NoRegularFileIsNeitherReadNorReplaced) {
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    test::LogCapture log;
    auto store = makeStore();
    EXPECT_TRUE(store->isFileUnreadable());
    EXPECT_EQ(store->unreadableReason(), file().string() + " is a FIFO, not a regular file");
    EXPECT_FALSE(store->add(DictionaryEntry::term("Foo")));
    EXPECT_THAT(store->lastSaveError(), ::testing::HasSubstr("is a FIFO, not a regular file; not saving over it"));
    EXPECT_TRUE(fs::is_fifo(file()));
    EXPECT_FALSE(fs::exists(dir_ / "dictionary.txt.unreadable"));
}

TEST_F(DictionaryStoreTest, SavingThroughALinkKeepsTheLink) {
    fs::create_directory(dir_ / "dotfiles");
    writeFile(dir_ / "dotfiles" / "dictionary.txt", "Foo\n");
    fs::create_symlink(dir_ / "dotfiles" / "dictionary.txt", file());
    auto store = makeStore();
    store->add(DictionaryEntry::term("Bar"));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(readFile(dir_ / "dotfiles" / "dictionary.txt"), withHeader("Foo\nBar\n"));

    // A link to a file not made yet is no unreadable file: the save creates the file behind it.
    fs::create_symlink(dir_ / "dotfiles" / "later.txt", dir_ / "linked.txt");
    DictionaryStore dangling(dir_ / "linked.txt", executor_, false);
    EXPECT_FALSE(dangling.isFileUnreadable());
    dangling.add(DictionaryEntry::term("Baz"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "linked.txt"));
    EXPECT_EQ(readFile(dir_ / "dotfiles" / "later.txt"), withHeader("Baz\n"));
}

// A file that is not UTF-8 must survive the first save: it is moved aside, never overwritten.
TEST_F(DictionaryStoreTest, UnreadableFileIsMovedAsideBeforeTheFirstSave) {
    const std::string latin1 = "caf\xE9 -> Caf\xE9\nFoo\n";
    writeFile(file(), latin1);
    test::LogCapture log;
    auto store = makeStore();
    EXPECT_TRUE(store->entries().empty());
    EXPECT_TRUE(store->isFileUnreadable());
    EXPECT_EQ(readFile(file()), latin1);  // loading writes nothing

    store->add(DictionaryEntry::term("New"));
    EXPECT_EQ(readFile(dir_ / "dictionary.txt.unreadable"), latin1);
    EXPECT_EQ(readFile(file()), withHeader("New\n"));
    EXPECT_FALSE(store->isFileUnreadable());
    ASSERT_TRUE(store->movedAsideFile());
    EXPECT_EQ(*store->movedAsideFile(), dir_ / "dictionary.txt.unreadable");
    EXPECT_TRUE(log.contains("dictionary.txt.unreadable"));

    // Later saves leave the kept file alone.
    store->add(DictionaryEntry::term("Newer"));
    EXPECT_EQ(readFile(dir_ / "dictionary.txt.unreadable"), latin1);

    // A second unreadable file never replaces the first one kept.
    const std::string binary = std::string("\xFF\xFE\x00\x01", 4);
    writeFile(file(), binary);
    store->reloadIfChanged();
    EXPECT_TRUE(store->entries().empty());
    store->add(DictionaryEntry::term("Again"));
    EXPECT_EQ(readFile(dir_ / "dictionary.txt.unreadable"), latin1);
    EXPECT_EQ(readFile(dir_ / "dictionary.txt.unreadable-2"), binary);
    EXPECT_EQ(readFile(file()), withHeader("Again\n"));
}

TEST_F(DictionaryStoreTest, UnreadableFileRepairedByHandIsReadAgain) {
    writeFile(file(), "caf\xE9\n");
    auto store = makeStore();
    EXPECT_TRUE(store->isFileUnreadable());
    writeFile(file(), "caf\xC3\xA9\n");
    store->reloadIfChanged();
    EXPECT_FALSE(store->isFileUnreadable());
    store->add(DictionaryEntry::term("Foo"));
    EXPECT_FALSE(fs::exists(dir_ / "dictionary.txt.unreadable"));
    EXPECT_EQ(readFile(file()), withHeader("caf\xC3\xA9\nFoo\n"));
}

TEST_F(DictionaryStoreTest, UnreadableFileThatCannotBeMovedIsNotOverwritten) {
    writeFile(file(), "caf\xE9\n");
    // Every name it could be kept under is taken, and none may be replaced.
    writeFile(dir_ / "dictionary.txt.unreadable", "first");
    for (int n = 2; n <= 1000; ++n) writeFile(dir_ / ("dictionary.txt.unreadable-" + std::to_string(n)), "kept");
    test::LogCapture log;
    auto store = makeStore();
    store->add(DictionaryEntry::term("Foo"));
    EXPECT_EQ(readFile(file()), "caf\xE9\n");
    EXPECT_EQ(readFile(dir_ / "dictionary.txt.unreadable"), "first");
    EXPECT_FALSE(store->lastSaveError().empty());
    EXPECT_TRUE(store->isFileUnreadable());
    EXPECT_FALSE(store->movedAsideFile());
    EXPECT_EQ(writes(store->entries()), std::vector<std::string>{"Foo"});
    EXPECT_EQ(log.records().at(0).level, Log::Level::error);
}

TEST(DictionaryStoreShared, UsesTheDataFolderAndTheMainExecutor) {
    test::ScopedXdgHome home;
    EXPECT_EQ(DictionaryStore::fileURL(), home.dataHome() / "Zarn" / "dictionary.txt");
    EXPECT_TRUE(fs::is_directory(home.dataHome() / "Zarn"));
    EXPECT_EQ(&mainExecutor(), &test::mainExecutor());
    auto& store = DictionaryStore::shared();
    EXPECT_EQ(&store, &DictionaryStore::shared());
    EXPECT_EQ(store.file(), DictionaryStore::fileURL());
    store.add(DictionaryEntry::term("Foo"));
    EXPECT_EQ(readFile(home.dataHome() / "Zarn" / "dictionary.txt"), withHeader("Foo\n"));
}

}  // namespace
}  // namespace zarn
