#include "contracts/Speech.h"

#include "strings/CurrentStrings.h"

namespace zarn {

std::string TranscriptionError::errorDescription() const {
    const auto strings = CurrentStrings::value();
    switch (kind_) {
        case Kind::localeUnsupported: return strings.errors.localeUnsupported(payload_);
        case Kind::modelInstallFailed: return strings.errors.modelInstallFailed(payload_);
        case Kind::engineUnavailable: return payload_;
        case Kind::noAudioFormat: return strings.errors.noAudioFormat;
        case Kind::notRunning: return strings.errors.notRunning;
    }
    return payload_;
}

namespace speechEngineChoice {

std::string_view rawValue(SpeechEngineChoice choice) {
    return choice == SpeechEngineChoice::apple ? "apple" : "nemotron";
}

std::optional<SpeechEngineChoice> fromRawValue(std::string_view raw) {
    for (auto choice : allCases) {
        if (rawValue(choice) == raw) return choice;
    }
    return std::nullopt;
}

std::string_view displayName(SpeechEngineChoice choice) {
    return choice == SpeechEngineChoice::apple ? "Apple (streaming)" : "Nemotron (streaming)";
}

}  // namespace speechEngineChoice
}  // namespace zarn
