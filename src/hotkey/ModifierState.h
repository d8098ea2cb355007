#pragma once

#include <cstdint>
#include <optional>

#include "hotkey/EventHook.h"

namespace zarn::hotkey {

// The physical modifier keys a hook can report.
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
