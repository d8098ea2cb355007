#include "ui/Icons.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace zarn::ui {

QPixmap drawWaveform(int size, bool active) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    if (active) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kRecordRed);
        painter.drawEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
    }
    // Bar heights as fractions of the drawing area, highest in the middle.
    constexpr std::array<qreal, 5> heights{0.34, 0.66, 1.0, 0.66, 0.34};
    const qreal area = active ? s * 0.56 : s * 0.84;
    const qreal left = (s - area) / 2;
    const qreal step = area / heights.size();
    const qreal width = step * 0.55;
    // Idle: a mid grey that reads on the light and the dark panels of common desktops.
    painter.setBrush(active ? QColor(Qt::white) : QColor(0x80, 0x86, 0x8b));
    painter.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < heights.size(); ++i) {
        const qreal h = std::max(width, area * heights[i]);
        const QRectF bar(left + step * i + (step - width) / 2, (s - h) / 2, width, h);
        painter.drawRoundedRect(bar, width / 2, width / 2);
    }
    return pixmap;
}

QIcon trayIcon(bool active) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(drawWaveform(size, active));
    return icon;
}

QIcon applicationIcon() {
    return QIcon::fromTheme("zarn", trayIcon(true));
}

}  // namespace zarn::ui
