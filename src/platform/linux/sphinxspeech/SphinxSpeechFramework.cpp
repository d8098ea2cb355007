#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "base/Error.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "sphinx/PhraseBias.h"
#include "strings/Locale.h"

namespace zarn::sphinx {

namespace fs = std::filesystem;
using namespace analysis;

namespace {

constexpr double kModelRate = 16000;

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<LocaleModel> readModelFolder(const fs::path& folder, const std::string& identifier) {
    LocaleModel model{identifier, folder, {}, {}, {}};
    std::error_code ec;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder, ec)) entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    for (const auto& path : entries) {
        const std::string name = path.filename().string();
        if (fs::is_directory(path, ec)) {
            if (model.acousticModel.empty() && fs::is_regular_file(path / "mdef", ec)) model.acousticModel = path;
        } else if (endsWith(name, ".dict") || endsWith(name, ".dic")) {
            if (model.dictionary.empty()) model.dictionary = path;
        } else if ((endsWith(name, ".lm.bin") || endsWith(name, ".lm") || endsWith(name, ".lm.dmp") ||
                    endsWith(name, ".arpa")) &&
                   name.find("-phone") == std::string::npos) {
            if (model.languageModel.empty()) model.languageModel = path;
        }
    }
    if (model.acousticModel.empty() || model.dictionary.empty() || model.languageModel.empty()) return std::nullopt;
    return model;
}

class SphinxTranscriber final : public SpeechTranscriber {
public:
    explicit SphinxTranscriber(std::string locale) : locale_(std::move(locale)) {}
    std::vector<std::string> selectedLocales() const override { return {locale_}; }
    std::shared_ptr<ResultSequence> results() override { return results_; }
    const std::string& locale() const { return locale_; }

private:
    std::string locale_;
    std::shared_ptr<ResultSequence> results_ = ResultSequence::make();
};

class SphinxAnalyzer final : public SpeechAnalyzer {
public:
    SphinxAnalyzer(std::shared_ptr<SphinxTranscriber> transcriber, std::optional<LocaleModel> model,
                   std::shared_ptr<SphinxSpeechFramework::DecoderPool> pool, float biasWeight)
        : transcriber_(std::move(transcriber)), model_(std::move(model)), pool_(std::move(pool)), biasWeight_(biasWeight) {}

    ~SphinxAnalyzer() override {
        cancelled_ = true;
        if (input_) input_->finish();
        if (thread_.joinable()) thread_.join();
    }

    void setContext(const AnalysisContext& context) override {
        const auto it = context.contextualStrings.find(AnalysisContext::general);
        phrases_ = it == context.contextualStrings.end() ? std::vector<std::string>{} : it->second;
    }

    void start(std::shared_ptr<AnalyzerInputStream> input) override {
        if (thread_.joinable()) throw MessageError("the analyzer is already running");
        if (!model_) throw MessageError("no speech model is installed for " + transcriber_->locale());
        std::string error;
        auto decoder = pool_->take(*model_, error);
        if (!decoder) throw MessageError("Can't load the speech model for " + transcriber_->locale() + ": " + error);
        if (phrases_.empty()) {
            clearPhraseBias(*decoder);
        } else if (!applyPhraseBias(*decoder, phrases_, biasWeight_, error)) {
            Log::speech().info("biasing skipped: %{public}s", error);
        }
        input_ = std::move(input);
        thread_ = std::thread([this, decoder = std::move(decoder)]() mutable { run(std::move(decoder)); });
    }

    void finalizeAndFinishThroughEndOfInput() override {
        if (thread_.joinable()) thread_.join();
        else transcriber_->results()->finish();
    }

    void cancelAndFinishNow() override {
        cancelled_ = true;
        if (input_) input_->finish();
        if (thread_.joinable()) thread_.join();
        transcriber_->results()->finish();
    }

private:
    void run(std::unique_ptr<StreamingDecoder> decoder) {
        auto results = transcriber_->results();
        std::size_t committedLength = 0;
        std::string lastVolatile;
        // A final result for each utterance finished since the last look, with its spacing.
        auto emitFinals = [&] {
            const std::string& committed = decoder->committedText();
            if (committed.size() > committedLength) {
                results->yield({committed.substr(committedLength), true});
                committedLength = committed.size();
                lastVolatile.clear();
            }
        };
        bool warned = false;
        while (!cancelled_) {
            auto buffer = input_->next();
            if (!buffer || cancelled_) break;
            const AudioFormat& format = buffer->format();
            if (format.sampleRate != kModelRate || format.channels != 1) {
                if (!warned) Log::speech().error("analyzer input in an unexpected format: %{public}s", format.describe());
                warned = true;
                continue;
            }
            if (format.sampleType == SampleType::float32) {
                decoder->feed(buffer->floatData(0), buffer->frameLength());
            } else if (format.sampleType == SampleType::int16) {
                decoder->feed(buffer->int16Data(0), buffer->frameLength());
            } else {
                std::vector<float> samples(buffer->frameLength());
                for (std::uint32_t f = 0; f < buffer->frameLength(); ++f) samples[f] = buffer->sampleAsFloat(0, f);
                decoder->feed(samples.data(), samples.size());
            }
            emitFinals();
            const std::string hypothesis = decoder->tentativeText();
            if (!hypothesis.empty()) {
                // After a final result the guess carries the space that joins it on.
                std::string tentative(committedLength > 0 ? 1 : 0, ' ');
                tentative += hypothesis;
                if (tentative != lastVolatile) {
                    results->yield({tentative, false});
                    lastVolatile = tentative;
                }
            }
        }
        if (!cancelled_) {
            decoder->finalize();
            emitFinals();
        }
        decoder->reset();
        results->finish();
        pool_->give(transcriber_->locale(), std::move(decoder));
    }

