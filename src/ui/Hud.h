#pragma once

#include <QLabel>
#include <QVariantAnimation>
#include <QWidget>

#include "app/Hud.h"
#include "base/Clock.h"
#include "dictation/DictationController.h"
#include "settings/Settings.h"

namespace zarn::ui {

// Seven bars in a tent, lit from the leading end as the level rises; hidden from
// accessibility clients (it says nothing a screen reader could use).
class LevelMeter final : public QWidget {
public:
    explicit LevelMeter(QWidget* parent = nullptr);
    // Moves to the new level linearly over 0.08 s.
    void setLevel(float level);
    void setActive(bool active);
    int litBars() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    float shown_ = 0;
    float target_ = 0;
    bool active_ = true;
    QVariantAnimation animation_;
};

// The capsule's content: the live dot or the warning mark, the text, the meter. Redrawn
// only when the controller publishes its state, transcript or level.
class HUDView final : public QWidget {
public:
    HUDView(DictationController& controller, Settings& settings, QWidget* parent = nullptr);

    const HudContent& content() const { return content_; }
    QString shownText() const { return text_->text(); }
    LevelMeter& meter() { return *meter_; }
    // Whether the capsule is drawn translucent (only with a compositing manager).
    void setTranslucent(bool translucent) { translucent_ = translucent; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void refresh();

    DictationController& controller_;
    Settings& settings_;
    HudContent content_;
    bool translucent_ = false;
    QLabel* mark_;
    QLabel* text_;
    LevelMeter* meter_;
    Subscription state_, transcript_, level_;
};

// The floating panel: a frameless top-level window that never takes the focus nor the
// mouse, above every other window, shown and hidden with fades.
class HUDPanel final : public QWidget, public HudPresenter, private HudSurface {
public:
    HUDPanel(DictationController& controller, Settings& settings, Executor& main, Clock& clock);

    void present() override { fade_.present(); }
    void dismiss() override { fade_.dismiss(); }
    HUDView& view() { return *view_; }

private:
    void reposition() override;
    void orderFront() override;
    void orderOut() override;
    void setOpacity(double alpha) override;

    HUDView* view_;
    HudFade fade_;
};

}  // namespace zarn::ui
