#pragma once

#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace zarn::test {

// A private X server for one test: Xvfb picks a free display number and reports it through
// -displayfd once it accepts connections; the server is stopped on destruction.
class XvfbServer {
public:
    // `display` (":N") asks for that display, as when a server comes back; by default
    // Xvfb picks a free one.
    explicit XvfbServer(const std::string& display = {});

    bool isRunning() const { return process_ && !display_.empty(); }
    // ":N", or empty when the server did not come up.
    const std::string& display() const { return display_; }
    const std::string& failure() const { return failure_; }
    // Ends the server now (tests of a vanishing display).
    void stop() { process_.reset(); }

private:
    std::unique_ptr<ChildProcess> process_;
    std::string display_;
    std::string failure_;
};

// Whether a client may take a passive grab of the key (no other client holds one).
bool keyIsFreeToGrab(const std::string& display, int keycode);

}  // namespace zarn::test
