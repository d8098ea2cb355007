#pragma once

#include <QMainWindow>

#include "ui/Hud.h"
#include <QWidget>

#include <filesystem>
#include <functional>

#include "app/DictionaryPanelModel.h"
#include "app/TranscriptionListModel.h"

class QListWidget;
class QStackedWidget;
class QToolButton;

namespace zarn::ui {

class DictionaryPanel;
class TranscriptionList;

// The microphone level in the toolbar: a stand-in bar until the shared level meter of the
// floating display arrives.
// The main window: sidebar, the two sections and the toolbar. Draws and forwards only.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    struct Collaborators {
        TranscriptionListModel& transcriptions;
        DictionaryPanelModel& dictionary;
        std::filesystem::path dictionaryFile;
        std::function<Strings()> strings;
        RecordButton::Controls record;
        std::function<void()> openSettings;  // filled in by whoever owns the settings window
        std::function<void()> quit;
    };
    enum class Section { transcriptions, dictionary };

    explicit MainWindow(Collaborators collaborators, QWidget* parent = nullptr);

    // Call when the controller's state changes, and with each new microphone level.
    void controllerChanged(float level);
    void levelChanged(float level);
    void showSection(Section section);
    void retranslate();
    // Shows, raises and focuses the window.
    void bringToFront();

    TranscriptionList* transcriptionList() const { return transcriptionList_; }
    DictionaryPanel* dictionaryPanel() const { return dictionaryPanel_; }
    QToolButton* recordButton() const { return record_; }

private:
    void buildMenu();

    Collaborators c_;
    QListWidget* sidebar_;
    QStackedWidget* detail_;
    TranscriptionList* transcriptionList_;
    DictionaryPanel* dictionaryPanel_;
    QToolButton* record_;
    LevelMeter* meter_;
};

}  // namespace zarn::ui
