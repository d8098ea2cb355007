// A window with one line edit, for the end-to-end tests: starts with argv[1] as its text and
// the caret at the end (or all of it selected with "--select-all" as argv[2]), prints "ready" once it has the keyboard focus and "text:<text>"
// after every change.

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Named as a terminal emulator would be, for the paste shortcut's choice.
    if (const char* name = std::getenv("ZARN_TEST_APP_NAME")) {
        QApplication::setApplicationName(name);
        QApplication::setApplicationDisplayName(name);
    }
    QWidget window;
    window.setWindowTitle("zarn line edit");
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit(&window);
    edit->setAccessibleName("field");
    layout->addWidget(edit);
    if (argc > 1) edit->setText(QString::fromUtf8(argv[1]));
    edit->end(false);
    if (argc > 2 && QString::fromUtf8(argv[2]) == "--select-all") edit->selectAll();
    QObject::connect(edit, &QLineEdit::textChanged, [](const QString& text) {
        std::printf("text:%s\n", text.toUtf8().constData());
        std::fflush(stdout);
    });
    window.show();
    QTimer poll;
    bool announced = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!window.isActiveWindow()) {
            window.activateWindow();
            edit->setFocus();
            return;
        }
        if (!announced && edit->hasFocus()) {
            announced = true;
            std::printf("ready\n");
            std::fflush(stdout);
        }
    });
    poll.start(20);
    return app.exec();
}
