// zarn_mainwindow_shots OUTDIR: renders the main window's sections, empty and filled, in
// English and Russian, over sample data in a temporary folder, as PNGs for docs/.

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/DictionaryPanelModel.h"
#include "app/TranscriptionListModel.h"
#include "dictionary/DictionaryStore.h"
#include "base/Uuid.h"
#include "history/RunStore.h"
#include "ui/DictionaryPanel.h"
#include "ui/MainWindow.h"
#include "ui/QtExecutor.h"
#include "ui/TranscriptionList.h"

namespace {

using namespace zarn;
namespace fs = std::filesystem;

struct Sample {
    const char* text;
    const char* engine;
    double seconds;
    int minutesAgo;
    std::vector<AppliedCorrection> corrections;
};

std::vector<Sample> samples(bool russian) {
    if (russian) {
        return {
            {"Созвон с командой перенесли на четверг, в 15:00. Нужно подготовить демо и короткий отчёт по задачам.",
             "Nemotron (streaming)", 0.42, 95, {}},
            {"Открой Claude Code и запусти тесты для модуля словаря.", "Nemotron (streaming)", 0.31, 64,
             {{"клод код", "Claude Code", 1}}},
            {"Купить молоко, хлеб и кофе. Забрать посылку на почте до шести.", "Apple (streaming)", 0.27, 30, {}},
            {"Привет! Спасибо за письмо — ёлка в офисе будет стоять до конца января.", "Nemotron (streaming)", 0.38, 5, {}},
        };
    }
    return {
        {"Move the team call to Thursday at 3 pm and prepare a short demo of the dictionary panel.", "Nemotron (streaming)",
         0.42, 95, {}},
        {"Open Claude Code and run the tests for the dictionary module, then push the branch.", "Nemotron (streaming)", 0.31,
         64, {{"cloud code", "Claude Code", 1}}},
        {"Buy milk, bread and coffee. Pick up the parcel at the post office before six.", "Apple (streaming)", 0.27, 30, {}},
        {"Zoë's café on Rue Descartes opens at eight; let's meet there before the review.", "Nemotron (streaming)", 0.38, 5,
         {}},
    };
}

void save(QWidget* widget, const fs::path& file) {
    // Let delayed layouts and the window manager's map settle.
    QEventLoop settle;
    QTimer::singleShot(150, &settle, &QEventLoop::quit);
    settle.exec();
    if (!widget->grab().save(QString::fromStdString(file.string()))) std::cerr << "could not write " << file << "\n";
}

void shoot(const fs::path& out, AppLanguage::Resolved language, Executor& main) {
    const bool russian = language == AppLanguage::Resolved::ru;
    QLocale::setDefault(QLocale(russian ? "ru_RU" : "en_US"));
    const std::string lang = russian ? "ru" : "en";
    char pattern[] = "/tmp/zarn-shots-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    RunStore runs(std::make_shared<RunLog>(dir / "runs.jsonl"), main, false);
    DictionaryStore dictionary(dir / "dictionary.txt", main, false);
    auto strings = [language] { return Strings::table(language); };
    TranscriptionListModel transcriptions({.main = main, .store = runs, .strings = strings, .copyText = nullptr});
    DictionaryPanelModel panel(dictionary, strings);
    bool active = false;
    ui::MainWindow window({.transcriptions = transcriptions,
                           .dictionary = panel,
                           .dictionaryFile = dictionary.file(),
                           .strings = strings,
                           .record = {.isActive = [&active] { return active; }, .start = [] {}, .stop = [] {}},
                           .openSettings = nullptr,
                           .quit = nullptr});
    window.show();
    const fs::path prefix = out / ("mainwindow-" + lang + "-");
    save(&window, prefix.string() + "transcriptions-empty.png");

    const auto now = std::chrono::system_clock::now();
    for (const Sample& sample : samples(russian)) {
        DictationRun run{.id = makeUuid(), .date = now - std::chrono::minutes(sample.minutesAgo), .engine = sample.engine,
                         .audioSeconds = 4, .processSeconds = sample.seconds, .text = sample.text, .corrections = std::nullopt};
        if (!sample.corrections.empty()) run.corrections = sample.corrections;
        runs.record(run);
    }
    save(&window, prefix.string() + "transcriptions-list.png");
    window.transcriptionList()->searchField()->setText(russian ? "елка" : "cafe");
    save(&window, prefix.string() + "transcriptions-search.png");
    window.transcriptionList()->searchField()->clear();

    window.showSection(ui::MainWindow::Section::dictionary);
    save(&window, prefix.string() + "dictionary-empty.png");
    dictionary.add(DictionaryEntry::term("Anthropic"));
    dictionary.add(DictionaryEntry::correction(russian ? "клод код" : "cloud code", "Claude Code"));
    dictionary.add(DictionaryEntry::term("PocketSphinx"));
    dictionary.add(DictionaryEntry(DictionaryEntry::Kind::correction, "Zarn", "czarn", false));
    dictionary.add(DictionaryEntry::correction(russian ? "гит хаб" : "git hub", "GitHub"));
    save(&window, prefix.string() + "dictionary-list.png");
    window.dictionaryPanel()->searchField()->setText("claude");
    save(&window, prefix.string() + "dictionary-search.png");
    window.dictionaryPanel()->searchField()->clear();

    ui::DictionaryEditor* editor = nullptr;
    QObject::connect(window.dictionaryPanel(), &ui::DictionaryPanel::editorOpened,
                     [&editor](ui::DictionaryEditor* opened) { editor = opened; });
    window.dictionaryPanel()->addEntry();
    editor->setKind(DictionaryEntry::Kind::correction);
    editor->hearField()->setText("the");
    editor->writeField()->setText("The");
    save(editor, prefix.string() + "editor-warning.png");
    editor->reject();
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: zarn_mainwindow_shots OUTDIR\n";
        return 2;
    }
    ui::QtExecutor main(&app);
    for (auto language : {AppLanguage::Resolved::en, AppLanguage::Resolved::ru}) shoot(argv[1], language, main);
    return 0;
}
