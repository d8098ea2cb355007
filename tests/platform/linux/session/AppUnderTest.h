#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pulse/PulseDaemon.h"
#include "platform/linux/session/DesktopSession.h"
#include "support/ScopedEnv.h"

namespace zarn::test {

// zarn-app as the end-to-end tests drive it on a desktop of their own: a microphone the
// test speaks into (a PulseAudio daemon of its own), the app's log readable, and leak checks
// off for it under a sanitizer build (Qt keeps caches until exit, which are not ours).
class AppUnderTest {
public:
    explicit AppUnderTest(std::string binary);

    bool ready() const { return pulse_.ready(); }
    std::string soundServerLog() const { return pulse_.log(); }
    const std::string& log() const { return log_; }
    // The log with what `app` wrote since, for a failure's message.
    const std::string& logOf(ChildProcess& app);

    // zarn-app with `args`, its log on the readable stream.
    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& args = {"--background"}) const;
    // Reads `app`'s log, kept in log(), until a line holds `part`.
    bool waitForLine(ChildProcess& app, const std::string& part, std::chrono::milliseconds timeout);
    // Holds the push-to-talk key (`key(true)`) until the capture starts, runs `whileHeld`,
    // says "go forward ten meters" into the microphone and lets go (`key(false)`).
    void dictate(ChildProcess& app, const std::function<bool(bool down)>& key,
                 const std::function<void()>& whileHeld = {});

    // The run history in the test's data folder.
    static std::filesystem::path history();
    // The map state of the floating capsule on the X display (an override-redirect window of
    // its own size); nothing while it does not exist.
    static std::optional<int> hudMapState();

private:
    std::string binary_;
    ScopedEnv env_;
    PulseDaemon pulse_;
    std::string log_;
};

}  // namespace zarn::test
