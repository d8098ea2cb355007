#pragma once

#include <cstdint>
#include <optional>

#include "hotkey/EventHook.h"

namespace zarn::hotkey {

// The physical modifier keys a hook can report. Key codes and flag bits are the product
// design's values (the event vocabulary of the decision rule, see EventHook.h); the hooks
// map the Linux keys onto them:
//
//   Modifier      code  flag bit   X11 keysym      evdev code        push-to-talk key
//   leftShift      56   0x2        Shift_L         KEY_LEFTSHIFT
//   rightShift     60   0x4        Shift_R         KEY_RIGHTSHIFT
//   leftControl    59   0x1        Control_L       KEY_LEFTCTRL
//   rightControl   62   0x2000     Control_R       KEY_RIGHTCTRL
//   leftOption     58   0x20       Alt_L           KEY_LEFTALT
//   rightOption    61   0x40       Alt_R           KEY_RIGHTALT      rightOption ("Right Alt")
//   leftCommand    55   0x8        Super_L         KEY_LEFTMETA
//   rightCommand   54   0x10       Super_R         KEY_RIGHTMETA     rightCommand ("Right Super")
//   capsLock       57   0x10000    Caps_Lock       KEY_CAPSLOCK
//   fn             63   0x800000   XF86Fn          KEY_FN            fn ("Fn", never swallowed)
//
// The generic bits (shift 0x20000, control 0x40000, option 0x80000, command 0x100000) are
// set while either key of a pair is down. Many keyboards handle Fn in their firmware, so
// neither hook may ever see it.
enum class Modifier {
    leftShift,
    rightShift,
    leftControl,
    rightControl,
    leftOption,
    rightOption,
    leftCommand,
    rightCommand,
    capsLock,
    fn,
};

// Key code of the modifier in the hook vocabulary.
std::int64_t keyCodeOf(Modifier modifier);
// The device-dependent (or, for caps lock and Fn, the only) flag bit of the modifier.
std::uint64_t flagOf(Modifier modifier);
// The modifier watched for a push-to-talk key.
Modifier modifierOf(PushToTalkKey key);

// Tracks which modifiers are down and builds the flags-changed event for each change.
// Not thread-safe: one hook thread owns it.
class ModifierState {
public:
    // Returns the flags-changed event for the change, or nothing when the modifier was
    // already in that state (auto-repeat, or a second keyboard holding the same key).
    std::optional<HookEvent> change(Modifier modifier, bool down);
    std::uint64_t flags() const;
    void reset() { down_ = 0; }

private:
    std::uint32_t down_ = 0;  // one bit per Modifier
};

}  // namespace zarn::hotkey
