#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sphinx/StreamingDecoder.h"
#include "systemspeech/SpeechAnalysis.h"

namespace zarn::sphinx {

// An installed PocketSphinx model for one locale: a folder named after the locale
// ("en-us") holding the acoustic model folder (the one with "mdef"), a pronunciation
// dictionary (*.dict) and a language model (*.lm.bin, *.lm, *.lm.dmp or *.arpa).
struct LocaleModel {
    std::string identifier;  // BCP 47, e.g. "en-US"
    std::filesystem::path folder;
    std::filesystem::path acousticModel;
    std::filesystem::path dictionary;
    std::filesystem::path languageModel;
};

// The models under `roots`; for a locale found under several roots, the first root wins.
std::vector<LocaleModel> findLocaleModels(const std::vector<std::filesystem::path>& roots);
// The user's folder (<data folder>/speech-models) first, then /usr/share/pocketsphinx/model.
std::vector<std::filesystem::path> defaultModelRoots();

// The machine's speech analysis on PocketSphinx. Finals are finished utterances (the
// audio is cut at silences), volatile results the hypothesis of the utterance in progress.
// Loaded decoders are kept per locale and reused by later analyzers.
class SphinxSpeechFramework final : public analysis::SpeechFramework {
public:
    // Weight of the phrase model against the locale's language model when biasing.
    static constexpr float defaultBiasWeight = 0.1f;

    explicit SphinxSpeechFramework(std::vector<std::filesystem::path> roots = defaultModelRoots(),
                                   float biasWeight = defaultBiasWeight);

    bool isAvailable() override;
    std::optional<std::string> supportedLocale(const std::string& identifier) override;
    std::vector<std::string> installedLocales() override;
    std::shared_ptr<analysis::SpeechTranscriber> makeTranscriber(const std::string& locale) override;
    std::optional<AudioFormat> bestAvailableAudioFormat(
        const std::vector<std::shared_ptr<analysis::SpeechTranscriber>>& transcribers) override;
    std::unique_ptr<analysis::AssetInstallationRequest> assetInstallationRequest(
        const analysis::SpeechTranscriber& transcriber) override;
    std::shared_ptr<analysis::SpeechAnalyzer> makeAnalyzer(std::shared_ptr<analysis::SpeechTranscriber> transcriber) override;

    // Decoders loaded and idle, ready for the next analyzer; shared with the analyzers.
    class DecoderPool {
    public:
        std::unique_ptr<StreamingDecoder> take(const LocaleModel& model, std::string& error);
        void give(const std::string& locale, std::unique_ptr<StreamingDecoder> decoder);

    private:
        std::mutex mutex_;
        std::map<std::string, std::vector<std::unique_ptr<StreamingDecoder>>> idle_;
    };

    // Loads the decoder of `locale` ahead of the first dictation (errors ignored).
    void preload(const std::string& locale);

private:
    std::optional<LocaleModel> model(const std::string& locale);

    std::vector<std::filesystem::path> roots_;
    float biasWeight_;
    std::shared_ptr<DecoderPool> pool_ = std::make_shared<DecoderPool>();
};

}  // namespace zarn::sphinx
