#include "ui/DictionaryPanel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/Widgets.h"

namespace zarn::ui {

DictionaryEditor::DictionaryEditor(DictionaryEditorModel model, const Strings& strings, QWidget* parent)
    : QDialog(parent), model_(std::move(model)), strings_(strings) {
    const auto& d = strings_.dictionary;
    setWindowTitle(qs(model_.title(strings_)));
    setFixedWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(space::base);

    auto* title = new QLabel(qs(model_.title(strings_)), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    // The segmented kind picker: two joined, exclusive buttons.
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    kinds_ = new QButtonGroup(this);
    int id = 0;
    for (const auto& [label, kind] : {std::pair{d.kindTerm, DictionaryEntry::Kind::term},
                                      std::pair{d.kindCorrection, DictionaryEntry::Kind::correction}}) {
        auto* button = new QPushButton(qs(label), this);
        button->setCheckable(true);
        button->setChecked(kind == model_.kind);
        button->setAutoDefault(false);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        kinds_->addButton(button, id++);
        segments->addWidget(button);
    }
    layout->addLayout(segments);
    connect(kinds_, &QButtonGroup::idClicked, this, [this](int which) {
        setKind(which == 1 ? DictionaryEntry::Kind::correction : DictionaryEntry::Kind::term);
    });

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    hearLabel_ = new QLabel(qs(d.whenYouHear), this);
    hear_ = new QLineEdit(qs(model_.hear), this);
    hear_->setPlaceholderText("клод код");
    writeLabel_ = new QLabel(this);
    write_ = new QLineEdit(qs(model_.write), this);
    form->addRow(hearLabel_, hear_);
    form->addRow(writeLabel_, write_);
    layout->addLayout(form);

    warnings_ = new QWidget(this);
    warningLines_ = new QVBoxLayout(warnings_);
    warningLines_->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(warnings_);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(qs(d.cancel), QDialogButtonBox::RejectRole);
    save_ = buttons->addButton(qs(d.save), QDialogButtonBox::AcceptRole);
    save_->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (model_.isValid()) accept();
    });
    connect(hear_, &QLineEdit::textChanged, this, [this](const QString& text) {
        model_.hear = text.toStdString();
        update();
    });
    connect(write_, &QLineEdit::textChanged, this, [this](const QString& text) {
        model_.write = text.toStdString();
        update();
    });
    update();
    (model_.kind == DictionaryEntry::Kind::correction ? hear_ : write_)->setFocus();
}

void DictionaryEditor::setKind(DictionaryEntry::Kind kind) {
    model_.kind = kind;
    kinds_->button(kind == DictionaryEntry::Kind::correction ? 1 : 0)->setChecked(true);
    update();
}

QStringList DictionaryEditor::warningTexts() const {
    QStringList texts;
    for (const auto& warning : model_.warnings()) texts << qs(warning.message);
    return texts;
}

void DictionaryEditor::update() {
    const auto& d = strings_.dictionary;
    const bool correction = model_.kind == DictionaryEntry::Kind::correction;
    hearLabel_->setVisible(correction);
    hear_->setVisible(correction);
    writeLabel_->setText(qs(correction ? d.write : d.wordOrPhrase));
    write_->setPlaceholderText(correction ? "Claude Code" : "Anthropic");
    save_->setEnabled(model_.isValid());

    while (QLayoutItem* item = warningLines_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QStringList texts = warningTexts();
    for (const QString& text : texts) {
        auto* row = new QWidget(warnings_);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto* mark = new QLabel(row);
        // Orange whatever the icon theme draws.
        QPixmap icon = themeIcon("dialog-warning").pixmap(14, 14);
        QPainter painter(&icon);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(icon.rect(), QColor(0xff, 0x95, 0x00));
        painter.end();
        mark->setPixmap(icon);
        mark->setAlignment(Qt::AlignTop);
        auto* label = new QLabel(text, row);
        label->setWordWrap(true);
        QFont small = label->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        label->setFont(small);
        rowLayout->addWidget(mark, 0, Qt::AlignTop);
        rowLayout->addWidget(label, 1);
        warningLines_->addWidget(row);
    }
    warnings_->setVisible(!texts.isEmpty());
    adjustSize();
}

void revealInFileManager(const std::filesystem::path& file) {
    const QString uri = QUrl::fromLocalFile(QString::fromStdString(file.string())).toString();
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
    }
}

namespace {

// One entry: switch, kind, heard → written; half opacity when off.
QWidget* makeRow(const DictionaryEntry& entry, const std::string& kind, QWidget* parent, std::function<void()> toggle) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(space::base, space::tight, space::base, space::tight);
    layout->setSpacing(space::snug + 2);
    auto* enabled = new QCheckBox(row);
    enabled->setChecked(entry.isEnabled);
    // Queued: the toggle rebuilds the list, this switch included.
    QObject::connect(enabled, &QCheckBox::clicked, row, [toggle = std::move(toggle)] { toggle(); }, Qt::QueuedConnection);
    layout->addWidget(enabled);
    auto* kindLabel = new QLabel(qs(kind), row);
    kindLabel->setFixedWidth(54);
    QFont caption = kindLabel->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    caption.setWeight(QFont::DemiBold);
    kindLabel->setFont(caption);
    QPalette secondary = kindLabel->palette();
    secondary.setColor(QPalette::WindowText, secondaryText(row));
    kindLabel->setPalette(secondary);
    layout->addWidget(kindLabel);
    if (entry.kind == DictionaryEntry::Kind::correction) {
        auto* hear = new QLabel(qs(entry.hear), row);
        hear->setPalette(secondary);
        layout->addWidget(hear);
        auto* arrow = new QLabel(row);
        arrow->setPixmap(themeIcon("go-next").pixmap(12, 12, QIcon::Disabled));
        layout->addWidget(arrow);
    }
    auto* write = new QLabel(qs(entry.write), row);
    QFont medium = write->font();
    medium.setWeight(QFont::Medium);
    write->setFont(medium);
    layout->addWidget(write);
    layout->addStretch(1);
    if (!entry.isEnabled) {
        auto* dim = new QGraphicsOpacityEffect(row);
        dim->setOpacity(0.5);
        row->setGraphicsEffect(dim);
    }
    return row;
}

}  // namespace

