#include "ui/SettingsWindow.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/DesignTokens.h"
#include "ui/Icons.h"

namespace zarn::ui {

namespace {

int px(double length) { return static_cast<int>(length); }

QColor withAlpha(QColor color, float alpha) {
    color.setAlphaF(alpha);
    return color;
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

// One segment: the whole rectangle is the button; the label semibold when selected.
class SegmentButton final : public QAbstractButton {
public:
    explicit SegmentButton(QWidget* parent) : QAbstractButton(parent) {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
    }
    void setSelected(bool selected) {
        selected_ = selected;
        setAccessibleDescription(selected ? QStringLiteral("selected") : QString());
        update();
    }
    QSize sizeHint() const override {
        QFont bold = font();
        bold.setWeight(QFont::DemiBold);
        const QFontMetrics metrics(bold);
        return {metrics.horizontalAdvance(text()) + 2 * px(DS::Space::base), metrics.height() + 2 * px(DS::Space::snug)};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette& p = palette();
        if (selected_) {
            // The glass: a raised, lighter surface with a hairline edge.
            const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            painter.setPen(QPen(withAlpha(p.color(QPalette::WindowText), 0.14f), 1));
            painter.setBrush(isDark(p) ? p.color(QPalette::Window).lighter(150) : p.color(QPalette::Base));
            painter.drawRoundedRect(r, DS::Radius::control, DS::Radius::control);
        } else if (underMouse() && isEnabled()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(withAlpha(p.color(QPalette::WindowText), 0.06f));
            painter.drawRoundedRect(rect(), DS::Radius::control, DS::Radius::control);
        }
        QFont f = font();
        f.setWeight(selected_ ? QFont::DemiBold : QFont::Normal);
        painter.setFont(f);
        const float alpha = !isEnabled() ? 0.45f : selected_ ? 1.0f : 0.7f;
        painter.setPen(withAlpha(p.color(QPalette::Active, QPalette::WindowText), alpha));
        painter.drawText(rect(), Qt::AlignCenter, text());
        if (hasFocus()) {
            painter.setPen(QPen(p.color(QPalette::Highlight), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), DS::Radius::control, DS::Radius::control);
        }
    }
    void enterEvent(QEnterEvent*) override { update(); }
    void leaveEvent(QEvent*) override { update(); }

private:
    bool selected_ = false;
};

// A grouped form's card: a rounded panel a shade off the window's colour.
class Card final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette& p = palette();
        painter.setPen(QPen(withAlpha(p.color(QPalette::WindowText), 0.10f), 1));
        painter.setBrush(isDark(p) ? p.color(QPalette::Window).lighter(118) : p.color(QPalette::Base));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    }
};

}  // namespace

GlassSegmentedPicker::GlassSegmentedPicker(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setSpacing(px(DS::Space::tight));
    row->setContentsMargins(px(DS::Space::tight), px(DS::Space::tight), px(DS::Space::tight), px(DS::Space::tight));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void GlassSegmentedPicker::setSegments(std::vector<Segment> segments) {
    // Buttons are kept and relabelled: a click that changes the settings redraws the
    // picker while the clicked button is still in its signal.
    while (buttons_.size() < segments.size()) {
        auto* button = new SegmentButton(this);
        const std::size_t index = buttons_.size();
        connect(button, &QAbstractButton::clicked, this, [this, index] {
            if (index < segments_.size() && segments_[index].available && segments_[index].choose) {
                auto choose = segments_[index].choose;
                choose();
            }
        });
        layout()->addWidget(button);
        buttons_.push_back(button);
    }
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        auto* button = static_cast<SegmentButton*>(buttons_[i]);
        button->setVisible(i < segments.size());
        if (i >= segments.size()) continue;
        button->setText(QString::fromStdString(segments[i].label));
        button->setEnabled(segments[i].available);
        button->setSelected(segments[i].selected);
    }
    segments_ = std::move(segments);
    updateGeometry();
}

void GlassSegmentedPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withAlpha(palette().color(QPalette::WindowText), 0.07f));
    const qreal radius = DS::Radius::control + DS::Space::tight;
    painter.drawRoundedRect(rect(), radius, radius);
}

