#pragma once

#include <QDialog>
#include <QWidget>

#include <filesystem>
#include <functional>

#include "app/DictionaryPanelModel.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace zarn::ui {

class EmptyStateView;

// The new-entry and edit-entry sheet over DictionaryEditorModel.
class DictionaryEditor final : public QDialog {
    Q_OBJECT
public:
    DictionaryEditor(DictionaryEditorModel model, const Strings& strings, QWidget* parent = nullptr);
    const DictionaryEditorModel& model() const { return model_; }
    QPushButton* saveButton() const { return save_; }
    QLineEdit* hearField() const { return hear_; }
    QLineEdit* writeField() const { return write_; }
    void setKind(DictionaryEntry::Kind kind);
    QStringList warningTexts() const;

private:
    void update();

    DictionaryEditorModel model_;
    Strings strings_;
    QButtonGroup* kinds_;
    QLabel* hearLabel_;
    QLineEdit* hear_;
    QLabel* writeLabel_;
    QLineEdit* write_;
    QWidget* warnings_;
    QVBoxLayout* warningLines_;
    QPushButton* save_;
};

// Shows a file in the user's file manager (FileManager1 over the session bus), or opens its
// folder when no file manager answers there.
void revealInFileManager(const std::filesystem::path& file);

// The "Dictionary" section.
class DictionaryPanel final : public QWidget {
    Q_OBJECT
public:
    DictionaryPanel(DictionaryPanelModel& model, std::filesystem::path file, std::function<Strings()> strings,
                    QWidget* parent = nullptr);
    void retranslate();
    void addEntry();
    void editRow(int row);
    QListWidget* list() const { return list_; }
    QLineEdit* searchField() const { return search_; }

Q_SIGNALS:
    // The editor that just opened (tests and screenshots reach it here).
    void editorOpened(DictionaryEditor* editor);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void openEditor(DictionaryEditorModel editor);
    void showContextMenu(const QPoint& at);

    DictionaryPanelModel& model_;
    std::filesystem::path file_;
    std::function<Strings()> strings_;
    QLineEdit* search_;
    QPushButton* add_;
    QStackedWidget* stack_;
    EmptyStateView* empty_;
    QListWidget* list_;
    QWidget* footer_;
    QLabel* count_;
    QPushButton* reveal_;
};

}  // namespace zarn::ui
