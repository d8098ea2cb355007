#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

#include "ui/DesignTokens.h"

namespace zarn::ui {

// The record red of the design; reads on light and dark themes alike.
inline const QColor kRecordRed = DS::Color::record;

// Zarn's mark, drawn so it stays crisp at every tray size: a waveform of five bars.
// `active` draws it white on a filled red badge, as the tray shows while dictating.
QPixmap drawWaveform(int size, bool active);
QIcon trayIcon(bool active);
// The warning mark in the design's orange: the theme's warning symbol tinted, or a drawn
// triangle where the theme has none.
QPixmap warningIcon(int size, bool darkBackground, qreal devicePixelRatio = 1.0);
// The application's icon (window lists, dialogs).
QIcon applicationIcon();

}  // namespace zarn::ui
