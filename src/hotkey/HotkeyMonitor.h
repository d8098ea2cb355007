#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Executor.h"
#include "base/Reply.h"
#include "base/SequenceChecker.h"
#include "contracts/KeyMonitor.h"
#include "contracts/PushToTalkKey.h"
#include "hotkey/EventHook.h"

namespace zarn {

// Watches one push-to-talk key system-wide through an EventHook and reports its press and
// release edges. Everything here runs on the main executor: the owner calls it there, and
// the hook's events (and its death) are moved there before the monitor sees them.
class HotkeyMonitor final : public KeyMonitor {
public:
    HotkeyMonitor(Executor& mainExecutor, std::unique_ptr<hotkey::EventHook> hook);
    // Removes the hook, so no event can reach a monitor that is gone.
    ~HotkeyMonitor() override;
    HotkeyMonitor(const HotkeyMonitor&) = delete;
    HotkeyMonitor& operator=(const HotkeyMonitor&) = delete;

    void setKey(PushToTalkKey key) override { key_ = key; }
    void setOnPress(std::function<void()> onPress) override { onPress_ = std::move(onPress); }
    void setOnRelease(std::function<void()> onRelease) override { onRelease_ = std::move(onRelease); }
    void setOnFailure(std::function<void()> onFailure) override { onFailure_ = std::move(onFailure); }
    bool start() override;
    void stop() override;
    bool isRunning() const override { return installed_; }

    PushToTalkKey key() const { return key_; }
    // Why the last start() failed or the hook last died.
    const std::string& failure() const { return failure_; }
    bool isPressed() const { return isPressed_; }

private:
    void deliver(std::uint64_t generation, const hotkey::HookEvent& event, const hotkey::Verdict& verdict);
    // The decision rule; true swallows the event.
    bool handle(std::uint32_t type, std::int64_t keyCode, std::uint64_t flags);
    void hookDied(std::uint64_t generation, const std::string& reason);

    Executor& main_;
    std::unique_ptr<hotkey::EventHook> hook_;
    bool installed_ = false;
    bool isPressed_ = false;
    PushToTalkKey key_ = PushToTalkKey::rightOption;
    std::function<void()> onPress_;
    std::function<void()> onRelease_;
    std::function<void()> onFailure_;
    std::string failure_;
    // Events of an earlier installation that are still on their way are answered "pass".
    std::uint64_t generation_ = 0;
    SequenceChecker sequence_;
    Lifetime lifetime_;
};

}  // namespace zarn
