// zarn_screenshots OUTDIR: renders the HUD in each state and the settings window in both
// languages, light and dark, to PNG files for the documentation (scripts/screenshots.sh).

#include <QApplication>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>

#include <functional>
#include <iostream>

#include "dictation/FakeDictation.h"
#include "ui/Hud.h"
#include "ui/SettingsWindow.h"

using namespace zarn;

namespace {

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x24, 0x24, 0x24), text(0xff, 0xff, 0xff, 0xde), base(0x3a, 0x3a, 0x3a);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window.lighter(115));
        p.setColor(group, QPalette::Button, window.lighter(130));
        p.setColor(group, QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) p.setColor(group, role, text);
    }
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    return p;
}

QPalette lightPalette() {
    QPalette p = QApplication::style()->standardPalette();
    p.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    return p;
}

// The capsule over a desktop-like backdrop, so its edge and translucency show.
QImage hudOnBackdrop(ui::HUDView& view, bool dark) {
    const int margin = 24;
    QImage image(view.size() + QSize(2 * margin, 2 * margin), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    QLinearGradient backdrop(0, 0, image.width(), image.height());
    backdrop.setColorAt(0, dark ? QColor(0x1d, 0x3b, 0x5a) : QColor(0xa8, 0xc8, 0xe8));
    backdrop.setColorAt(1, dark ? QColor(0x3d, 0x2a, 0x4f) : QColor(0xe8, 0xd8, 0xf0));
    painter.fillRect(image.rect(), backdrop);
    view.render(&painter, QPoint(margin, margin), QRegion(), QWidget::DrawChildren);
    return image;
}

bool save(const QImage& image, const QString& path) {
    if (image.save(path)) {
        std::cout << path.toStdString() << "\n";
        return true;
    }
    std::cerr << "zarn_screenshots: cannot write " << path.toStdString() << "\n";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: zarn_screenshots OUTDIR\n";
        return 2;
    }
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;

    struct HudState {
        const char* name;
        std::function<void(test::FakeDictation&)> drive;
    };
    const std::vector<HudState> states{
        {"starting", [](test::FakeDictation& d) { d.listen(); }},
        {"listening",
         [](test::FakeDictation& d) {
             d.listen();
             d.say("Let's meet on Thursday at ten, and bring the quarterly numbers for the review with "
                   "the whole team so we can decide on the budget");
             for (int i = 0; i < 6; ++i) d.level(0.6f);
         }},
        {"finishing",
         [](test::FakeDictation& d) {
             d.listen();
             d.finishing();
         }},
        {"error", [](test::FakeDictation& d) { d.fail(); }},
    };
    for (bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : lightPalette());
        const QString suffix = dark ? "-dark" : "";
        for (const auto& state : states) {
            test::FakeDictation dictation;
            ui::HUDView view(*dictation.controller, dictation.settings);
            view.setTranslucent(true);
            state.drive(dictation);
            // The meter's 0.08 s glide ends before the picture is taken.
            for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(100);
            QApplication::processEvents();
            ok &= save(hudOnBackdrop(view, dark), out.filePath(QString("hud-%1%2.png").arg(state.name, suffix)));
        }
        for (AppLanguage language : {AppLanguage::en, AppLanguage::ru}) {
            test::FakeDictation dictation;
            test::TempDir config;
            Autostart autostart(config / "zarn-app.desktop");
            dictation.settings.setLanguage(language);
            SettingsModel model({.settings = dictation.settings,
                                 .systemSpeechSupported = [language] { return language == AppLanguage::en; },
                                 .autostart = autostart,
                                 .modelMegabytes = 716});
            ui::SettingsWindow window(model);
            window.show();
            QApplication::processEvents();
            const QString name = QString("settings-%1%2.png").arg(QString::fromStdString(std::string(language.rawValue())), suffix);
            ok &= save(window.grab().toImage(), out.filePath(name));
        }
    }
    return ok ? 0 : 1;
}
