#include "ui/Widgets.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPolygonF>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zarn::ui {

QColor secondaryText(const QWidget* widget, double alpha) {
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QString qs(const std::string& text) { return QString::fromStdString(text); }

namespace {

// A plain line drawing for when the icon theme has no such icon (or Qt cannot read it).
QPixmap drawnIcon(const std::string& name, int size, const QColor& ink) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPen pen(ink, std::max(1.0, s / 10), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    if (name == "edit-find") {
        p.drawEllipse(QRectF(s * 0.12, s * 0.12, s * 0.52, s * 0.52));
        p.drawLine(QPointF(s * 0.58, s * 0.58), QPointF(s * 0.88, s * 0.88));
    } else if (name == "media-record") {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(QRectF(s * 0.18, s * 0.18, s * 0.64, s * 0.64));
    } else if (name == "media-playback-stop") {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(s * 0.22, s * 0.22, s * 0.56, s * 0.56), s * 0.08, s * 0.08);
    } else if (name == "list-add") {
        p.drawLine(QPointF(s * 0.5, s * 0.18), QPointF(s * 0.5, s * 0.82));
        p.drawLine(QPointF(s * 0.18, s * 0.5), QPointF(s * 0.82, s * 0.5));
    } else if (name == "go-next") {
        p.drawLine(QPointF(s * 0.18, s * 0.5), QPointF(s * 0.8, s * 0.5));
        p.drawPolyline(QPolygonF({QPointF(s * 0.55, s * 0.25), QPointF(s * 0.8, s * 0.5), QPointF(s * 0.55, s * 0.75)}));
    } else if (name == "dialog-warning") {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawPolygon(QPolygonF({QPointF(s * 0.5, s * 0.08), QPointF(s * 0.95, s * 0.9), QPointF(s * 0.05, s * 0.9)}));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(s * 0.45, s * 0.35, s * 0.1, s * 0.3));
        p.drawRect(QRectF(s * 0.45, s * 0.71, s * 0.1, s * 0.1));
    } else if (name == "accessories-dictionary") {
        p.drawRoundedRect(QRectF(s * 0.2, s * 0.1, s * 0.6, s * 0.8), s * 0.06, s * 0.06);
        p.drawLine(QPointF(s * 0.34, s * 0.1), QPointF(s * 0.34, s * 0.9));
        p.drawLine(QPointF(s * 0.46, s * 0.32), QPointF(s * 0.68, s * 0.32));
    } else if (name == "audio-input-microphone") {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        const double heights[] = {0.3, 0.6, 0.9, 0.6, 0.3};
        for (int i = 0; i < 5; ++i) {
            const qreal h = s * heights[i];
            p.drawRoundedRect(QRectF(s * (0.1 + 0.17 * i), (s - h) / 2, s * 0.11, h), s * 0.05, s * 0.05);
        }
    } else {
        return {};
    }
    return pixmap;
}

}  // namespace

QIcon themeIcon(const std::string& name) {
    const QString base = qs(name);
    QIcon icon = QIcon::fromTheme(base + "-symbolic", QIcon::fromTheme(base));
    if (!icon.isNull() && !icon.availableSizes().isEmpty()) return icon;
    QIcon drawn = drawnIcon(name, QApplication::palette().color(QPalette::WindowText));
    return drawn.isNull() ? icon : drawn;
}

QIcon drawnIcon(const std::string& name, const QColor& ink) {
    QIcon drawn;
    QColor dim = ink;
    dim.setAlphaF(0.45f);
    for (int size : {12, 14, 16, 22, 24, 32, 48, 64}) {
        QPixmap normal = drawnIcon(name, size, ink);
        if (normal.isNull()) return {};
        drawn.addPixmap(normal, QIcon::Normal);
        drawn.addPixmap(drawnIcon(name, size, dim), QIcon::Disabled);
    }
    return drawn;
}

EmptyStateView::EmptyStateView(QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), title_(new QLabel(this)), detail_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    for (QLabel* label : {icon_, title_, detail_}) {
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    layout->addStretch(1);
    QFont font = title_->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    title_->setFont(font);
    QPalette palette = detail_->palette();
    palette.setColor(QPalette::WindowText, secondaryText(this));
    detail_->setPalette(palette);
    icon_->setPalette(palette);
}

void EmptyStateView::show(const std::string& icon, const std::string& title, const std::string& detail) {
    icon_->setPixmap(themeIcon(icon).pixmap(48, 48, QIcon::Disabled));
    title_->setText(qs(title));
    detail_->setText(qs(detail));
}

QString EmptyStateView::title() const { return title_->text(); }

QWidget* makeFooter(QLabel*& count, QWidget* button, QWidget* parent) {
    auto* footer = new QWidget(parent);
    footer->setAutoFillBackground(true);
    footer->setBackgroundRole(QPalette::Window);
    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(space::base, space::snug, space::base, space::snug);
    count = new QLabel(footer);
    QFont small = count->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    count->setFont(small);
    QPalette palette = count->palette();
    palette.setColor(QPalette::WindowText, secondaryText(footer));
    count->setPalette(palette);
    layout->addWidget(count);
    layout->addStretch(1);
    button->setFont(small);
    layout->addWidget(button);
    return footer;
}

QPushButton* makeLinkButton(QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet("QPushButton { border: none; padding: 0 2px; color: palette(link); }");
    return button;
}

}  // namespace zarn::ui
