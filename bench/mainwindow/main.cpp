// Main window figures over a long history: time from nothing to the list's first paint,
// one search keystroke (the first one folds every text; later ones reuse that), and a scroll
// from top to bottom with the slowest frame. Usage: bench_mainwindow [RUNS]
// Run on a real display or under Xvfb (QT_QPA_PLATFORM=xcb); offscreen works too.

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/Uuid.h"
#include "history/RunJson.h"
#include "ui/MainWindow.h"
#include "ui/QtExecutor.h"
#include "ui/TranscriptionList.h"

namespace {

using namespace zarn;

const char* const words[] = {"meeting", "coffee", "Zoë", "café", "deploy", "ёлка", "report", "Thursday", "review",
                             "dictionary", "branch", "parcel", "invoice", "garden", "погода", "письмо"};

DictationRun makeRun(int i) {
    DictationRun run;
    run.id = makeUuid();
    run.date = SystemTime(std::chrono::seconds(1'767'225'600 + i * 37));
    run.engine = i % 2 ? "Apple (streaming)" : "Nemotron (streaming)";
    run.processSeconds = 0.05 + (i % 13) * 0.0119;
    // Lengths vary from one line to several, as real dictations do.
    for (int w = 0; w < 8 + (i * 7) % 40; ++w) run.text += std::string(w ? " " : "") + words[(i * 31 + w * 7) % 16];
    if (i % 5 == 0) run.corrections = std::vector<AppliedCorrection>{{"zarn", "Zarn", 1}};
    return run;
}

// Runs the event loop until the list's viewport has painted once more.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* viewport) { viewport->installEventFilter(this); }
    bool painted = false;
    void waitForPaint() {
        painted = false;
        while (!painted) QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            // After the paint itself: mark from a posted call.
            QMetaObject::invokeMethod(this, [this] { painted = true; }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100'000;
    auto pattern = (std::filesystem::temp_directory_path() / "zarn-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const std::filesystem::path dir = pattern;
    {
        std::ofstream out(dir / "runs.jsonl", std::ios::binary);
        for (int i = 0; i < count; ++i) out << *encodeRunLine(makeRun(i)) << '\n';
    }
    ui::QtExecutor main(&app);

    QElapsedTimer clock;
    clock.start();
    RunStore runs(std::make_shared<RunLog>(dir / "runs.jsonl"), main, false);
    const double loaded = clock.nsecsElapsed() / 1e6;
    DictionaryStore dictionary(dir / "dictionary.txt", main, false);
    auto strings = [] { return Strings::english(); };
    TranscriptionListModel transcriptions({.main = main, .store = runs, .strings = strings, .copyText = nullptr});
    DictionaryPanelModel panel(dictionary, strings);
    ui::MainWindow window({.transcriptions = transcriptions,
                           .dictionary = panel,
                           .dictionaryFile = dictionary.file(),
                           .strings = strings,
                           .record = {.isActive = [] { return false; }, .start = [] {}, .stop = [] {}},
                           .openSettings = nullptr,
                           .quit = nullptr});
    QListView* list = window.transcriptionList()->listView();
    PaintWatch watch(list->viewport());
    window.show();
    watch.waitForPaint();
    const double firstPaint = clock.nsecsElapsed() / 1e6;
    std::printf("runs: %d\nhistory load: %.1f ms\nfirst paint of the list (load included): %.1f ms\n", runs.runs().size() ? count : 0,
                loaded, firstPaint);

    auto keystroke = [&](const char* key) {
        QElapsedTimer t;
        t.start();
        QTest::keyClicks(window.transcriptionList()->searchField(), key);
        watch.waitForPaint();
        return t.nsecsElapsed() / 1e6;
    };
    const double cold = keystroke("c");
    const double warm = keystroke("o");
    std::printf("search keystroke, first (folds every text): %.1f ms\nsearch keystroke, next: %.1f ms (%d rows match)\n", cold,
                warm, list->model()->rowCount());
    {
        // The same keystroke without widgets: the view model's share.
        QElapsedTimer t;
        t.start();
        transcriptions.setQuery("cof");
        std::printf("view model alone, next keystroke: %.1f ms\n", t.nsecsElapsed() / 1e6);
    }
    window.transcriptionList()->searchField()->clear();
    watch.waitForPaint();

    // Let the batched layout finish, timing each event-loop turn it takes.
    double worstLayoutTurn = 0;
    QScrollBar* bar = list->verticalScrollBar();
    QElapsedTimer layoutClock;
    layoutClock.start();
    // The view sets its scroll range once the last batch is laid out.
    // The view sets its scroll range once the last batch is laid out; every row is taller
    // than 30 px.
    while (bar->maximum() < 30 * list->model()->rowCount() && layoutClock.elapsed() < 60000) {
        QElapsedTimer t;
        t.start();
        QApplication::processEvents();
        worstLayoutTurn = std::max(worstLayoutTurn, t.nsecsElapsed() / 1e6);
    }
    std::printf("background layout and folding: %.0f ms, longest event-loop turn %.1f ms\n",
                layoutClock.nsecsElapsed() / 1e6, worstLayoutTurn);

    double worst = 0, total = 0;
    int frames = 0;
    const int step = list->viewport()->height() / 2;
    for (int y = 0; y <= bar->maximum(); y += step) {
        QElapsedTimer t;
        t.start();
        bar->setValue(y);
        list->viewport()->repaint();
        const double ms = t.nsecsElapsed() / 1e6;
        worst = std::max(worst, ms);
        total += ms;
        ++frames;
    }
    const QModelIndex last = list->indexAt(QPoint(10, list->viewport()->height() - 5));
    std::printf("scroll range %d px; bottom row shown: %d of %d\n", bar->maximum(), last.row() + 1, list->model()->rowCount());
    std::printf("scroll top to bottom: %d frames of half a page, mean %.2f ms, worst %.2f ms\n", frames, total / frames, worst);
    std::filesystem::remove_all(dir);
    return 0;
}
