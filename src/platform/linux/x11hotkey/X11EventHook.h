#pragma once

#include <memory>
#include <string>

#include "hotkey/EventHook.h"
#include "platform/linux/keyhook/HookThread.h"

namespace zarn::x11 {

// The key hook of an X11 session. It observes every modifier key through XInput2 raw
// events and, for a key whose edges are to be swallowed, holds a passive grab of that
// physical key: the X server then freezes the keyboard at each press until the verdict
// comes back, and either keeps the press from every other client or replays it to them.
// While a swallowed key is held, every other key event is replayed to the focused window
// and the keyboard grabbed again behind it, so the key's release is swallowed too. Only a
// release that follows another key within the instant of that hand-over reaches the
// application. A release cannot be replayed, so a press that went on keeps its release.
class X11EventHook final : public hotkey::EventHook {
public:
    // `displayName` empty means the display named by DISPLAY.
    explicit X11EventHook(std::string displayName = {});
    ~X11EventHook() override;
    X11EventHook(const X11EventHook&) = delete;
    X11EventHook& operator=(const X11EventHook&) = delete;

    bool install(PushToTalkKey key, Handler handler, Died died) override;
    std::string failure() const override { return failure_; }
    void remove() override;
    void enable() override;

    struct Session;

private:
    std::string displayName_;
    std::string failure_;
    std::shared_ptr<Session> session_;
    keyhook::HookThread thread_;
};

}  // namespace zarn::x11
