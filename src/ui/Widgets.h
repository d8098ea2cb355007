#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QWidget>

#include <string>

class QLabel;
class QPushButton;

namespace zarn::ui {

// Sizes of the main window's layout, in device-independent pixels. A local stand-in until the
// shared design tokens arrive with the floating display.
namespace space {
inline constexpr int tight = 4;
inline constexpr int snug = 6;
inline constexpr int base = 12;
inline constexpr int chipRadius = 4;
}  // namespace space

// The record red, readable on light and dark themes alike.
inline QColor recordRed() { return QColor(0xe0, 0x1b, 0x24); }
// Secondary text: the window text at reduced alpha, so dark themes follow.
QColor secondaryText(const QWidget* widget, double alpha = 0.62);
QString qs(const std::string& text);
// A theme icon with a second theme name as fallback, then Qt's own.
QIcon themeIcon(const std::string& name);
// Our own drawing of one of the icons above, in one colour (the record button's red).
QIcon drawnIcon(const std::string& name, const QColor& ink);

// The centred icon, title and line of help shown instead of an empty list.
class EmptyStateView final : public QWidget {
public:
    explicit EmptyStateView(QWidget* parent = nullptr);
    void show(const std::string& icon, const std::string& title, const std::string& detail);
    QString title() const;

private:
    QLabel* icon_;
    QLabel* title_;
    QLabel* detail_;
};

// A bar under a list: a count at the left, a link-styled button at the right.
QWidget* makeFooter(QLabel*& count, QWidget* button, QWidget* parent);
// A flat button drawn like a link.
QPushButton* makeLinkButton(QWidget* parent);

}  // namespace zarn::ui
