#include "ui/Hud.h"

#include <QAccessibleWidget>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include "base/Log.h"
#include "ui/DesignTokens.h"
#include "ui/Icons.h"
#include "ui/X11Desktop.h"

namespace zarn::ui {

namespace {

constexpr int meterWidth = static_cast<int>(DS::Meter::bars * DS::Meter::barWidth + (DS::Meter::bars - 1) * DS::Meter::gap);
constexpr int warningSize = 16;

class HiddenFromAccessibility final : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

QAccessibleInterface* meterAccessibility(const QString&, QObject* object) {
    auto* meter = dynamic_cast<LevelMeter*>(object);
    return meter ? new HiddenFromAccessibility(meter) : nullptr;
}

QPixmap liveDot(qreal ratio) {
    const qreal size = DS::HUD::pip;
    QPixmap pixmap(QSize(qCeil(size * ratio), qCeil(size * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(DS::Color::record);
    painter.drawEllipse(QRectF(0, 0, size, size));
    return pixmap;
}

}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(meterAccessibility);
        return true;
    }();
    (void)installed;
    setFixedSize(sizeHint());
    animation_.setDuration(80);
    animation_.setEasingCurve(QEasingCurve::Linear);
    QObject::connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        shown_ = value.toFloat();
        update();
    });
}

QSize LevelMeter::sizeHint() const { return {meterWidth, static_cast<int>(DS::Meter::height)}; }

void LevelMeter::setLevel(float level) {
    if (level == target_) return;
    target_ = level;
    animation_.stop();
    animation_.setStartValue(shown_);
    animation_.setEndValue(level);
    animation_.start();
}

void LevelMeter::setActive(bool active) {
    active_ = active;
    update();
}

int LevelMeter::litBars() const { return zarn::litBars(shown_, active_, DS::Meter::bars); }

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor lit = palette().color(QPalette::Highlight);
    QColor unlit = palette().color(QPalette::WindowText);
    unlit.setAlphaF(0.25f);
    const int lighted = litBars();
    const auto heights = tentHeights(DS::Meter::bars, DS::Meter::height, DS::Meter::minBar);
    for (int i = 0; i < DS::Meter::bars; ++i) {
        const double h = heights[static_cast<std::size_t>(i)];
        const QRectF bar(i * (DS::Meter::barWidth + DS::Meter::gap), DS::Meter::height - h, DS::Meter::barWidth, h);
        painter.setBrush(i < lighted ? lit : unlit);
        painter.drawRoundedRect(bar, DS::Meter::barWidth / 2, DS::Meter::barWidth / 2);
    }
}

HUDView::HUDView(DictationController& controller, Settings& settings, QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      settings_(settings),
      mark_(new QLabel(this)),
      text_(new QLabel(this)),
      meter_(new LevelMeter(this)) {
    setFixedSize(DS::HUD::width, DS::HUD::height);
    auto* row = new QHBoxLayout(this);
    row->setSpacing(static_cast<int>(DS::Space::base));
    row->setContentsMargins(static_cast<int>(DS::Space::roomy), static_cast<int>(DS::Space::base),
                            static_cast<int>(DS::Space::roomy), static_cast<int>(DS::Space::base));
    mark_->setAlignment(Qt::AlignCenter);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    text_->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(mark_);
    row->addWidget(text_, 1);
    row->addWidget(meter_, 0, Qt::AlignVCenter);
    state_ = controller.observeState([this](const DictationController::State&) { refresh(); });
    transcript_ = controller.observeTranscript([this](const std::string&) { refresh(); });
    level_ = controller.observeLevel([this](const float& level) { meter_->setLevel(level); });
    refresh();
}

void HUDView::refresh() {
    content_ = hudContent(controller_.state(), controller_.transcript(), settings_.strings());
    const bool warning = content_.mark == HudContent::Mark::warning;
    const qreal ratio = devicePixelRatioF();
    mark_->setPixmap(warning ? warningIcon(warningSize, palette().color(QPalette::Window).lightness() < 128, ratio)
                             : liveDot(ratio));
    mark_->setFixedWidth(warning ? warningSize : static_cast<int>(DS::HUD::pip));
    meter_->setVisible(content_.meterShown);
    meter_->setActive(content_.meterShown);

    // The label's width follows from the row's fixed measures.
    const int textWidth = width() - 2 * static_cast<int>(DS::Space::roomy) - mark_->width() -
                          static_cast<int>(DS::Space::base) -
                          (content_.meterShown ? static_cast<int>(DS::Space::base) + meterWidth : 0);
    const QFontMetrics metrics(text_->font());
    auto fits = [&](std::string_view text) {
        const QRect box = metrics.boundingRect(QRect(0, 0, textWidth, 1 << 20), Qt::TextWordWrap,
                                               QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        return box.width() <= textWidth && box.height() <= 2 * metrics.lineSpacing();
    };
    text_->setText(QString::fromStdString(headTruncated(content_.text, fits)));
    update();
}

void HUDView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = palette().color(QPalette::Window);
    if (translucent_) fill.setAlphaF(0.85f);
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.18f);
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
}

namespace {

// Native Wayland gives an ordinary client no placement and no bypass of the compositor: the
// panel becomes a frameless tool window there, and says so once. On X11 it is a tooltip:
// sway hands the keyboard to every XWayland window that bypasses it unless its type is one
// of the passing kinds, and would take it from the window the text is meant for.
Qt::WindowFlags panelFlags() {
    constexpr Qt::WindowFlags common =
        Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput;
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return Qt::ToolTip | Qt::BypassWindowManagerHint | common;
    }
    Log::app().info("HUD: no X display (XWayland) in this Wayland session — shown as a tool window the compositor places");
    return Qt::Tool | common;
}

}  // namespace

HUDPanel::HUDPanel(DictationController& controller, Settings& settings, Executor& main, Clock& clock)
    : QWidget(nullptr, panelFlags()), view_(new HUDView(controller, settings, this)), fade_(main, clock, *this) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setWindowTitle(QStringLiteral("Zarn"));
    setFixedSize(view_->size());
    const bool translucent = QGuiApplication::platformName() != QLatin1String("xcb") || x11desktop::compositorRuns();
    view_->setTranslucent(translucent);
    if (translucent) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        // No compositor draws transparency: the window itself takes the capsule's shape.
        QPainterPath capsule;
        capsule.addRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
        setMask(QRegion(capsule.toFillPolygon().toPolygon()));
    }
}

void HUDPanel::reposition() {
    QScreen* screen = nullptr;
    if (auto centre = x11desktop::focusedWindowCentre()) screen = QGuiApplication::screenAt(*centre);
    if (!screen) screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().first();
    std::optional<HudRect> area;
    if (screen) {
        const QRect g = screen->availableGeometry();
        area = HudRect{g.x(), g.y(), g.width(), g.height()};
    }
    if (auto frame = hudFrame(area, width(), height())) move(frame->x, frame->y);
}

void HUDPanel::orderFront() {
    show();
    raise();
}

void HUDPanel::orderOut() { hide(); }

void HUDPanel::setOpacity(double alpha) { setWindowOpacity(alpha); }

}  // namespace zarn::ui
