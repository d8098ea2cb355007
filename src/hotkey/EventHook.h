#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "contracts/PushToTalkKey.h"

namespace zarn::hotkey {

// Event types of the hook vocabulary. Every platform hook translates what it sees into
// these values, so the decision rule is the same everywhere.
inline constexpr std::uint32_t kFlagsChanged = 12;
inline constexpr std::uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;

// Flag bits of the vocabulary: the device-dependent bits tell right from left, the
// generic bits are set while either key of the pair is down.
namespace flags {
inline constexpr std::uint64_t leftControl = 0x1;
inline constexpr std::uint64_t leftShift = 0x2;
inline constexpr std::uint64_t rightShift = 0x4;
inline constexpr std::uint64_t leftCommand = 0x8;
inline constexpr std::uint64_t rightCommand = 0x10;
inline constexpr std::uint64_t leftOption = 0x20;
inline constexpr std::uint64_t rightOption = 0x40;
inline constexpr std::uint64_t rightControl = 0x2000;
inline constexpr std::uint64_t alphaShift = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t secondaryFn = 0x800000;
}  // namespace flags

struct HookEvent {
    std::uint32_t type = kFlagsChanged;
    std::int64_t keyCode = 0;
    std::uint64_t flags = 0;
};

// Answers the hook for one event: true swallows it, false lets it through. May be called
// from any thread, at most once; calling it after the hook was removed does nothing.
using Verdict = std::function<void(bool consume)>;

// A system-wide hook that reports modifier-key changes. It is the stand-in for an active
// event tap: it delivers events on its own thread and, where the platform allows, holds
// each event until the verdict says whether the rest of the system may see it.
class EventHook {
public:
    using Handler = std::function<void(const HookEvent& event, Verdict verdict)>;
    // Why an installed hook stopped on its own, in a few words for the log.
    using Died = std::function<void(const std::string& reason)>;

    virtual ~EventHook() = default;
    // Installs the hook watching `key`. The handler is called on the hook's thread until
    // remove() returns or the hook dies; `died` is then called once, on the hook's thread,
    // and nothing after it. False when the hook cannot be installed (failure() says why);
    // nothing is left behind.
    virtual bool install(PushToTalkKey key, Handler handler, Died died) = 0;
    // Why the last install() failed.
    virtual std::string failure() const = 0;
    // Removes the hook and releases whatever it holds. Safe when nothing is installed,
    // and after the hook died.
    virtual void remove() = 0;
    // Resumes delivery after the hook reported that it was disabled.
    virtual void enable() = 0;
};

}  // namespace zarn::hotkey