    std::shared_ptr<SphinxTranscriber> transcriber_;
    std::optional<LocaleModel> model_;
    std::shared_ptr<SphinxSpeechFramework::DecoderPool> pool_;
    float biasWeight_;
    std::vector<std::string> phrases_;
    std::shared_ptr<AnalyzerInputStream> input_;
    std::atomic<bool> cancelled_{false};
    std::thread thread_;
};

class NoModelSource final : public AssetInstallationRequest {
public:
    void downloadAndInstall() override {}
};

}  // namespace

std::vector<LocaleModel> findLocaleModels(const std::vector<fs::path>& roots) {
    std::vector<LocaleModel> models;
    for (const auto& root : roots) {
        std::error_code ec;
        std::vector<fs::path> folders;
        for (const auto& entry : fs::directory_iterator(root, ec)) {
            if (entry.is_directory(ec)) folders.push_back(entry.path());
        }
        std::sort(folders.begin(), folders.end());
        for (const auto& folder : folders) {
            const std::string identifier = languageTagFromLocaleName(folder.filename().string()).value_or("");
            if (identifier.empty()) continue;
            if (std::any_of(models.begin(), models.end(), [&](const auto& m) { return m.identifier == identifier; })) continue;
            if (auto model = readModelFolder(folder, identifier)) models.push_back(std::move(*model));
        }
    }
    return models;
}

std::vector<fs::path> defaultModelRoots() {
    return {paths::dataDirectory() / "speech-models", "/usr/share/pocketsphinx/model"};
}

SphinxSpeechFramework::SphinxSpeechFramework(std::vector<fs::path> roots, float biasWeight)
    : roots_(std::move(roots)), biasWeight_(biasWeight) {}

std::optional<LocaleModel> SphinxSpeechFramework::model(const std::string& locale) {
    for (auto& model : findLocaleModels(roots_)) {
        if (model.identifier == locale) return model;
    }
    return std::nullopt;
}

bool SphinxSpeechFramework::isAvailable() { return !findLocaleModels(roots_).empty(); }

std::optional<std::string> SphinxSpeechFramework::supportedLocale(const std::string& identifier) {
    const std::string wanted = languageTagFromLocaleName(identifier).value_or("");
    if (wanted.empty()) return std::nullopt;
    const auto installed = installedLocales();
    if (std::find(installed.begin(), installed.end(), wanted) != installed.end()) return wanted;
    // Same language, other region ("en" or "en-GB" → "en-US").
    const std::string language = wanted.substr(0, wanted.find('-'));
    for (const auto& locale : installed) {
        if (locale.substr(0, locale.find('-')) == language) return locale;
    }
    return std::nullopt;
}

std::vector<std::string> SphinxSpeechFramework::installedLocales() {
    std::vector<std::string> locales;
    for (const auto& model : findLocaleModels(roots_)) locales.push_back(model.identifier);
    return locales;
}

std::shared_ptr<SpeechTranscriber> SphinxSpeechFramework::makeTranscriber(const std::string& locale) {
    return std::make_shared<SphinxTranscriber>(languageTagFromLocaleName(locale).value_or(locale));
}

std::optional<AudioFormat> SphinxSpeechFramework::bestAvailableAudioFormat(
    const std::vector<std::shared_ptr<SpeechTranscriber>>& transcribers) {
    if (transcribers.empty()) return std::nullopt;
    return AudioFormat::monoFloat(kModelRate);
}

std::unique_ptr<AssetInstallationRequest> SphinxSpeechFramework::assetInstallationRequest(
    const SpeechTranscriber& transcriber) {
    // Models are installed with the system's packages or by hand; there is nothing to download.
    for (const auto& locale : transcriber.selectedLocales()) {
        if (!model(locale)) {
            std::string where;
            for (const auto& root : roots_) where += (where.empty() ? "" : " or ") + (root / languageTagFromLocaleName(locale).value_or(locale)).string();
            throw MessageError("no speech model for " + locale + " is installed (looked for " + where + ")");
        }
    }
    return std::make_unique<NoModelSource>();
}

std::shared_ptr<SpeechAnalyzer> SphinxSpeechFramework::makeAnalyzer(std::shared_ptr<SpeechTranscriber> transcriber) {
    auto sphinxTranscriber = std::dynamic_pointer_cast<SphinxTranscriber>(transcriber);
    if (!sphinxTranscriber) throw MessageError("the transcriber does not belong to this speech service");
    return std::make_shared<SphinxAnalyzer>(sphinxTranscriber, model(sphinxTranscriber->locale()), pool_, biasWeight_);
}

void SphinxSpeechFramework::preload(const std::string& locale) {
    auto found = model(locale);
    if (!found) return;
    std::string error;
    if (auto decoder = pool_->take(*found, error)) pool_->give(locale, std::move(decoder));
}

std::unique_ptr<StreamingDecoder> SphinxSpeechFramework::DecoderPool::take(const LocaleModel& model, std::string& error) {
    {
        std::lock_guard lock(mutex_);
        auto& idle = idle_[model.identifier];
        if (!idle.empty()) {
            auto decoder = std::move(idle.back());
            idle.pop_back();
            return decoder;
        }
    }
    DecoderConfig config;
    config.acousticModelDir = model.acousticModel.string();
    config.dictionaryPath = model.dictionary.string();
    config.languageModelPath = model.languageModel.string();
    config.sampleRate = static_cast<float>(kModelRate);
    return StreamingDecoder::open(config, error);
}

void SphinxSpeechFramework::DecoderPool::give(const std::string& locale, std::unique_ptr<StreamingDecoder> decoder) {
    std::lock_guard lock(mutex_);
    idle_[locale].push_back(std::move(decoder));
}

}  // namespace zarn::sphinx