SettingsWindow::SettingsWindow(SettingsModel& model, QWidget* parent) : QWidget(parent, Qt::Window), model_(model) {
    setFixedWidth(560);
    // Longer texts (Russian, large fonts) make the window taller rather than clip it.
    QWidget* content = this;
    auto* form = new QVBoxLayout(content);
    form->setContentsMargins(24, 16, 24, 16);
    form->setSpacing(px(DS::Space::tight));
    form->setSizeConstraint(QLayout::SetNoConstraint);

    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() * 0.9);
    for (const auto& section : model_.sections()) {
        SectionView view;
        if (!sections_.empty()) form->addSpacing(px(DS::Space::base));
        view.header = new QLabel(content);
        QFont bold = view.header->font();
        bold.setWeight(QFont::DemiBold);
        view.header->setFont(bold);
        form->addWidget(view.header);

        auto* card = new Card(content);
        auto* inside = new QVBoxLayout(card);
        inside->setContentsMargins(px(DS::Space::base), px(DS::Space::snug + 2), px(DS::Space::base),
                                   px(DS::Space::snug + 2));
        inside->setSpacing(px(DS::Space::snug));
        if (!section.segments.empty()) {
            view.picker = new GlassSegmentedPicker(card);
            inside->addWidget(view.picker);
        } else {
            view.toggle = new QCheckBox(card);
            inside->addWidget(view.toggle);
            connect(view.toggle, &QCheckBox::clicked, this, [this, index = sections_.size()](bool on) {
                if (auto set = model_.sections()[index].setToggle) set(on);
            });
        }
        auto* noteRow = new QHBoxLayout;
        noteRow->setSpacing(px(DS::Space::snug));
        view.noteIcon = new QLabel(card);
        view.noteIcon->setAlignment(Qt::AlignTop);
        view.note = new QLabel(card);
        view.note->setWordWrap(true);
        view.note->setTextFormat(Qt::PlainText);
        view.note->setFont(caption);
        view.note->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
        noteRow->addWidget(view.noteIcon, 0, Qt::AlignTop);
        noteRow->addWidget(view.note, 1);
        inside->addLayout(noteRow);
        form->addWidget(card);
        sections_.push_back(view);
    }
    form->addStretch(1);

    for (auto key : {QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape)}) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);
    }
    subscription_ = model_.observe([this] { refresh(); });
    refresh();
}

void SettingsWindow::refresh() {
    setWindowTitle(QString::fromStdString(model_.title()));
    const auto data = model_.sections();
    const bool dark = isDark(palette());
    for (std::size_t i = 0; i < sections_.size() && i < data.size(); ++i) {
        const auto& section = data[i];
        auto& view = sections_[i];
        view.header->setText(QString::fromStdString(section.header));
        if (view.picker) view.picker->setSegments(section.segments);
        if (view.toggle) {
            view.toggle->setText(QString::fromStdString(section.toggleLabel));
            view.toggle->setChecked(section.toggleOn);
        }
        view.note->setText(QString::fromStdString(section.note));
        QPalette notePalette = palette();
        notePalette.setColor(QPalette::WindowText, section.noteIsWarning
                                                       ? DS::Color::warning(dark)
                                                       : withAlpha(palette().color(QPalette::WindowText), 0.65f));
        view.note->setPalette(notePalette);
        view.noteIcon->setVisible(section.noteIsWarning);
        if (section.noteIsWarning) view.noteIcon->setPixmap(warningIcon(14, dark, devicePixelRatioF()));
    }
    // 620 high unless the texts need more.
    setMinimumHeight(layout()->heightForWidth(width()));
    if (height() < std::max(620, minimumHeight())) resize(width(), std::max(620, minimumHeight()));
}

void SettingsWindow::showAndRaise() {
    show();
    raise();
    activateWindow();
}

void addSettingsShortcut(QWidget& window, std::function<void()> open) {
    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+,")), &window);
    QObject::connect(shortcut, &QShortcut::activated, &window, [open = std::move(open)] { open(); });
}

}  // namespace zarn::ui
