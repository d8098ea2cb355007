// The main window's view models: the transcription list on virtual time, the dictionary
// panel and its editor over real files.

#include <gtest/gtest.h>

#include "app/DictionaryPanelModel.h"
#include "app/TranscriptionListModel.h"
#include "base/ManualExecutor.h"
#include "base/Uuid.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using Content = TranscriptionListModel::Content;
Strings english() { return Strings::english(); }

class TranscriptionListTest : public ::testing::Test {
protected:
    void add(const std::vector<std::string>& texts) {
        for (const auto& text : texts) {
            store.record({.id = makeUuid(), .date = {}, .engine = "Nemotron (streaming)", .text = text, .corrections = {}});
        }
    }
    std::vector<std::string> visible() const {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < list.rowCount(); ++i) out.push_back(list.run(i).text);
        return out;
    }

    test::TempDir dir;
    ManualExecutor executor;
    RunStore store{std::make_shared<RunLog>(dir / "runs.jsonl"), executor, false};
    std::vector<std::string> clipboard;
    TranscriptionListModel list{{.main = executor, .store = store, .strings = english,
                                 .copyText = [this](const std::string& text) { clipboard.push_back(text); }}};
};

TEST_F(TranscriptionListTest, SearchNarrowsNewestFirstWhileTheFooterCountsEverything) {
    EXPECT_EQ(list.content(), Content::empty);
    EXPECT_EQ(list.emptyState().title, "No recordings");
    add({"Zoë's CAFÉ opens at eight", "buy milk", "Ёлка стоит до января"});
    struct Case {
        std::string query;
        std::vector<std::string> rows;
    };
    for (const Case& c : std::vector<Case>{
             {"", {"Ёлка стоит до января", "buy milk", "Zoë's CAFÉ opens at eight"}},
             {"  \n ", {"Ёлка стоит до января", "buy milk", "Zoë's CAFÉ opens at eight"}},
             {" zoe's cafe ", {"Zoë's CAFÉ opens at eight"}},
             {"ЕЛКА", {"Ёлка стоит до января"}},
             {"Nemotron", {}},  // the engine is not searched
         }) {
        list.setQuery(c.query);
        EXPECT_EQ(visible(), c.rows) << c.query;
        EXPECT_EQ(list.content(), c.rows.empty() ? Content::noMatches : Content::list) << c.query;
        EXPECT_EQ(list.footerText(), "3 recordings");
    }
    EXPECT_EQ(list.emptyState().title, "No matches");
}

TEST_F(TranscriptionListTest, DeletingTheLastMatchLeavesNoMatchesAndOneRunIsSingular) {
    add({"keep this", "drop this"});
    list.setQuery("drop");
    list.deleteRow(0);
    EXPECT_EQ(list.content(), Content::noMatches);
    list.setQuery("");
    EXPECT_EQ(visible(), std::vector<std::string>{"keep this"});
    EXPECT_EQ(list.footerText(), "1 recording");
    EXPECT_EQ(list.confirmationTitle(), "Delete all 1 recordings?");
}

TEST_F(TranscriptionListTest, DeleteAllAsksFirst) {
    add({"one", "two"});
    list.askToDeleteAll();
    EXPECT_TRUE(list.isConfirmingClear());
    list.cancelDeleteAll();
    EXPECT_FALSE(list.isConfirmingClear());
    EXPECT_EQ(store.runs().size(), 2u);
    list.confirmDeleteAll();  // no dialog open: nothing happens
    EXPECT_EQ(store.runs().size(), 2u);
    list.askToDeleteAll();
    list.confirmDeleteAll();
    EXPECT_EQ(list.content(), Content::empty);
}

