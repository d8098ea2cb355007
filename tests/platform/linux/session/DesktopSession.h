#pragma once

#include <memory>
#include <string>

#include "platform/linux/session/XvfbServer.h"
#include "support/ChildProcess.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace zarn::test {

// A private desktop: Xvfb on a free display, and with accessibility a session bus and the
// AT-SPI bus as well. The environment of this process (DISPLAY, DBUS_SESSION_BUS_ADDRESS,
// XDG folders, HOME) points at it while the object lives; everything stops with it.
class DesktopSession {
public:
    explicit DesktopSession(bool accessibility);

    const std::string& display() const { return xvfb_->display(); }
    // Empty when every program the sessions need is installed, else the missing one.
    static std::string missingTool(bool accessibility);

private:
    ScopedXdgHome home_;
    ScopedEnv env_;
    std::unique_ptr<XvfbServer> xvfb_;
    std::unique_ptr<ChildProcess> bus_, atspiBus_;
};

}  // namespace zarn::test
