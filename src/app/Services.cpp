#include "app/Services.h"

#include <mutex>

#include "base/SerialExecutor.h"
#include "cleanup/FoundationModelFormatter.h"
#include "cleanup/RuleBasedFormatter.h"
#include "platform/linux/llm/OpenAICompatibleModel.h"
#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"
#include "speech/NemotronEngine.h"
#include "speech/NemotronModels.h"
#include "systemspeech/AppleSpeechEngine.h"

namespace zarn::services {

namespace {

std::shared_ptr<sphinx::SphinxSpeechFramework>& sphinxFramework() {
    static std::shared_ptr<sphinx::SphinxSpeechFramework> framework;
    return framework;
}

}  // namespace

void installSpeech() {
    static std::once_flag once;
    std::call_once(once, [] {
        sphinxFramework() = std::make_shared<sphinx::SphinxSpeechFramework>();
        analysis::SpeechFramework::setShared(sphinxFramework());
        Settings::setSharedSystemSpeechProbe([] { return AppleSpeechEngine::isSupported(); });
    });
}

std::shared_ptr<TranscriptionEngine> makeEngine(SpeechEngineChoice choice, Executor& main, DictionaryStore& dictionary) {
    if (choice == SpeechEngineChoice::nemotron) return std::make_shared<NemotronEngine>(NemotronModels::shared());
    installSpeech();
    return std::make_shared<AppleSpeechEngine>(
        analysis::SpeechFramework::shared(), analysis::currentLocaleIdentifier(),
        AppleSpeechEngine::biasPhrasesOn(main, [&dictionary] { return dictionary.biasPhrases(); }));
}

EngineFactory engineForCurrentSetting(Settings& settings, Executor& main, DictionaryStore& dictionary) {
    return [&settings, &main, &dictionary] { return makeEngine(settings.engine(), main, dictionary); };
}

void preloadEngine(SpeechEngineChoice choice) {
    if (choice == SpeechEngineChoice::nemotron) {
        const auto& models = NemotronModels::shared();
        if (models->isDownloaded()) models->preload();
        return;
    }
    installSpeech();
    // Loading a decoder takes about a second; it must never hold up the main executor.
    static SerialExecutor loader("zarn-preload");
    loader.post([framework = sphinxFramework()] {
        framework->preload(framework->supportedLocale(analysis::currentLocaleIdentifier()).value_or("en-US"));
    });
}

std::shared_ptr<SystemLanguageModel> makeLanguageModel(const DefaultsStore& defaults) {
    return std::make_shared<llm::OpenAICompatibleModel>(llm::LlmServerConfig::resolve(defaults));
}

DictationFinisher::FormatterFactory formatterFactory(Executor& main, std::shared_ptr<SystemLanguageModel> model,
                                                     std::shared_ptr<ModelAvailabilityCache> availability) {
    return [&main, model = std::move(model), availability = std::move(availability)](bool smart) -> std::shared_ptr<TextFormatter> {
        if (smart && model) {
            return std::make_shared<FoundationModelFormatter>(model, main, FoundationModelFormatter::defaultTimeout,
                                                              availability);
        }
        return std::make_shared<RuleBasedFormatter>();
    };
}

}  // namespace zarn::services
