#pragma once

#include <memory>

#include "base/Executor.h"
#include "cleanup/ModelAvailabilityCache.h"
#include "cleanup/SystemLanguageModel.h"
#include "contracts/Speech.h"
#include "dictation/DictationFinisher.h"
#include "dictionary/DictionaryStore.h"
#include "settings/Settings.h"

// The shared services both programs build the same way, so the application and
// `zarn transcribe` cannot drift apart: the speech engines, the cleanup formatters and the
// machine's speech service behind the engine setting.
namespace zarn::services {

// The machine's speech service for the system engine, and the settings' probe of it.
// Idempotent; call before Settings::shared() is first reached.
void installSpeech();

std::shared_ptr<TranscriptionEngine> makeEngine(SpeechEngineChoice choice, Executor& main, DictionaryStore& dictionary);

// A factory reading the engine setting at each call (each press of the key).
EngineFactory engineForCurrentSetting(Settings& settings, Executor& main, DictionaryStore& dictionary);

// Loads `choice`'s model in the background and keeps it for the next dictation; the local
// model only when it is on disk. Errors are left to the first dictation.
void preloadEngine(SpeechEngineChoice choice);

// The language-model server configured for this user (environment, then settings).
std::shared_ptr<SystemLanguageModel> makeLanguageModel(const DefaultsStore& defaults);

// The rules, or with smart cleanup the language model with the rules as its fallback;
// `availability`, when given, learns what each cleanup finds out about the model.
DictationFinisher::FormatterFactory formatterFactory(Executor& main, std::shared_ptr<SystemLanguageModel> model,
                                                     std::shared_ptr<ModelAvailabilityCache> availability = nullptr);

}  // namespace zarn::services
