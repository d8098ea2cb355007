#pragma once

#include <QColor>

// The design's shared measures, in device-independent pixels; every window takes its
// spacing, radii and the HUD's geometry from here.
namespace zarn::ui::DS {

namespace Color {
// The record red: reads on light and dark themes alike.
inline const QColor record{0xe0, 0x1b, 0x24};
// Warnings: the desktop's orange, darker on light backgrounds so the text stays readable.
inline QColor warning(bool darkBackground) { return darkBackground ? QColor(0xff, 0xa3, 0x48) : QColor(0xc6, 0x46, 0x00); }
}  // namespace Color

namespace Space {
constexpr double tight = 4;
constexpr double snug = 8;
constexpr double base = 12;
constexpr double roomy = 16;
}  // namespace Space

namespace Radius {
constexpr double chip = 4;
constexpr double control = 8;
}  // namespace Radius

namespace Meter {
constexpr int bars = 7;
constexpr double barWidth = 3;
constexpr double gap = 2;
constexpr double height = 16;
constexpr double minBar = 4;
}  // namespace Meter

namespace HUD {
constexpr double pip = 9;
constexpr double maxWidth = 420;
constexpr int width = 340;
constexpr int height = 76;
}  // namespace HUD

}  // namespace zarn::ui::DS
