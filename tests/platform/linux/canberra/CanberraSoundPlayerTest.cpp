#include <gtest/gtest.h>

#include "platform/linux/canberra/CanberraSoundPlayer.h"
#include "platform/linux/pulse/PulseDaemon.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;

// The daemon logs every playback stream it creates, named after the theme event.
TEST(CanberraSounds, BothSoundsReachTheSoundServer) {
    test::ScopedXdgHome home;
    test::PulseDaemon daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    test::ScopedEnv env;
    env.set("PULSE_SERVER", daemon.server().c_str());
    canberra::CanberraSoundPlayer player;
    player.play("Tink");
    player.play("Pop");
    auto played = [&](const std::string& event) {
        return daemon.log().find("Created input") != std::string::npos &&
               daemon.log().find('"' + event + '"') != std::string::npos;
    };
    EXPECT_TRUE(test::waitUntil([&] { return played("audio-volume-change") && played("message"); }, 30s)) << daemon.log();
}

TEST(CanberraSounds, MissingServerIsLoggedOnce) {
    test::ScopedXdgHome home;
    test::ScopedEnv env;
    env.set("PULSE_SERVER", ("unix:" + (home.root() / "no-server").string()).c_str());
    test::LogCapture logs;
    {
        canberra::CanberraSoundPlayer player;
        for (const char* name : {"Tink", "Pop", "Tink"}) player.play(name);
    }  // its thread ends after the sounds it was given
    EXPECT_EQ(logs.messages("app").size(), 1u);
}

}  // namespace
}  // namespace zarn
