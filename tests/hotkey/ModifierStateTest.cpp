#include <gtest/gtest.h>

#include "hotkey/ModifierState.h"

namespace zarn::hotkey {
namespace {

TEST(ModifierStateTest, BuildsFlagsWordsWithDeviceAndGenericBits) {
    ModifierState state;
    auto down = state.change(Modifier::rightOption, true);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->type, kFlagsChanged);
    EXPECT_EQ(down->keyCode, 61);
    EXPECT_EQ(down->flags, flags::rightOption | flags::option);

    auto left = state.change(Modifier::leftOption, true);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->keyCode, 58);
    EXPECT_EQ(left->flags, flags::rightOption | flags::leftOption | flags::option);

    auto rightUp = state.change(Modifier::rightOption, false);
    ASSERT_TRUE(rightUp);
    EXPECT_EQ(rightUp->flags, flags::leftOption | flags::option);  // generic bit stays for the left key

    EXPECT_FALSE(state.change(Modifier::leftOption, true));  // no change, no event
    EXPECT_TRUE(state.change(Modifier::leftOption, false));
    EXPECT_EQ(state.flags(), 0u);
}

TEST(ModifierStateTest, PushToTalkKeysMapToTheirModifiers) {
    for (auto key : pushToTalkKey::allCases) {
        EXPECT_EQ(keyCodeOf(modifierOf(key)), pushToTalkKey::keyCode(key));
        EXPECT_EQ(flagOf(modifierOf(key)), pushToTalkKey::flag(key));
    }
}

}  // namespace
}  // namespace zarn::hotkey
