#include "ui/TranscriptionList.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QHash>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include "ui/Widgets.h"

namespace zarn::ui {

RunListModel::RunListModel(TranscriptionListModel& model, QObject* parent) : QAbstractListModel(parent), model_(model) {}

int RunListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(model_.rowCount());
}

QVariant RunListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const DictationRun& run = model_.run(row);
    switch (role) {
    case Qt::DisplayRole:
        return qs(run.text);
    case engineRole:
        return qs(run.engine);
    case secondsRole:
        return QString::asprintf("%.2fs", run.processSeconds);
    case dateRole: {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(run.date.time_since_epoch()).count();
        return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).time(), QLocale::ShortFormat);
    }
    case copyLabelRole:
        return qs(model_.copyLabel(row));
    case correctionsRole: {
        QStringList badges;
        if (run.corrections) {
            for (const auto& c : *run.corrections) badges << qs(c.from + " → " + c.to);
        }
        return badges;
    }
    default:
        return {};
    }
}

void RunListModel::reset() {
    beginResetModel();
    endResetModel();
}

void RunListModel::rowLooksChanged(std::size_t row) {
    const QModelIndex at = index(static_cast<int>(row));
    Q_EMIT dataChanged(at, at, {copyLabelRole});
}

namespace {

QFont captionFont(const QFont& base, bool semibold = false, double scale = 0.85) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * scale);
    if (semibold) font.setWeight(QFont::DemiBold);
    return font;
}

// Greedy word wrapping with the width of each word measured once per font: a long history
// is laid out row by row before it can scroll to its end, and Qt's full text layout for every
// row made that take seconds. Painting uses the same lines, so heights always agree.
class WrappedText {
public:
    std::vector<QString> lines(const QString& text, const QFont& font, int width) {
        if (font != font_) {
            font_ = font;
            widths_.clear();
        }
        std::vector<QString> out;
        const QFontMetrics metrics(font);
        const int space = measure(QStringLiteral(" "), metrics);
        for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
            QString line;
            int used = 0;
            for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const int w = measure(word, metrics);
                if (!line.isEmpty() && used + space + w <= width) {
                    line += QLatin1Char(' ') + word;
                    used += space + w;
                    continue;
                }
                if (!line.isEmpty()) out.push_back(line);
                if (w <= width) {
                    line = word;
                    used = w;
                    continue;
                }
                // A word wider than the row (a link, text without spaces): break between letters.
                line.clear();
                used = 0;
                for (const QString& piece : word.split(QString(), Qt::SkipEmptyParts)) {
                    const int pw = metrics.horizontalAdvance(piece);
                    if (!line.isEmpty() && used + pw > width) {
                        out.push_back(line);
                        line.clear();
                        used = 0;
                    }
                    line += piece;
                    used += pw;
                }
            }
            out.push_back(line);
        }
        return out;
    }

private:
    int measure(const QString& word, const QFontMetrics& metrics) {
        auto it = widths_.find(word);
        if (it == widths_.end()) {
            if (widths_.size() > 200000) widths_.clear();
            it = widths_.insert(word, metrics.horizontalAdvance(word));
        }
        return *it;
    }

    QFont font_;
    QHash<QString, int> widths_;
};

WrappedText& wrapped() {
    static WrappedText instance;
    return instance;
}

}  // namespace

struct RunDelegate::Geometry {
    QRect chip, seconds, time, copy, text, badges;
};

RunDelegate::RunDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

RunDelegate::Geometry RunDelegate::layout(const QStyleOptionViewItem& option, const QModelIndex& index,
                                           bool header) const {
    using namespace space;
    Geometry g;
    const QRect r = option.rect.adjusted(base, base - tight, -base, -(base - tight));
    const QFontMetrics caption(captionFont(option.font));
    const int headerHeight = caption.height() + 4;
    g.chip = QRect(r.left(), r.top(), 0, headerHeight);
    // Heights need none of the header's texts (the time of day is slow to format).
    if (header) {
        const QFontMetrics chipMetrics(captionFont(option.font, true));
        g.chip.setWidth(chipMetrics.horizontalAdvance(index.data(RunListModel::engineRole).toString()) + 2 * snug);
        g.seconds = QRect(g.chip.right() + 1 + snug, r.top(),
                          caption.horizontalAdvance(index.data(RunListModel::secondsRole).toString()), headerHeight);
        const int copyWidth = caption.horizontalAdvance(index.data(RunListModel::copyLabelRole).toString()) + 2 * snug;
        g.copy = QRect(r.right() + 1 - copyWidth, r.top(), copyWidth, headerHeight);
        const int timeWidth = caption.horizontalAdvance(index.data(RunListModel::dateRole).toString());
        g.time = QRect(g.copy.left() - snug - timeWidth, r.top(), timeWidth, headerHeight);
    }
    const QFontMetrics text(option.font);
    const auto lines = static_cast<int>(wrapped().lines(index.data(Qt::DisplayRole).toString(), option.font, r.width()).size());
    g.text = QRect(r.left(), g.chip.bottom() + 1 + snug, r.width(), std::max(1, lines) * text.lineSpacing());
    if (!index.data(RunListModel::correctionsRole).toStringList().isEmpty()) {
        g.badges = QRect(r.left(), g.text.bottom() + 1 + snug, r.width(), QFontMetrics(captionFont(option.font, false, 0.78)).height() + 4);
    }
    return g;
}

