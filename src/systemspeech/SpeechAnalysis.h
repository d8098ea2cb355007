#pragma once

// The operations of an on-device speech analysis service that the system speech engine
// uses: a transcriber module with volatile and final results, an analyzer fed from an
// input stream, supported and installed locales, asset installation and an analysis
// context with contextual strings. The platform provides the implementation.

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/ResultStream.h"
#include "contracts/AudioBuffer.h"

namespace zarn::analysis {

// One result of a transcriber: a volatile result is a revisable guess at the audio since
// the last final result; a final result is settled text. Texts carry their own spacing.
struct TranscriberResult {
    std::string text;
    bool isFinal = false;
    bool operator==(const TranscriberResult&) const = default;
};
using ResultSequence = ResultStream<TranscriberResult>;

// The recognition module for one locale, reporting volatile results as well as final ones.
class SpeechTranscriber {
public:
    virtual ~SpeechTranscriber() = default;
    virtual std::vector<std::string> selectedLocales() const = 0;  // BCP 47 identifiers
    // Ends normally once its analyzer has finished, or with an error.
    virtual std::shared_ptr<ResultSequence> results() = 0;
};

// The audio an analyzer consumes: unbounded, so the producer never waits.
class AnalyzerInputStream {
public:
    void yield(std::shared_ptr<const AudioBuffer> buffer) {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        items_.push_back(std::move(buffer));
        ready_.notify_all();
    }
    void finish() {
        std::lock_guard lock(mutex_);
        finished_ = true;
        ready_.notify_all();
    }
    // Waits for the next buffer; nullptr once the stream is finished and drained.
    std::shared_ptr<const AudioBuffer> next() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return finished_ || !items_.empty(); });
        if (items_.empty()) return nullptr;
        auto item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::shared_ptr<const AudioBuffer>> items_;
    bool finished_ = false;
};

struct AnalysisContext {
    static constexpr const char* general = "general";
    std::map<std::string, std::vector<std::string>> contextualStrings;  // by tag
};

class SpeechAnalyzer {
public:
    virtual ~SpeechAnalyzer() = default;
    // Throws when the context cannot be applied.
    virtual void setContext(const AnalysisContext& context) = 0;
    // Begins consuming `input` on the analyzer's own thread. Throws when it cannot start.
    virtual void start(std::shared_ptr<AnalyzerInputStream> input) = 0;
    // Waits until everything up to the end of the input is analysed and the results have
    // ended. Throws when that fails.
    virtual void finalizeAndFinishThroughEndOfInput() = 0;
    // Stops at once; the results end without analysing what is left.
    virtual void cancelAndFinishNow() = 0;
};

class AssetInstallationRequest {
public:
    virtual ~AssetInstallationRequest() = default;
    virtual void downloadAndInstall() = 0;  // throws on failure
};

class SpeechFramework {
public:
    virtual ~SpeechFramework() = default;

    virtual bool isAvailable() = 0;
    // The supported locale equivalent to `identifier`, if any.
    virtual std::optional<std::string> supportedLocale(const std::string& identifier) = 0;
    virtual std::vector<std::string> installedLocales() = 0;
    virtual std::shared_ptr<SpeechTranscriber> makeTranscriber(const std::string& locale) = 0;
    // The best format for all of these transcribers, if the service offers one.
    virtual std::optional<AudioFormat> bestAvailableAudioFormat(
        const std::vector<std::shared_ptr<SpeechTranscriber>>& transcribers) = 0;
    // What must be installed for the transcriber; nullptr when nothing. Throws on failure.
    virtual std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const SpeechTranscriber& transcriber) = 0;
    virtual std::shared_ptr<SpeechAnalyzer> makeAnalyzer(std::shared_ptr<SpeechTranscriber> transcriber) = 0;

    // The machine's service, installed by the application (or the command line) at start-up.
    static std::shared_ptr<SpeechFramework> shared();
    static void setShared(std::shared_ptr<SpeechFramework> framework);
};

// The system engine's locale: the messages locale's language (strings/Locale.h), "en-US"
// when the user named none, as the engine needs one to choose its acoustic model.
std::string currentLocaleIdentifier();

}  // namespace zarn::analysis
