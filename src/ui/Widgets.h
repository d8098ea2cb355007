#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QWidget>

#include <string>

#include "ui/DesignTokens.h"

class QLabel;
class QPushButton;

namespace zarn::ui {

// The main window's layout sizes, from the shared design tokens, as whole pixels.
namespace space {
inline constexpr int tight = static_cast<int>(DS::Space::tight);
inline constexpr int snug = 6;  // between tight and the tokens' snug: list rows stay compact
inline constexpr int base = static_cast<int>(DS::Space::base);
inline constexpr int chipRadius = static_cast<int>(DS::Radius::chip);
}  // namespace space

inline QColor recordRed() { return DS::Color::record; }
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
