#include "app/SystemProbes.h"

#include <chrono>
#include <cstdlib>
#include <optional>

#include "app/Services.h"
#include "platform/linux/desktop/SessionProbes.h"
#include "platform/linux/llm/OpenAICompatibleModel.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"
#include "platform/linux/wayland/VirtualKeyboard.h"
#include "settings/Settings.h"
#include "speech/ModelStore.h"

namespace zarn::doctor {

SystemProbes::SystemProbes() { services::installSpeech(); }

DisplayFacts SystemProbes::display() {
    DisplayFacts facts = desktop::probeDisplay([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
    if (std::getenv("WAYLAND_DISPLAY")) facts.virtualKeyboard = wl::virtualKeyboardOffered();
    return facts;
}

KeyFacts SystemProbes::keys() { return desktop::probeKeys(chooseHotkeyBackend()); }

AccessibilityFacts SystemProbes::accessibility() { return desktop::probeAccessibilityBus(); }

SoundFacts SystemProbes::sound() {
    SoundFacts facts;
    // The same wait as the application's microphone check.
    if (auto found = PulseAudioInput::inputSources({}, std::chrono::seconds(1))) {
        facts.answers = true;
        facts.server = std::move(found->server);
        facts.inputs = std::move(found->sources);
    }
    return facts;
}

SpeechFacts SystemProbes::speech() {
    SpeechFacts facts;
    facts.chosen = Settings::shared().engine();
    facts.locale = analysis::currentLocaleIdentifier();
    const auto roots = sphinx::defaultModelRoots();
    for (const auto& model : sphinx::findLocaleModels(roots)) {
        facts.systemModels.push_back({model.identifier, model.languageModel.string()});
    }
    for (const auto& root : roots) facts.searchedFolders += (facts.searchedFolders.empty() ? "" : ", ") + root.string();
    facts.systemModelMatch = sphinx::SphinxSpeechFramework(roots).supportedLocale(facts.locale).value_or("");
    const ModelStore& store = ModelStore::shared();
    facts.localModelInstalled = store.isInstalled();
    facts.localModelPath = store.modelURL().string();
    facts.localModelMegabytes = store.artifact().shownMegabytes;
    return facts;
}

LanguageModelFacts SystemProbes::languageModel() {
    LanguageModelFacts facts;
    const auto config = llm::LlmServerConfig::forThisUser();
    facts.configured = !config.baseUrl.empty();
    if (!facts.configured) return facts;
    const auto endpoint = llm::Endpoint::parse(config.baseUrl);
    facts.error = endpoint.error;
    facts.origin = endpoint.origin;
    if (endpoint.ok()) facts.availability = llm::OpenAICompatibleModel(config).availability();
    return facts;
}

TrayFacts SystemProbes::tray() { return desktop::probeTray(); }

}  // namespace zarn::doctor
