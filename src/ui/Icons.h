#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace zarn::ui {

// The record red of the design; reads on light and dark themes alike.
inline const QColor kRecordRed{0xe0, 0x1b, 0x24};

// Zarn's mark, drawn so it stays crisp at every tray size: a waveform of five bars.
// `active` draws it white on a filled red badge, as the tray shows while dictating.
QPixmap drawWaveform(int size, bool active);
QIcon trayIcon(bool active);
// The application's icon (window lists, dialogs).
QIcon applicationIcon();

}  // namespace zarn::ui
