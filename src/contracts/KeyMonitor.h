#pragma once

// The push-to-talk key as the dictation sees it.

#include <functional>

#include "contracts/PushToTalkKey.h"

namespace zarn {

class KeyMonitor {
public:
    virtual ~KeyMonitor() = default;
    virtual void setKey(PushToTalkKey key) = 0;
    virtual void setOnPress(std::function<void()> onPress) = 0;
    virtual void setOnRelease(std::function<void()> onRelease) = 0;
    // False when the hook cannot be installed. Always stops first.
    virtual bool start() = 0;
    virtual void stop() = 0;
    // True between a successful start() and stop(), or until the hook fails on its own.
    virtual bool isRunning() const = 0;
    // Called on the main executor when a running monitor stops on its own (its hook died);
    // the monitor is then not running and start() may be tried again.
    virtual void setOnFailure(std::function<void()> /*onFailure*/) {}
};

}  // namespace zarn
