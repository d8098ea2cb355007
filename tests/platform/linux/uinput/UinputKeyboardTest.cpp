#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include "base/Error.h"
#include "platform/linux/uinput/UinputKeyboard.h"
#include "support/ScopedEnv.h"

namespace zarn::uinput {
namespace {

// The events as the kernel would take them, read back from a pipe: keys in the Dvorak layout
// the environment names, nothing left held, a report after each key.
TEST(UinputKeyboard, PasteEventsFollowTheLayoutAndReleaseEverything) {
    std::optional<xkb::PasteKeys> keys;
    {
        test::ScopedEnv env;
        env.set("XKB_DEFAULT_LAYOUT", "us");
        env.set("XKB_DEFAULT_VARIANT", "dvorak");
        keys = pasteKeysOfText("");
    }
    ASSERT_TRUE(keys);
    for (bool terminal : {false, true}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_TRUE(writePaste(fds[1], *keys, terminal));
        close(fds[1]);
        std::vector<std::pair<int, int>> pressed;  // code, value
        input_event event{};
        while (read(fds[0], &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
            if (event.type == EV_KEY) pressed.emplace_back(event.code, event.value);
            else EXPECT_EQ(event.type, EV_SYN);
        }
        close(fds[0]);
        std::vector<std::pair<int, int>> expected = {{KEY_LEFTCTRL, 1}, {KEY_DOT, 1}, {KEY_DOT, 0}, {KEY_LEFTCTRL, 0}};
        if (terminal) {
            expected.insert(expected.begin() + 1, {KEY_LEFTSHIFT, 1});
            expected.insert(expected.end() - 1, {KEY_LEFTSHIFT, 0});
        }
        EXPECT_EQ(pressed, expected);
    }
    // Without the permission the error names the device.
    EXPECT_THROW(UinputKeyboard([] { return std::string(); }, "/nonexistent/uinput"), MessageError);
}

}  // namespace
}  // namespace zarn::uinput