QSize RunDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem sized = option;
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const int width = view ? view->viewport()->width() : 600;
    sized.rect = QRect(0, 0, width, 0);
    const Geometry g = layout(sized, index, false);
    const int bottom = g.badges.isValid() ? g.badges.bottom() : g.text.bottom();
    return {width, bottom + 1 + space::base - space::tight};
}

void RunDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    using namespace space;
    const Geometry g = layout(option, index);
    const QPalette& palette = option.palette;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (option.state & QStyle::State_Selected) {
        QColor selected = palette.color(QPalette::Highlight);
        selected.setAlphaF(0.12f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(selected);
        painter->drawRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 6, 6);
    }
    QColor secondary = palette.color(QPalette::Text);
    secondary.setAlphaF(0.6f);

    QColor accent = palette.color(QPalette::Highlight);
    QColor chipFill = accent;
    chipFill.setAlphaF(0.15f);
    painter->setPen(Qt::NoPen);
    painter->setBrush(chipFill);
    painter->drawRoundedRect(QRectF(g.chip).adjusted(0, 1, 0, -1), chipRadius, chipRadius);
    painter->setFont(captionFont(option.font, true));
    painter->setPen(accent);
    painter->drawText(g.chip, Qt::AlignCenter, index.data(RunListModel::engineRole).toString());

    const QFont caption = captionFont(option.font);
    painter->setFont(caption);
    painter->setPen(secondary);
    painter->drawText(g.seconds, Qt::AlignVCenter | Qt::AlignLeft, index.data(RunListModel::secondsRole).toString());
    painter->drawText(g.time, Qt::AlignVCenter | Qt::AlignRight, index.data(RunListModel::dateRole).toString());
    painter->setPen(palette.color(QPalette::Link));
    painter->drawText(g.copy, Qt::AlignCenter, index.data(RunListModel::copyLabelRole).toString());

    painter->setFont(option.font);
    painter->setPen(palette.color(QPalette::Text));
    const int lineHeight = QFontMetrics(option.font).lineSpacing();
    int y = g.text.top();
    for (const QString& line : wrapped().lines(index.data(Qt::DisplayRole).toString(), option.font, g.text.width())) {
        painter->drawText(QRect(g.text.left(), y, g.text.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += lineHeight;
    }

    if (g.badges.isValid()) {
        const QFont small = captionFont(option.font, false, 0.78);
        QFont smallBold = small;
        smallBold.setWeight(QFont::DemiBold);
        const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
        const QString corrected = view ? view->property("correctedLabel").toString() : QString();
        int x = g.badges.left();
        painter->setFont(smallBold);
        painter->setPen(secondary);
        const int labelWidth = QFontMetrics(smallBold).horizontalAdvance(corrected);
        painter->drawText(QRect(x, g.badges.top(), labelWidth, g.badges.height()), Qt::AlignVCenter, corrected);
        x += labelWidth + snug;
        painter->setFont(small);
        QColor fill = palette.color(QPalette::Text);
        fill.setAlphaF(0.08f);
        for (const QString& badge : index.data(RunListModel::correctionsRole).toStringList()) {
            const QRect box(x, g.badges.top(), QFontMetrics(small).horizontalAdvance(badge) + 2 * snug, g.badges.height());
            if (box.right() > g.badges.right()) break;
            painter->setPen(Qt::NoPen);
            painter->setBrush(fill);
            painter->drawRoundedRect(box, chipRadius, chipRadius);
            painter->setPen(palette.color(QPalette::Text));
            painter->drawText(box, Qt::AlignCenter, badge);
            x = box.right() + 1 + snug;
        }
    }
    painter->restore();
}

bool RunDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                              const QModelIndex& index) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && layout(option, index).copy.contains(mouse->position().toPoint())) {
            Q_EMIT copyClicked(index.row());
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

QWidget* RunDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const {
    // The text as a read-only field, so part of it can be selected and copied.
    auto* editor = new QTextEdit(parent);
    editor->setReadOnly(true);
    editor->setFrameShape(QFrame::NoFrame);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor->document()->setDocumentMargin(0);
    return editor;
}

void RunDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    static_cast<QTextEdit*>(editor)->setPlainText(index.data(Qt::DisplayRole).toString());
}

void RunDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    editor->setGeometry(layout(option, index).text.adjusted(0, 0, 0, 2));
}

TranscriptionList::TranscriptionList(TranscriptionListModel& model, std::function<Strings()> strings, QWidget* parent)
    : QWidget(parent),
      model_(model),
      strings_(std::move(strings)),
      runs_(new RunListModel(model, this)),
      search_(new QLineEdit(this)),
      stack_(new QStackedWidget(this)),
      empty_(new EmptyStateView(this)),
      list_(new QListView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(space::base, space::snug, space::base, space::snug);
    search_->setClearButtonEnabled(true);
    search_->addAction(themeIcon("edit-find"), QLineEdit::LeadingPosition);
    top->addWidget(search_);
    layout->addLayout(top);

    list_->setModel(runs_);
    auto* delegate = new RunDelegate(list_);
    list_->setItemDelegate(delegate);
    list_->setResizeMode(QListView::Adjust);
    list_->setLayoutMode(QListView::Batched);
    list_->setBatchSize(200);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::DoubleClicked);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->installEventFilter(this);
    stack_->addWidget(empty_);
    stack_->addWidget(list_);
    layout->addWidget(stack_, 1);

    deleteAll_ = makeLinkButton(this);
    footer_ = makeFooter(count_, deleteAll_, this);
    layout->addWidget(footer_);

    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) { model_.setQuery(text.toStdString()); });
    connect(delegate, &RunDelegate::copyClicked, this, [this](int row) { model_.copy(static_cast<std::size_t>(row)); });
    connect(list_, &QListView::customContextMenuRequested, this, &TranscriptionList::showContextMenu);
    connect(deleteAll_, &QPushButton::clicked, this, [this] { model_.askToDeleteAll(); });
    model_.setListener({
        .reset = [this] { refresh(); },
        .rowChanged = [this](std::size_t row) { runs_->rowLooksChanged(row); },
        .confirmationChanged = [this] { if (model_.isConfirmingClear()) showConfirmation(); },
    });
    retranslate();
}

void TranscriptionList::retranslate() {
    const Strings strings = strings_();
    search_->setPlaceholderText(qs(strings.transcriptions.searchPlaceholder));
    deleteAll_->setText(qs(strings.transcriptions.deleteAll));
    list_->setProperty("correctedLabel", qs(strings.transcriptions.corrected));
    refresh();
}

void TranscriptionList::refresh() {
    // The whole list at once: after a search or a reload most rows are different anyway.
    runs_->reset();
    const bool showList = model_.content() == TranscriptionListModel::Content::list;
    if (!showList) {
        const EmptyState state = model_.emptyState();
        empty_->show(state.icon, state.title, state.detail);
    }
    stack_->setCurrentWidget(showList ? static_cast<QWidget*>(list_) : empty_);
    footer_->setVisible(showList);
    count_->setText(qs(model_.footerText()));
}

void TranscriptionList::showConfirmation() {
    const Strings strings = strings_();
    auto* box = new QMessageBox(QMessageBox::Warning, qs(model_.confirmationTitle()), qs(model_.confirmationTitle()),
                                QMessageBox::NoButton, this);
    box->setObjectName("deleteAllConfirmation");
    box->setInformativeText(qs(strings.transcriptions.cannotBeUndone));
    QPushButton* confirm = box->addButton(qs(strings.transcriptions.deleteAllButton), QMessageBox::DestructiveRole);
    box->addButton(qs(strings.transcriptions.cancel), QMessageBox::RejectRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, confirm] {
        if (box->clickedButton() == confirm) {
            model_.confirmDeleteAll();
        } else {
            model_.cancelDeleteAll();
        }
    });
    box->open();
}

void TranscriptionList::showContextMenu(const QPoint& at) {
    const QModelIndex index = list_->indexAt(at);
    if (!index.isValid()) return;
    const Strings strings = strings_();
    QMenu menu(this);
    const auto row = static_cast<std::size_t>(index.row());
    menu.addAction(qs(strings.transcriptions.copy), [this, row] { model_.copy(row); });
    menu.addSeparator();
    menu.addAction(themeIcon("edit-delete"), qs(strings.transcriptions.deleteThis), [this, row] { model_.deleteRow(row); });
    menu.exec(list_->viewport()->mapToGlobal(at));
}

bool TranscriptionList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && list_->currentIndex().isValid()) {
            model_.deleteRow(static_cast<std::size_t>(list_->currentIndex().row()));
            return true;
        }
        if (key->matches(QKeySequence::Copy) && list_->currentIndex().isValid()) {
            model_.copy(static_cast<std::size_t>(list_->currentIndex().row()));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace zarn::ui
