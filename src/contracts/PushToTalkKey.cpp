#include "contracts/PushToTalkKey.h"

namespace zarn::pushToTalkKey {

std::string_view rawValue(PushToTalkKey key) {
    switch (key) {
        case PushToTalkKey::rightOption: return "rightOption";
        case PushToTalkKey::fn: return "fn";
        case PushToTalkKey::rightCommand: return "rightCommand";
    }
    return "rightOption";
}

std::optional<PushToTalkKey> fromRawValue(std::string_view raw) {
    for (auto key : allCases) {
        if (rawValue(key) == raw) return key;
    }
    return std::nullopt;
}

std::int64_t keyCode(PushToTalkKey key) {
    switch (key) {
        case PushToTalkKey::rightOption: return 61;
        case PushToTalkKey::fn: return 63;
        case PushToTalkKey::rightCommand: return 54;
    }
    return 61;
}

std::uint64_t flag(PushToTalkKey key) {
    switch (key) {
        case PushToTalkKey::rightOption: return 0x40;
        case PushToTalkKey::fn: return 0x800000;
        case PushToTalkKey::rightCommand: return 0x10;
    }
    return 0x40;
}

std::string_view displayName(PushToTalkKey key) {
    switch (key) {
        case PushToTalkKey::rightOption: return "Right \u2325";
        case PushToTalkKey::fn: return "fn";
        case PushToTalkKey::rightCommand: return "Right \u2318";
    }
    return "";
}

std::string_view keyName(PushToTalkKey key) {
    switch (key) {
        case PushToTalkKey::rightOption: return "Right Alt";
        case PushToTalkKey::fn: return "Fn";
        case PushToTalkKey::rightCommand: return "Right Super";
    }
    return "";
}

bool shouldConsumeEvent(PushToTalkKey key) { return key != PushToTalkKey::fn; }

}  // namespace zarn::pushToTalkKey
