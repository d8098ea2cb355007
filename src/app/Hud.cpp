#include "app/Hud.h"

#include <algorithm>
#include <cmath>

#include "base/Log.h"

namespace zarn {

HudContent hudContent(const DictationController::State& state, const std::string& transcript, const Strings& strings) {
    using Kind = DictationController::State::Kind;
    switch (state.kind) {
    case Kind::idle: return {};
    case Kind::starting: return {.text = strings.hud.listening, .meterShown = true};
    case Kind::listening:
        return {.text = transcript.empty() ? strings.hud.listening : transcript, .meterShown = true};
    case Kind::finishing:
        return {.text = transcript.empty() ? strings.hud.transcribing : transcript, .meterShown = true};
    case Kind::error: return {.mark = HudContent::Mark::warning, .text = state.message};
    }
    return {};
}

namespace {

// The smallest of `starts` (ascending) whose tail fits, by bisection: fitting only gets
// easier as the tail shortens.
std::optional<std::size_t> firstFitting(const std::vector<std::size_t>& starts, const std::string& text,
                                        const std::function<bool(std::string_view)>& fits) {
    std::size_t low = 0, high = starts.size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (fits("…" + text.substr(starts[mid]))) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    if (low == starts.size()) return std::nullopt;
    return starts[low];
}

}  // namespace

std::string headTruncated(const std::string& text, const std::function<bool(std::string_view)>& fits) {
    if (fits(text)) return text;
    std::vector<std::size_t> words, characters;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) characters.push_back(i);
        if (text[i - 1] == ' ' && text[i] != ' ') words.push_back(i);
    }
    // A last word too long for the space is cut inside, at a character boundary.
    if (auto start = firstFitting(words, text, fits)) return "…" + text.substr(*start);
    if (auto start = firstFitting(characters, text, fits)) return "…" + text.substr(*start);
    return "…";
}

std::vector<double> tentHeights(int bars, double height, double minBar) {
    std::vector<double> heights;
    const double centre = (bars - 1) * 0.5;
    for (int i = 0; i < bars; ++i) {
        const double distance = centre > 0 ? std::abs(i - centre) / centre : 0;
        heights.push_back(minBar + (height - minBar) * (1 - 0.55 * distance));
    }
    return heights;
}

int litBars(float level, bool active, int bars) {
    if (!active) return 0;
    int lit = 0;
    while (lit < bars && level > static_cast<float>(lit) / static_cast<float>(bars)) ++lit;
    return lit;
}

std::optional<HudRect> hudFrame(const std::optional<HudRect>& available, int width, int height) {
    if (!available) {
        Log::app().error("no screen available to position HUD");
        return std::nullopt;
    }
    return HudRect{available->x + (available->width - width) / 2,
                   available->y + available->height - hudBottomMargin - height, width, height};
}

HudFade::HudFade(Executor& main, Clock& clock, HudSurface& surface) : main_(main), clock_(clock), surface_(surface) {}

HudFade::~HudFade() { timer_.cancel(); }

void HudFade::present() {
    if (shown_ && target_ == 1.0) return;
    if (!shown_) {
        surface_.reposition();
        alpha_ = 0;
        surface_.setOpacity(0);
        surface_.orderFront();
        shown_ = true;
    }
    fadeTo(1.0);
}

void HudFade::dismiss() {
    if (!shown_) {
        timer_.cancel();
        surface_.orderOut();
        return;
    }
    fadeTo(0.0);
}

void HudFade::fadeTo(double target) {
    timer_.cancel();
    from_ = alpha_;
    target_ = target;
    started_ = clock_.now();
    timer_ = main_.postAfter(frameInterval, [this] { frame(); });
}

void HudFade::frame() {
    // The same speed whatever the start, so a turned-around fade takes only what it undoes.
    const double progress = std::chrono::duration<double>(clock_.now() - started_) / fadeTime;
    const double distance = std::abs(target_ - from_);
    alpha_ = progress >= distance ? target_ : target_ > from_ ? from_ + progress : from_ - progress;
    surface_.setOpacity(alpha_);
    if (alpha_ != target_) {
        timer_ = main_.postAfter(frameInterval, [this] { frame(); });
        return;
    }
    timer_ = {};
    if (target_ == 0.0) {
        shown_ = false;
        surface_.orderOut();
    }
}

}  // namespace zarn
