#include "hotkey/HotkeyMonitor.h"

#include "base/Log.h"

namespace zarn {

HotkeyMonitor::HotkeyMonitor(Executor& mainExecutor, std::unique_ptr<hotkey::EventHook> hook)
    : main_(mainExecutor), hook_(std::move(hook)) {}

HotkeyMonitor::~HotkeyMonitor() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (installed_) hook_->remove();
}

bool HotkeyMonitor::start() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    stop();
    const std::uint64_t generation = generation_;
    auto deliverOnMain = lifetime_.guard([this, generation](const hotkey::HookEvent& event,
                                                            const hotkey::Verdict& verdict) {
        deliver(generation, event, verdict);
    });
    auto handler = [&main = main_, deliverOnMain](const hotkey::HookEvent& event, hotkey::Verdict verdict) {
        main.post([deliverOnMain, event, verdict = std::move(verdict)]() mutable {
            deliverOnMain(event, verdict);
        });
    };
    auto diedOnMain =
        lifetime_.guard([this, generation](const std::string& reason) { hookDied(generation, reason); });
    auto died = [&main = main_, diedOnMain](const std::string& reason) {
        main.post([diedOnMain, reason]() mutable { diedOnMain(reason); });
    };
    if (!hook_->install(key_, std::move(handler), std::move(died))) {
        failure_ = hook_->failure();
        Log::hotkey().error("cannot watch %{public}s: %{public}s", pushToTalkKey::keyName(key_), failure_);
        return false;
    }
    installed_ = true;
    Log::hotkey().info("listening for %{public}s", pushToTalkKey::keyName(key_));
    return true;
}

void HotkeyMonitor::stop() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (installed_) hook_->remove();
    installed_ = false;
    isPressed_ = false;
    ++generation_;
}

void HotkeyMonitor::hookDied(std::uint64_t generation, const std::string& reason) {
    if (generation != generation_ || !installed_) return;
    failure_ = reason;
    Log::hotkey().error("stopped watching %{public}s: %{public}s", pushToTalkKey::keyName(key_), reason);
    stop();
    if (onFailure_) onFailure_();
}

void HotkeyMonitor::deliver(std::uint64_t generation, const hotkey::HookEvent& event,
                            const hotkey::Verdict& verdict) {
    // An event from a hook that has since been removed belongs to no running monitor.
    const bool consume = (generation == generation_ && installed_) && handle(event.type, event.keyCode, event.flags);
    if (verdict) verdict(consume);
}

bool HotkeyMonitor::handle(std::uint32_t type, std::int64_t keyCode, std::uint64_t flags) {
    if (type == hotkey::kTapDisabledByTimeout || type == hotkey::kTapDisabledByUserInput) {
        if (installed_) hook_->enable();
        return false;
    }
    if (type != hotkey::kFlagsChanged) return false;
    if (keyCode != pushToTalkKey::keyCode(key_)) return false;
    const bool down = (flags & pushToTalkKey::flag(key_)) != 0;
    if (down == isPressed_) return false;
    isPressed_ = down;
    // A callback may stop or restart the monitor; the verdict is the key's, decided now.
    const bool consume = pushToTalkKey::shouldConsumeEvent(key_);
    if (down) {
        if (onPress_) onPress_();
    } else {
        if (onRelease_) onRelease_();
    }
    return consume;
}

}  // namespace zarn