DictionaryPanel::DictionaryPanel(DictionaryPanelModel& model, std::filesystem::path file, std::function<Strings()> strings,
                                 QWidget* parent)
    : QWidget(parent),
      model_(model),
      file_(std::move(file)),
      strings_(std::move(strings)),
      search_(new QLineEdit(this)),
      add_(new QPushButton(this)),
      stack_(new QStackedWidget(this)),
      empty_(new EmptyStateView(this)),
      list_(new QListWidget(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(space::base, space::snug, space::base, space::snug);
    search_->setClearButtonEnabled(true);
    search_->addAction(themeIcon("edit-find"), QLineEdit::LeadingPosition);
    add_->setIcon(themeIcon("list-add"));
    add_->setShortcut(QKeySequence::New);
    top->setSpacing(space::snug);
    top->addWidget(search_, 1);
    top->addWidget(add_);
    layout->addLayout(top);

    list_->setFrameShape(QFrame::NoFrame);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->installEventFilter(this);
    stack_->addWidget(empty_);
    stack_->addWidget(list_);
    layout->addWidget(stack_, 1);

    reveal_ = makeLinkButton(this);
    reveal_->setToolTip(QString::fromStdString(file_.string()));
    footer_ = makeFooter(count_, reveal_, this);
    layout->addWidget(footer_);

    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) { model_.setQuery(text.toStdString()); });
    connect(add_, &QPushButton::clicked, this, &DictionaryPanel::addEntry);
    connect(reveal_, &QPushButton::clicked, this, [this] { revealInFileManager(file_); });
    connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { editRow(list_->row(item)); });
    connect(list_, &QListWidget::customContextMenuRequested, this, &DictionaryPanel::showContextMenu);
    model_.setOnChange([this] { refresh(); });
    retranslate();
}

void DictionaryPanel::retranslate() {
    const auto& d = strings_().dictionary;
    search_->setPlaceholderText(qs(d.searchPlaceholder));
    add_->setText(qs(d.add));
    reveal_->setText(qs(d.revealFile));
    refresh();
}

void DictionaryPanel::refresh() {
    const int current = list_->currentRow();
    list_->clear();
    const auto& entries = model_.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto* item = new QListWidgetItem(list_);
        QWidget* row = makeRow(entries[i], model_.kindLabel(entries[i]), list_, [this, i] { model_.toggle(i); });
        item->setSizeHint(row->sizeHint());
        list_->setItemWidget(item, row);
    }
    if (current >= 0 && current < list_->count()) list_->setCurrentRow(current);
    const bool showList = model_.content() == DictionaryPanelModel::Content::list;
    if (!showList) {
        const EmptyState state = model_.emptyState();
        empty_->show(state.icon, state.title, state.detail);
    }
    stack_->setCurrentWidget(showList ? static_cast<QWidget*>(list_) : empty_);
    footer_->setVisible(showList);
    count_->setText(qs(model_.footerText()));
}

void DictionaryPanel::addEntry() { openEditor(model_.editorForNew()); }

void DictionaryPanel::editRow(int row) {
    if (row >= 0 && static_cast<std::size_t>(row) < model_.entries().size()) openEditor(model_.editorFor(static_cast<std::size_t>(row)));
}

void DictionaryPanel::openEditor(DictionaryEditorModel editor) {
    auto* sheet = new DictionaryEditor(std::move(editor), strings_(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::accepted, this, [this, sheet] { model_.save(sheet->model()); });
    sheet->open();
    Q_EMIT editorOpened(sheet);
}

void DictionaryPanel::showContextMenu(const QPoint& at) {
    const int row = list_->row(list_->itemAt(at));
    if (row < 0) return;
    const auto& d = strings_().dictionary;
    const DictionaryEntry entry = model_.entries().at(static_cast<std::size_t>(row));
    QMenu menu(this);
    menu.addAction(qs(d.edit), [this, row] { editRow(row); });
    menu.addAction(qs(model_.toggleLabel(entry)), [this, row] { model_.toggle(static_cast<std::size_t>(row)); });
    menu.addSeparator();
    menu.addAction(themeIcon("edit-delete"), qs(d.delete_), [this, row] { model_.deleteRow(static_cast<std::size_t>(row)); });
    menu.exec(list_->viewport()->mapToGlobal(at));
}

bool DictionaryPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Delete) && list_->currentRow() >= 0) {
            model_.deleteRow(static_cast<std::size_t>(list_->currentRow()));
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && list_->currentRow() >= 0) {
            editRow(list_->currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace zarn::ui
