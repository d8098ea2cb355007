#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

#include "platform/linux/xkbkeys/PasteKeys.h"

namespace zarn::xkb {
namespace {

// Evdev codes + 8: KEY_V, KEY_DOT (Dvorak's v), KEY_LEFTCTRL, KEY_LEFTSHIFT.
constexpr std::uint32_t qwertyV = 47 + 8, dvorakV = 52 + 8, leftControl = 29 + 8, leftShift = 42 + 8;

TEST(PasteKeys, ResolvedFromTheKeymapsLayouts) {
    struct Case {
        const char* layout;
        const char* variant;
        std::uint32_t v;
        std::uint32_t group = 0;  // the layout that has v
    };
    for (const auto& c : {Case{"us", "", qwertyV}, Case{"us", "dvorak", dvorakV}, Case{"ru", "", qwertyV},
                          Case{"ru,us", ",dvorak", dvorakV, 1}, Case{"us,ru", "dvorak,", dvorakV},
                          Case{"fr", "", qwertyV}}) {
        SCOPED_TRACE(std::string(c.layout) + "(" + c.variant + ")");
        std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES),
                                                                         &xkb_context_unref);
        xkb_rule_names names{.rules = "evdev", .model = "pc105", .layout = c.layout, .variant = c.variant, .options = ""};
        std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
            xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
        ASSERT_TRUE(keymap);
        auto keys = pasteKeys(keymap.get());
        ASSERT_TRUE(keys);
        EXPECT_EQ(keys->v, c.v);
        EXPECT_EQ(keys->layout, c.group);
        EXPECT_EQ(keys->control, leftControl);
        EXPECT_EQ(keys->shift, leftShift);
        EXPECT_EQ(keys->controlMask, 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL));
    }
    EXPECT_FALSE(pasteKeys(nullptr));
}

}  // namespace
}  // namespace zarn::xkb
