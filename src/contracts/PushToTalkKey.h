#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarn {

// The three modifier keys that can serve as the push-to-talk key. Key codes and flag bits
// are in the event vocabulary the key monitor's decision rule speaks; each platform hook
// translates its own events into it.
enum class PushToTalkKey { rightOption, fn, rightCommand };

namespace pushToTalkKey {

constexpr std::array<PushToTalkKey, 3> allCases{PushToTalkKey::rightOption, PushToTalkKey::fn,
                                                PushToTalkKey::rightCommand};

std::string_view rawValue(PushToTalkKey key);
std::optional<PushToTalkKey> fromRawValue(std::string_view raw);
std::int64_t keyCode(PushToTalkKey key);
std::uint64_t flag(PushToTalkKey key);
std::string_view displayName(PushToTalkKey key);
// The key as a Linux keyboard names it ("Right Alt"), for terminal and log texts.
std::string_view keyName(PushToTalkKey key);
bool shouldConsumeEvent(PushToTalkKey key);

}  // namespace pushToTalkKey
}  // namespace zarn
