#pragma once

#include <cstdint>
#include <optional>

struct xkb_keymap;

namespace zarn::xkb {

// The keys of the paste shortcut in one keymap, as XKB key codes (evdev code + 8), with the
// modifier masks they set.
struct PasteKeys {
    std::uint32_t control = 0;
    std::uint32_t shift = 0;
    std::uint32_t v = 0;
    std::uint32_t controlMask = 0;
    std::uint32_t shiftMask = 0;
    std::uint32_t layout = 0;  // the layout (XKB group) in which `v` types "v"
    bool operator==(const PasteKeys&) const = default;
};

// Applications bind paste to the key whose first-level symbol is "v" in some layout of the
// keymap (Dvorak moves it; "us,ru" has it in the second layout). A keymap with no Latin
// layout at all gets the key at QWERTY's V position, where toolkits look for shortcuts when
// the active layout has no Latin letters. nullopt when the keymap lacks Control or Shift.
std::optional<PasteKeys> pasteKeys(xkb_keymap* keymap);

}  // namespace zarn::xkb
