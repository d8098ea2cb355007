#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Permissions.h"
#include "base/Clock.h"
#include "base/Executor.h"
#include "dictation/DictationController.h"
#include "strings/Strings.h"

namespace zarn {

// What the floating display shows for the controller's state.
struct HudContent {
    enum class Mark { liveDot, warning };
    Mark mark = Mark::liveDot;
    std::string text;
    bool meterShown = false;
    bool operator==(const HudContent&) const = default;
};

HudContent hudContent(const DictationController::State& state, const std::string& transcript, const Strings& strings);

// The newest part of `text` that `fits` (the whole text when it fits), cut at a word start
// and led by "…": a long transcript keeps its last words in view.
std::string headTruncated(const std::string& text, const std::function<bool(std::string_view)>& fits);

// The level meter: bar heights as a tent, highest in the middle, the level-independent shape.
std::vector<double> tentHeights(int bars, double height, double minBar);
// How many bars, from the leading end, a level lights: bar i needs a level above i / bars.
int litBars(float level, bool active, int bars);

struct HudRect {
    int x = 0, y = 0, width = 0, height = 0;
};
// Centred horizontally, the bottom edge `bottomMargin` above the area's bottom; nothing
// (and a log line) when there is no screen.
std::optional<HudRect> hudFrame(const std::optional<HudRect>& available, int width, int height);
constexpr int hudBottomMargin = 96;

// The window that the fades drive; the front end's panel.
class HudSurface {
public:
    virtual ~HudSurface() = default;
    virtual void reposition() = 0;
    virtual void orderFront() = 0;  // shown without taking focus
    virtual void orderOut() = 0;
    virtual void setOpacity(double alpha) = 0;
};

// present() and dismiss() as fades on the main executor's timers, which run only while a
// fade runs. A present during a fade-out turns it around from the opacity reached, and the
// fade-out's end then leaves the panel on screen; a present during a fade-in lets it go on.
class HudFade final : public HudPresenter {
public:
    static constexpr Duration fadeTime = std::chrono::milliseconds(160);
    static constexpr Duration frameInterval = std::chrono::milliseconds(16);

    HudFade(Executor& main, Clock& clock, HudSurface& surface);
    ~HudFade() override;
    void present() override;
    void dismiss() override;

    bool isShown() const { return shown_; }

private:
    void fadeTo(double target);
    void frame();

    Executor& main_;
    Clock& clock_;
    HudSurface& surface_;
    bool shown_ = false;
    double alpha_ = 0;
    double from_ = 0;
    double target_ = 0;
    SystemTime started_{};
    TimerHandle timer_;
};

}  // namespace zarn
