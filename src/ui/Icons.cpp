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

QPixmap warningIcon(int size, bool darkBackground, qreal devicePixelRatio) {
    const QColor orange = DS::Color::warning(darkBackground);
    const QIcon theme = QIcon::fromTheme("dialog-warning-symbolic", QIcon::fromTheme("dialog-warning"));
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!theme.isNull()) {
        painter.drawPixmap(0, 0, theme.pixmap(QSize(size, size), devicePixelRatio));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(0, 0, size, size), orange);
        return pixmap;
    }
    const qreal s = size;
    QPainterPath triangle;
    triangle.moveTo(s / 2, s * 0.06);
    triangle.lineTo(s * 0.97, s * 0.92);
    triangle.lineTo(s * 0.03, s * 0.92);
    triangle.closeSubpath();
    painter.fillPath(triangle, orange);
    painter.setPen(QPen(Qt::white, s * 0.12, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(s / 2, s * 0.38), QPointF(s / 2, s * 0.62));
    painter.drawPoint(QPointF(s / 2, s * 0.78));
    return pixmap;
}

QIcon applicationIcon() {
    return QIcon::fromTheme("zarn", trayIcon(true));
}

}  // namespace zarn::ui
