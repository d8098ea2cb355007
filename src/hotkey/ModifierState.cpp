#include "hotkey/ModifierState.h"

namespace zarn::hotkey {

std::int64_t keyCodeOf(Modifier modifier) {
    switch (modifier) {
        case Modifier::leftShift: return 56;
        case Modifier::rightShift: return 60;
        case Modifier::leftControl: return 59;
        case Modifier::rightControl: return 62;
        case Modifier::leftOption: return 58;
        case Modifier::rightOption: return 61;
        case Modifier::leftCommand: return 55;
        case Modifier::rightCommand: return 54;
        case Modifier::capsLock: return 57;
        case Modifier::fn: return 63;
    }
    return 0;
}

std::uint64_t flagOf(Modifier modifier) {
    switch (modifier) {
        case Modifier::leftShift: return flags::leftShift;
        case Modifier::rightShift: return flags::rightShift;
        case Modifier::leftControl: return flags::leftControl;
        case Modifier::rightControl: return flags::rightControl;
        case Modifier::leftOption: return flags::leftOption;
        case Modifier::rightOption: return flags::rightOption;
        case Modifier::leftCommand: return flags::leftCommand;
        case Modifier::rightCommand: return flags::rightCommand;
        case Modifier::capsLock: return flags::alphaShift;
        case Modifier::fn: return flags::secondaryFn;
    }
    return 0;
}

Modifier modifierOf(PushToTalkKey key) {
    switch (key) {
        case PushToTalkKey::rightOption: return Modifier::rightOption;
        case PushToTalkKey::fn: return Modifier::fn;
        case PushToTalkKey::rightCommand: return Modifier::rightCommand;
    }
    return Modifier::rightOption;
}

std::optional<HookEvent> ModifierState::change(Modifier modifier, bool down) {
    const std::uint32_t bit = 1u << static_cast<unsigned>(modifier);
    if (((down_ & bit) != 0) == down) return std::nullopt;
    if (down) {
        down_ |= bit;
    } else {
        down_ &= ~bit;
    }
    return HookEvent{kFlagsChanged, keyCodeOf(modifier), flags()};
}

std::uint64_t ModifierState::flags() const {
    std::uint64_t result = 0;
    auto isDown = [this](Modifier m) { return (down_ & (1u << static_cast<unsigned>(m))) != 0; };
    for (unsigned i = 0; i <= static_cast<unsigned>(Modifier::fn); ++i) {
        auto m = static_cast<Modifier>(i);
        if (isDown(m)) result |= flagOf(m);
    }
    if (isDown(Modifier::leftShift) || isDown(Modifier::rightShift)) result |= flags::shift;
    if (isDown(Modifier::leftControl) || isDown(Modifier::rightControl)) result |= flags::control;
    if (isDown(Modifier::leftOption) || isDown(Modifier::rightOption)) result |= flags::option;
    if (isDown(Modifier::leftCommand) || isDown(Modifier::rightCommand)) result |= flags::command;
    return result;
}

}  // namespace zarn::hotkey
