#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "inject/KeySynthesizer.h"

namespace zarn::inject {

namespace {

// WM_CLASS names and accessible application names of common terminal emulators, lower-cased.
constexpr std::array<std::string_view, 38> kTerminals = {
    "xterm",          "uxterm",          "rxvt",           "urxvt",          "urxvt-unicode",  "gnome-terminal",
    "gnome-terminal-server", "konsole",   "kitty",          "alacritty",      "xfce4-terminal", "terminator",
    "tilix",          "st",              "st-256color",    "lxterminal",     "mate-terminal",  "qterminal",
    "terminology",    "sakura",          "termite",        "eterm",          "guake",          "tilda",
    "yakuake",        "cool-retro-term", "wezterm",        "org.wezfurlong.wezterm", "foot", "kgx",
    "deepin-terminal", "terminal",       "roxterm",        "aterm",          "mlterm",         "com.raggesilver.blackbox",
    "org.gnome.console", "footclient",
};

}  // namespace

bool isTerminalName(std::string_view name) {
    std::string lowered(name);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kTerminals.begin(), kTerminals.end(), lowered) != kTerminals.end();
}

}  // namespace zarn::inject
