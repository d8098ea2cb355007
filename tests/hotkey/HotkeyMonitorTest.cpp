#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/ManualExecutor.h"
#include "hotkey/HotkeyMonitor.h"
#include "support/LogCapture.h"

namespace zarn {
namespace {

using hotkey::HookEvent;
using hotkey::kFlagsChanged;

// Stands in for the platform hook: records installs and lets the test inject events.
class FakeHook final : public hotkey::EventHook {
public:
    struct State {
        int installs = 0, enables = 0;
        int installed = 0;  // hooks in place right now
        bool refuse = false;
        std::optional<PushToTalkKey> key;
        Handler handler;
        Died died;
    };
    explicit FakeHook(State& state) : state_(state) {}

    bool install(PushToTalkKey key, Handler handler, Died died) override {
        if (state_.refuse) return false;
        ++state_.installs;
        ++state_.installed;
        state_.key = key;
        state_.handler = std::move(handler);
        state_.died = std::move(died);
        return true;
    }
    std::string failure() const override { return "another program holds a grab of the key"; }
    void remove() override {
        if (state_.installed > 0) --state_.installed;
        state_.handler = nullptr;
    }
    void enable() override { ++state_.enables; }

private:
    State& state_;
};

class HotkeyMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        monitor.setOnPress([this] { edges.push_back("press"); });
        monitor.setOnRelease([this] { edges.push_back("release"); });
    }

    // Sends one event through the hook the way a platform hook does and returns the
    // verdict the monitor gave, or nothing when it gave none.
    std::optional<bool> send(std::uint32_t type, std::int64_t keyCode, std::uint64_t flags) {
        EXPECT_TRUE(state.handler) << "no hook installed";
        if (!state.handler) return std::nullopt;
        std::optional<bool> verdict;
        state.handler(HookEvent{type, keyCode, flags}, [&verdict](bool consume) { verdict = consume; });
        executor.runUntilIdle();
        return verdict;
    }
    std::optional<bool> flagsChanged(std::int64_t keyCode, std::uint64_t flags) {
        return send(kFlagsChanged, keyCode, flags);
    }

    test::LogCapture logs;
    ManualExecutor executor;
    FakeHook::State state;
    HotkeyMonitor monitor{executor, std::make_unique<FakeHook>(state)};
    std::vector<std::string> edges;
};

constexpr std::int64_t kRightOption = 61;
constexpr std::int64_t kLeftOption = 58;
constexpr std::int64_t kFn = 63;
constexpr std::int64_t kRightCommand = 54;
constexpr std::uint64_t kRightOptionDown = 0x40 | 0x80000;
constexpr std::uint64_t kLeftOptionDown = 0x20 | 0x80000;

TEST_F(HotkeyMonitorTest, EdgesOfTheKeyAreReportedOnceAndSwallowedUnlessTheKeyIsFn) {
    struct Step {
        std::int64_t keyCode;
        std::uint64_t flags;
        bool swallowed;
        std::uint32_t type = kFlagsChanged;
    };
    const std::vector<std::string> both{"press", "release"};
    const std::tuple<const char*, PushToTalkKey, std::vector<Step>, std::vector<std::string>> cases[] = {
        {"right Option", PushToTalkKey::rightOption, {{kRightOption, kRightOptionDown, true}, {kRightOption, 0, true}},
         both},
        {"right Command; its generic bit alone is the left key", PushToTalkKey::rightCommand,
         {{kRightCommand, 0x10 | 0x100000, true}, {kRightCommand, 0, true}, {kRightCommand, 0x100000, false}}, both},
        {"fn passes", PushToTalkKey::fn, {{kFn, 0x800000, false}, {kFn, 0, false}}, both},
        // Left Option, even carrying the right-hand bit; key-down (10) and key-up (11) events.
        {"other keys and types", PushToTalkKey::rightOption,
         {{kLeftOption, kLeftOptionDown, false}, {kLeftOption, kRightOptionDown, false}, {kLeftOption, 0, false},
          {kRightOption, kRightOptionDown, false, 10}, {kRightOption, 0, false, 11}}, {}},
        {"left Option while right Option is held", PushToTalkKey::rightOption,
         {{kRightOption, kRightOptionDown, true}, {kLeftOption, kRightOptionDown | 0x20, false},
          {kLeftOption, kRightOptionDown, false}, {kRightOption, 0, true}}, both},
        // A release while nothing is held (its press was missed, say) is not reported either.
        {"the same state twice", PushToTalkKey::rightOption,
         {{kRightOption, kRightOptionDown, true}, {kRightOption, kRightOptionDown, false}, {kRightOption, 0, true},
          {kRightOption, 0, false}}, both},
    };
    for (const auto& [what, key, steps, expected] : cases) {
        SCOPED_TRACE(what);
        edges.clear();
        monitor.setKey(key);
        ASSERT_TRUE(monitor.start());
        EXPECT_EQ(state.key, key);
        for (const auto& step : steps) EXPECT_EQ(send(step.type, step.keyCode, step.flags), step.swallowed);
        EXPECT_EQ(edges, expected);
        EXPECT_FALSE(monitor.isPressed());
    }
}

