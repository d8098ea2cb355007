// What only the widgets can get wrong: the list model's contract with Qt's views, clicks
// reaching the view models, the record button's face and the editor's Save button.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "base/ManualExecutor.h"
#include "base/Uuid.h"
#include "support/TempDir.h"
#include "ui/QtApp.h"
#include "ui/DictionaryPanel.h"
#include "ui/MainWindow.h"
#include "ui/TranscriptionList.h"

namespace zarn::ui {
namespace {

class MainWindowWidgetTest : public ::testing::Test {
protected:
    void add(const std::string& text) {
        runs.record({.id = makeUuid(), .date = {}, .engine = "Nemotron (streaming)", .text = text, .corrections = {}});
    }

    // First: every widget below needs the application.
    bool applicationMade = (test::ensureQApplication(), true);
    test::TempDir dir;
    ManualExecutor executor;
    RunStore runs{std::make_shared<RunLog>(dir / "runs.jsonl"), executor, false};
    DictionaryStore dictionary{dir / "dictionary.txt", executor, false};
    std::function<Strings()> strings = [] { return Strings::english(); };
    TranscriptionListModel transcriptions{{.main = executor, .store = runs, .strings = strings,
                                           .copyText = [](const std::string& text) {
                                               QGuiApplication::clipboard()->setText(QString::fromStdString(text));
                                           }}};
    DictionaryPanelModel panel{dictionary, strings};
    bool active = false;
    int starts = 0;
    MainWindow window{{.transcriptions = transcriptions,
                       .dictionary = panel,
                       .dictionaryFile = dictionary.file(),
                       .strings = strings,
                       .record = {.isActive = [this] { return active; }, .start = [this] { ++starts; }, .stop = [] {}},
                       .openSettings = nullptr,
                       .quit = nullptr}};
};

TEST_F(MainWindowWidgetTest, ListModelKeepsQtsContractThroughSearchDeleteAndCopy) {
    QListView* view = window.transcriptionList()->listView();
    QAbstractItemModelTester tester(view->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    window.show();
    add("first words");
    add("second words");
    ASSERT_EQ(view->model()->rowCount(), 2);
    EXPECT_EQ(view->model()->index(0, 0).data().toString(), "second words");
    window.transcriptionList()->searchField()->setText("FIRST");
    ASSERT_EQ(view->model()->rowCount(), 1);
    QApplication::processEvents();

    // The Copy label sits at the top right of the row.
    const QRect row = view->visualRect(view->model()->index(0, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(row.right() - 20, row.top() + 14));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "first words");
    EXPECT_EQ(view->model()->index(0, 0).data(RunListModel::copyLabelRole).toString(), "Copied");

    view->setCurrentIndex(view->model()->index(0, 0));
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(view->model()->rowCount(), 0);
    EXPECT_FALSE(view->isVisible());  // "No matches" instead
    EXPECT_EQ(runs.runs().size(), 1u);
}

TEST_F(MainWindowWidgetTest, RecordButtonFollowsTheControllerAndEditorGuardsSave) {
    QToolButton* record = window.recordButton();
    EXPECT_EQ(record->text(), "Record");
    record->click();
    EXPECT_EQ(starts, 1);
    active = true;
    window.controllerChanged(0.5f);
    EXPECT_EQ(record->text(), "Stop");

    DictionaryEditor* editor = nullptr;
    QObject::connect(window.dictionaryPanel(), &DictionaryPanel::editorOpened, [&](DictionaryEditor* e) { editor = e; });
    window.dictionaryPanel()->addEntry();
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    editor->setKind(DictionaryEntry::Kind::correction);
    QTest::keyClicks(editor->hearField(), "the");
    QTest::keyClicks(editor->writeField(), "The");
    EXPECT_TRUE(editor->saveButton()->isEnabled());
    EXPECT_FALSE(editor->warningTexts().isEmpty());
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_EQ(dictionary.entries().size(), 1u);
    EXPECT_EQ(dictionary.entries()[0].fileLine(), "the -> The");
}

}  // namespace
}  // namespace zarn::ui
