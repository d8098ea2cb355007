#include "ui/MainWindow.h"

#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/DictionaryPanel.h"
#include "ui/TranscriptionList.h"
#include "ui/Widgets.h"

namespace zarn::ui {

MainWindow::MainWindow(Collaborators collaborators, QWidget* parent)
    : QMainWindow(parent), c_(std::move(collaborators)) {
    setWindowTitle("Zarn");
    setObjectName("main");
    resize(860, 620);
    setMinimumSize(820, 560);

    auto* splitter = new QSplitter(this);
    splitter->setChildrenCollapsible(false);
    auto* side = new QWidget(splitter);
    side->setMinimumWidth(180);
    side->setMaximumWidth(260);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(space::snug, space::base, space::snug, space::snug);
    auto* library = new QLabel(side);
    library->setObjectName("libraryHeading");
    QFont heading = library->font();
    heading.setPointSizeF(heading.pointSizeF() * 0.85);
    heading.setWeight(QFont::DemiBold);
    library->setFont(heading);
    QPalette secondary = library->palette();
    secondary.setColor(QPalette::WindowText, secondaryText(side));
    library->setPalette(secondary);
    library->setContentsMargins(space::snug, 0, 0, space::tight);
    sideLayout->addWidget(library);
    sidebar_ = new QListWidget(side);
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setIconSize({16, 16});
    sidebar_->setStyleSheet(
        "QListWidget { background: transparent; outline: none; }"
        "QListWidget::item { padding: 5px 4px; border-radius: 5px; color: palette(window-text); }"
        "QListWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
    new QListWidgetItem(themeIcon("audio-input-microphone"), QString(), sidebar_);
    new QListWidgetItem(themeIcon("accessories-dictionary"), QString(), sidebar_);
    sideLayout->addWidget(sidebar_, 1);

    detail_ = new QStackedWidget(splitter);
    transcriptionList_ = new TranscriptionList(c_.transcriptions, c_.strings, detail_);
    dictionaryPanel_ = new DictionaryPanel(c_.dictionary, c_.dictionaryFile, c_.strings, detail_);
    detail_->addWidget(transcriptionList_);
    detail_->addWidget(dictionaryPanel_);
    splitter->addWidget(side);
    splitter->addWidget(detail_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({200, 660});
    setCentralWidget(splitter);
    connect(sidebar_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) detail_->setCurrentIndex(row);
    });
    sidebar_->setCurrentRow(0);

    auto* toolbar = addToolBar("Zarn");
    toolbar->setObjectName("mainToolbar");
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setVisible(false);
    record_ = new QToolButton(toolbar);
    record_->setObjectName("recordButton");
    record_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // Red in both states, as a record control is on every platform.
    record_->setStyleSheet(QString("QToolButton#recordButton { color: %1; font-weight: 600; padding: 3px 8px; }")
                               .arg(recordRed().name()));
    connect(record_, &QToolButton::clicked, this, [this] {
        RecordButton::press(c_.record);
    });
    toolbar->addWidget(record_);
    auto* gap = new QWidget(toolbar);
    gap->setFixedWidth(space::base);
    toolbar->addWidget(gap);
    meter_ = new LevelMeter(toolbar);
    toolbar->addWidget(meter_);

    buildMenu();
    retranslate();
}

void MainWindow::buildMenu() {
    menuBar()->clear();
    const Strings strings = c_.strings();
    QMenu* menu = menuBar()->addMenu("&Zarn");
    menu->addAction(themeIcon("folder"), qs(strings.menu.revealDictionary), this,
                    [this] { revealInFileManager(c_.dictionaryFile); });
    QAction* settings = menu->addAction(themeIcon("preferences-system"), qs(strings.menu.settings), this, [this] {
        if (c_.openSettings) c_.openSettings();
    });
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setMenuRole(QAction::PreferencesRole);
    menu->addSeparator();
    QAction* quit = menu->addAction(themeIcon("application-exit"), qs(strings.menu.quit), this, [this] {
        if (c_.quit) c_.quit();
    });
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
}

void MainWindow::retranslate() {
    const Strings strings = c_.strings();
    findChild<QLabel*>("libraryHeading")->setText(qs(strings.sidebar.library));
    sidebar_->item(0)->setText(qs(strings.tabs.transcriptions));
    sidebar_->item(1)->setText(qs(strings.tabs.dictionary));
    buildMenu();
    transcriptionList_->retranslate();
    dictionaryPanel_->retranslate();
    controllerChanged(0);
}

void MainWindow::controllerChanged(float level) {
    const RecordButton face = RecordButton::current(c_.record, c_.strings());
    record_->setText(qs(face.label));
    record_->setIcon(drawnIcon(face.icon, recordRed()));
    meter_->setActive(face.stops);
    meter_->setLevel(level);
}

void MainWindow::levelChanged(float level) {
    meter_->setActive(c_.record.isActive());
    meter_->setLevel(level);
}

void MainWindow::showSection(Section section) { sidebar_->setCurrentRow(section == Section::dictionary ? 1 : 0); }

void MainWindow::bringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

}  // namespace zarn::ui
