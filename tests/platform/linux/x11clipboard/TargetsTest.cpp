#include <gtest/gtest.h>

#include "platform/linux/x11clipboard/X11Selection.h"
#include "platform/linux/xtest/XTestKeySynthesizer.h"

namespace zarn::x11 {
namespace {

TEST(SelectionTargets, EncodingRoundTripsAndRejectsDamage) {
    std::string binary("\x89PNG\0\r\n", 7);
    std::vector<SelectionTarget> targets = {
        {"text/plain", "text/plain", 8, "caf\xc3\xa9"},
        {"image/png", "image/png", 8, binary},
        {"application/x-counts", "INTEGER", 32, std::string("\1\0\0\0\2\0\0\0", 8)},
        {"empty", "empty", 8, ""},
    };
    auto bytes = encodeTargets(targets);
    EXPECT_EQ(decodeTargets(bytes), targets);
    EXPECT_EQ(decodeTargets(""), std::vector<SelectionTarget>{});
    for (std::size_t cut : {std::size_t(1), std::size_t(9), bytes.size() - 1}) {
        EXPECT_FALSE(decodeTargets(std::string_view(bytes).substr(0, cut))) << cut;
    }
    // A 32-bit target whose bytes are not whole units, and an unknown format.
    EXPECT_FALSE(decodeTargets(encodeTargets({{"t", "INTEGER", 32, "abc"}})));
    auto badFormat = encodeTargets({{"t", "t", 8, "x"}});
    badFormat[badFormat.find('8')] = '7';
    EXPECT_FALSE(decodeTargets(badFormat));
}

TEST(SelectionTargets, PlainTextIsOfferedUnderTheUsualNames) {
    auto names = [](const std::vector<SelectionTarget>& targets) {
        std::vector<std::string> out;
        for (const auto& t : targets) {
            EXPECT_EQ(t.format, 8);
            out.push_back(t.target);
        }
        return out;
    };
    auto ascii = textTargets("plain");
    EXPECT_EQ(names(ascii), (std::vector<std::string>{"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "TEXT", "STRING"}));
    // STRING is Latin-1, so UTF-8 beyond ASCII is not offered under it.
    auto accented = textTargets("caf\xc3\xa9");
    EXPECT_EQ(names(accented), (std::vector<std::string>{"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "TEXT"}));
    for (const auto& t : accented) EXPECT_EQ(t.bytes, "caf\xc3\xa9");
}

TEST(PasteShortcut, TerminalsAreRecognizedByWindowClassOrApplicationName) {
    for (const char* name : {"xterm", "XTerm", "URxvt", "gnome-terminal-server", "Gnome-terminal", "konsole", "kitty",
                             "Alacritty", "xfce4-terminal", "Tilix", "st-256color", "org.gnome.Console"}) {
        EXPECT_TRUE(inject::isTerminalName(name)) << name;
    }
    for (const char* name : {"", "firefox", "Navigator", "gedit", "terminal-notes", "xtermx", "code"}) {
        EXPECT_FALSE(inject::isTerminalName(name)) << name;
    }
}

}  // namespace
}  // namespace zarn::x11
