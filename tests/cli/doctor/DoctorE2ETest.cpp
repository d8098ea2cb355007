#include <gtest/gtest.h>

#include <memory>

#include "platform/linux/pulse/PulseDaemon.h"
#include "platform/linux/session/DesktopSession.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn::test {
namespace {

TEST(DoctorE2E, AnXvfbSessionWithAMicrophoneCanDictateAndAMissingSoundServerCannot) {
    if (auto missing = DesktopSession::missingTool(true); !missing.empty()) GTEST_SKIP() << missing;
    DesktopSession session(true);
    PulseDaemon pulse;
    ASSERT_TRUE(pulse.ready()) << pulse.log();
    TempDir home;
    CommandOptions options;
    options.env = {{"PULSE_SERVER", pulse.server()}, {"ZARN_HOTKEY_BACKEND", "x11"}};

    const CommandResult working = runZarn(home.path(), {"doctor"}, options);
    EXPECT_NE(working.out.find("✓ Display server: X11 (DISPLAY=" + session.display() + ")\n"), std::string::npos)
        << working.out;
    EXPECT_NE(working.out.find("✓ Push-to-talk key: X11 backend\n"), std::string::npos) << working.out;
    EXPECT_NE(working.out.find("✓ Microphone: "), std::string::npos) << working.out;
    EXPECT_EQ(working.status, 0) << working.out << working.err;

    pulse.kill();
    const CommandResult silent = runZarn(home.path(), {"doctor"}, options);
    EXPECT_NE(silent.out.find("✗ Sound server: no PulseAudio or PipeWire server answers\n"), std::string::npos)
        << silent.out;
    EXPECT_NE(silent.out.find("it needs the microphone."), std::string::npos) << silent.out;
    EXPECT_EQ(silent.status, 1) << silent.out << silent.err;
}

}  // namespace
}  // namespace zarn::test
