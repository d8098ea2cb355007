#include "app/AppFixture.h"
#include "app/Hud.h"

namespace zarn::test {
namespace {

using State = DictationController::State;
using Mark = HudContent::Mark;

TEST(HudContentTest, EachStateHasItsMarkTextAndMeter) {
    const Strings& en = Strings::english();
    struct Row {
        State state;
        std::string transcript;
        HudContent expected;
    };
    const std::vector<Row> rows{
        {State::idle(), "left over", {}},
        {State::starting(), "", {Mark::liveDot, "Listening…", true}},
        {State::listening(), "", {Mark::liveDot, "Listening…", true}},
        {State::listening(), "go forward", {Mark::liveDot, "go forward", true}},
        {State::finishing(), "", {Mark::liveDot, "Transcribing…", true}},
        {State::finishing(), "go forward", {Mark::liveDot, "go forward", true}},
        {State::error("No microphone"), "go", {Mark::warning, "No microphone", false}},
    };
    for (const auto& row : rows) EXPECT_EQ(hudContent(row.state, row.transcript, en), row.expected) << row.expected.text;
    EXPECT_EQ(hudContent(State::starting(), "", Strings::russian()).text, "Слушаю…");
}

TEST(HudContentTest, LongTextKeepsItsNewestWords) {
    auto within = [](std::size_t bytes) { return [bytes](std::string_view text) { return text.size() <= bytes; }; };
    EXPECT_EQ(headTruncated("go forward", within(10)), "go forward");
    EXPECT_EQ(headTruncated("go forward ten meters", within(16)), "…ten meters");
    // One word longer than the room: cut between characters, never inside one.
    EXPECT_EQ(headTruncated("переподготовка", within(12)), "…овка");
}

TEST(LevelMeterTest, TentShapeAndLitBars) {
    const auto heights = tentHeights(7, 16, 4);
    const std::vector<double> expected{9.4, 11.6, 13.8, 16, 13.8, 11.6, 9.4};
    ASSERT_EQ(heights.size(), expected.size());
    for (std::size_t i = 0; i < heights.size(); ++i) EXPECT_NEAR(heights[i], expected[i], 1e-9);

    const std::vector<std::pair<float, int>> levels{
        {0.0f, 0}, {1.0f / 7, 1}, {std::nextafter(1.0f / 7, 1.0f), 2}, {0.5f, 4}, {1.0f, 7}};
    for (auto [level, lit] : levels) EXPECT_EQ(litBars(level, true, 7), lit) << level;
    EXPECT_EQ(litBars(1.0f, false, 7), 0);
}

TEST(HudFrameTest, CentredAboveTheBottomOfTheUsableArea) {
    const auto frame = hudFrame(HudRect{100, 0, 1000, 800}, 340, 76);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->x, 430);
    EXPECT_EQ(frame->y, 800 - 96 - 76);
}

class FakeSurface final : public HudSurface {
public:
    std::vector<std::string> calls;
    double opacity = -1;
    void reposition() override { calls.push_back("reposition"); }
    void orderFront() override { calls.push_back("front"); }
    void orderOut() override { calls.push_back("out"); }
    void setOpacity(double alpha) override { opacity = alpha; }
};

class HudFadeTest : public AppFixture {
protected:
    FakeSurface surface;
    HudFade fade{executor, executor, surface};
};

TEST_F(HudFadeTest, PresentTwiceShowsOnceAndNothingTicksOnceShown) {
    fade.present();
    executor.advanceBy(HudFade::fadeTime / 2);
    EXPECT_GT(surface.opacity, 0.3);
    EXPECT_LT(surface.opacity, 0.7);
    fade.present();  // mid fade-in: it goes on
    executor.advanceBy(HudFade::fadeTime);
    EXPECT_EQ(surface.opacity, 1.0);
    fade.present();
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"reposition", "front"}));
    EXPECT_EQ(executor.pendingTimers(), 0u);

    fade.dismiss();
    executor.advanceBy(HudFade::fadeTime - HudFade::frameInterval);
    EXPECT_EQ(surface.calls.back(), "front");
    executor.advanceBy(HudFade::frameInterval * 2);
    EXPECT_EQ(surface.calls.back(), "out");
    EXPECT_EQ(surface.opacity, 0.0);
    EXPECT_EQ(executor.pendingTimers(), 0u);
    fade.dismiss();  // hidden already: ordered out again, nothing fades
    EXPECT_EQ(surface.calls.back(), "out");
    EXPECT_EQ(executor.pendingTimers(), 0u);
}

TEST_F(HudFadeTest, PresentDuringFadeOutKeepsThePanelShown) {
    fade.present();
    executor.advanceBy(HudFade::fadeTime * 2);
    fade.dismiss();
    executor.advanceBy(HudFade::fadeTime / 2);
    fade.present();
    executor.advanceBy(HudFade::fadeTime * 2);
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"reposition", "front"}));
    EXPECT_EQ(surface.opacity, 1.0);
    EXPECT_TRUE(fade.isShown());
}

}  // namespace
}  // namespace zarn::test