TEST_F(TranscriptionListTest, CopyShowsCopiedUntilTheFirstFeedbackEnds) {
    add({"hello there"});
    list.copy(0);
    executor.advanceBy(1s);
    list.copy(0);
    EXPECT_EQ(clipboard, (std::vector<std::string>{"hello there", "hello there"}));
    EXPECT_EQ(list.copyLabel(0), "Copied");
    executor.advanceBy(399ms);
    EXPECT_TRUE(list.didCopy(0));
    executor.advanceBy(1ms);
    EXPECT_EQ(list.copyLabel(0), "Copy");
}

TEST(RecordButtonTest, StopsAnActiveDictationAndNeverStartsASecond) {
    bool active = false;
    std::vector<std::string> calls;
    RecordButton::Controls controls{.isActive = [&] { return active; },
                                    .start = [&] { calls.push_back("start"); },
                                    .stop = [&] { calls.push_back("stop"); }};
    EXPECT_EQ(RecordButton::current(controls, english()).label, "Record");
    RecordButton::press(controls);
    active = true;
    EXPECT_EQ(RecordButton::current(controls, english()).label, "Stop");
    RecordButton::press(controls);
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "stop"}));
}

TEST(DictionaryEditorTest, DraftAndValidity) {
    using Kind = DictionaryEntry::Kind;
    struct Case {
        Kind kind;
        std::string hear, write;
        bool valid;
        std::string draftHear;
        bool warns;
    };
    for (const Case& c : std::vector<Case>{
             {Kind::term, "", "", false, "", false},
             {Kind::term, "", "   ", false, "", false},
             {Kind::term, "heard", " Anthropic ", true, "", false},  // a term drops the heard text
             {Kind::correction, "", "Claude Code", false, "", false},
             {Kind::correction, " the ", "The", true, "the", true},
         }) {
        DictionaryEditorModel editor;
        editor.kind = c.kind;
        editor.hear = c.hear;
        editor.write = c.write;
        EXPECT_EQ(editor.isValid(), c.valid) << c.write;
        EXPECT_EQ(editor.draft().hear, c.draftHear);
        EXPECT_EQ(!editor.warnings().empty(), c.warns) << c.hear;
    }
    const DictionaryEditorModel fresh;
    EXPECT_EQ(fresh.title(english()), "New entry");
    EXPECT_EQ(fresh.kind, Kind::term);
    EXPECT_EQ(fresh.draft().id, fresh.draft().id);
    EXPECT_TRUE(fresh.draft().isEnabled);
}

TEST(DictionaryPanelTest, ToggleSearchVanishedEditsAndHandEdits) {
    test::TempDir dir;
    ManualExecutor executor;
    const auto file = dir / "dictionary.txt";
    test::writeFile(file, "# off: cloud code -> Claude Code\nAnthropic\n");
    DictionaryStore store(file, executor, false);
    DictionaryPanelModel panel(store, english);
    int changes = 0;
    panel.setOnChange([&] { ++changes; });
    ASSERT_EQ(panel.entries().size(), 2u);
    EXPECT_EQ(panel.toggleLabel(panel.entries()[0]), "On");
    panel.toggle(0);
    EXPECT_TRUE(store.entries()[0].isEnabled);

    panel.setQuery("zzz");
    EXPECT_EQ(panel.content(), DictionaryPanelModel::Content::noMatches);
    EXPECT_EQ(panel.footerText(), "2 entries");
    panel.setQuery("");

    DictionaryEditorModel editor = panel.editorFor(1);
    EXPECT_EQ(editor.title(english()), "Edit entry");
    editor.write = "Anthropic PBC";
    panel.deleteRow(1);
    EXPECT_TRUE(panel.save(editor));  // the entry is gone: nothing comes back
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(panel.entries().size(), 1u);

    // The store reads a hand edit (its watcher is tested with the store); the open panel follows.
    changes = 0;
    test::writeFile(file, "Anthropic\nPocketSphinx\n");
    store.reloadIfChanged();
    ASSERT_EQ(panel.entries().size(), 2u);
    EXPECT_EQ(panel.entries()[1].write, "PocketSphinx");
    EXPECT_GT(changes, 0);
}

}  // namespace
}  // namespace zarn
