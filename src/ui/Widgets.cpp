#include "ui/Widgets.h"

#include <QHBoxLayout>
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

QIcon themeIcon(const std::string& name) {
    const QString base = qs(name);
    return QIcon::fromTheme(base + "-symbolic", QIcon::fromTheme(base));
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
