#pragma once

#include "app/Doctor.h"

namespace zarn::doctor {

// The doctor's probes on this machine and session: the desktop's facts, the sound server,
// the speech models the engines would load and the configured language-model server.
class SystemProbes final : public Probes {
public:
    SystemProbes();

    DisplayFacts display() override;
    KeyFacts keys() override;
    AccessibilityFacts accessibility() override;
    SoundFacts sound() override;
    SpeechFacts speech() override;
    LanguageModelFacts languageModel() override;
    TrayFacts tray() override;
};

}  // namespace zarn::doctor
