#pragma once

#include <memory>
#include <string>
#include <thread>

#include "hotkey/EventHook.h"

namespace zarn::x11 {

// The key hook of an X11 session. It observes every modifier key through XInput2 raw
// events and, for a key whose edges are to be swallowed, holds a passive grab of that
// physical key: the X server then freezes the keyboard at each press until the verdict
// comes back, and either keeps the press from every other client or replays it to them.
// While the grab is active (the key is held) the rest of the keyboard goes to the grab too;
// push-to-talk does not type, so this is accepted. A release cannot be replayed.
class X11EventHook final : public hotkey::EventHook {
public:
    // `displayName` empty means $DISPLAY.
    explicit X11EventHook(std::string displayName = {});
    ~X11EventHook() override;
    X11EventHook(const X11EventHook&) = delete;
    X11EventHook& operator=(const X11EventHook&) = delete;

    bool install(PushToTalkKey key, Handler handler) override;
    void remove() override;
    void enable() override;

    struct Session;

private:
    std::string displayName_;
    std::shared_ptr<Session> session_;
    std::thread thread_;
};

}  // namespace zarn::x11