TEST_F(HotkeyMonitorTest, DisabledNotificationsReEnableTheHookAndPassWithoutCallbacks) {
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(send(hotkey::kTapDisabledByTimeout, 0, 0), false);
    EXPECT_EQ(state.enables, 1);
    EXPECT_EQ(send(hotkey::kTapDisabledByUserInput, kRightOption, kRightOptionDown), false);
    EXPECT_EQ(state.enables, 2);
    EXPECT_TRUE(edges.empty());
    EXPECT_FALSE(monitor.isPressed());
}

// Started twice, one hook; stopped while held, no release, and the next press is a press.
TEST_F(HotkeyMonitorTest, StartAndStopLeaveOneHookOrNone) {
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(state.installs, 2);
    EXPECT_EQ(state.installed, 1);
    EXPECT_EQ(flagsChanged(kRightOption, kRightOptionDown), true);
    monitor.stop();
    EXPECT_FALSE(monitor.isPressed());
    EXPECT_FALSE(monitor.isRunning());
    monitor.stop();  // harmless when nothing is installed
    EXPECT_EQ(state.installed, 0);
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(flagsChanged(kRightOption, kRightOptionDown), true);
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "press"}));
}

TEST_F(HotkeyMonitorTest, EventsStillQueuedFromAnEarlierInstallationPassUnhandled) {
    ASSERT_TRUE(monitor.start());
    auto oldHandler = state.handler;
    std::optional<bool> verdict;
    oldHandler(HookEvent{kFlagsChanged, kRightOption, kRightOptionDown}, [&](bool c) { verdict = c; });
    monitor.stop();  // before the main executor got to the event
    executor.runUntilIdle();
    EXPECT_EQ(verdict, false);
    EXPECT_TRUE(edges.empty());
    EXPECT_FALSE(monitor.isPressed());
}

TEST_F(HotkeyMonitorTest, StartLogsTheKeyOrWhyItCannotBeWatched) {
    monitor.setKey(PushToTalkKey::rightCommand);
    ASSERT_TRUE(monitor.start());
    state.refuse = true;
    monitor.setKey(PushToTalkKey::rightOption);
    EXPECT_FALSE(monitor.start());
    EXPECT_FALSE(monitor.isRunning());
    auto records = logs.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].category, "hotkey");
    EXPECT_EQ(records[0].level, Log::Level::info);
    EXPECT_EQ(records[0].message.rfind("listening for ", 0), 0u) << records[0].message;
    EXPECT_EQ(records[1].level, Log::Level::error);
    EXPECT_EQ(records[1].message, "cannot watch Right Alt: another program holds a grab of the key");
}

TEST_F(HotkeyMonitorTest, HookThatDiesStopsTheMonitorLogsOnceAndCallsOnFailureOnMain) {
    int failures = 0;
    monitor.setOnFailure([&] { failures += executor.isCurrent() ? 1 : 100; });
    ASSERT_TRUE(monitor.start());
    auto staleDied = state.died;
    ASSERT_TRUE(monitor.start());
    staleDied("from an earlier installation");  // belongs to no running hook: ignored
    EXPECT_EQ(flagsChanged(kRightOption, kRightOptionDown), true);
    std::thread([died = state.died] { died("lost the connection to the X display"); }).join();
    executor.runUntilIdle();
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_FALSE(monitor.isPressed());
    EXPECT_EQ(state.installed, 0);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(logs.records().back().level, Log::Level::error);
    EXPECT_EQ(logs.records().back().message, "stopped watching Right Alt: lost the connection to the X display");
    EXPECT_EQ(logs.count(), 3u) << "two starts, one death";
    EXPECT_TRUE(monitor.start());
}

TEST_F(HotkeyMonitorTest, CallbacksRunOnTheMainExecutorEvenWhenTheHookCallsFromItsThread) {
    ASSERT_TRUE(monitor.start());
    bool pressOnMain = false;
    monitor.setOnPress([&] { pressOnMain = executor.isCurrent(); });
    std::optional<bool> verdict;
    std::thread hookThread([&] {
        state.handler(HookEvent{kFlagsChanged, kRightOption, kRightOptionDown}, [&](bool c) { verdict = c; });
    });
    hookThread.join();
    EXPECT_FALSE(pressOnMain);  // nothing ran before the main executor did
    executor.runUntilIdle();
    EXPECT_TRUE(pressOnMain);
    EXPECT_EQ(verdict, true);
}

TEST_F(HotkeyMonitorTest, CallbackThatRestartsTheMonitorKeepsItsEdgeVerdict) {
    ASSERT_TRUE(monitor.start());
    monitor.setOnPress([this] {
        monitor.setKey(PushToTalkKey::fn);
        monitor.start();
    });
    EXPECT_EQ(flagsChanged(kRightOption, kRightOptionDown), true);
    EXPECT_EQ(state.key, PushToTalkKey::fn);
    EXPECT_FALSE(monitor.isPressed());
}

TEST_F(HotkeyMonitorTest, DestroyingTheMonitorRemovesItsHook) {
    FakeHook::State other;
    {
        HotkeyMonitor scoped(executor, std::make_unique<FakeHook>(other));
        ASSERT_TRUE(scoped.start());
        EXPECT_EQ(other.installed, 1);
    }
    EXPECT_EQ(other.installed, 0);
}

}  // namespace
}  // namespace zarn
