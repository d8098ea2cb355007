#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contracts/Speech.h"
#include "systemspeech/SpeechAnalysis.h"

namespace zarn {

// The speech engine on the machine's own speech analysis service: interim text while the
// user speaks, the locale's model installed on first use, recognition biased towards the
// dictionary's phrases. An actor: its operations run one at a time on its executor.
class AppleSpeechEngine final : public TranscriptionEngine, public std::enable_shared_from_this<AppleSpeechEngine> {
public:
    // Reads the dictionary's bias phrases (at most 40) wherever they live and answers.
    using BiasPhrases = std::function<void(Reply<std::vector<std::string>>)>;

    AppleSpeechEngine(std::shared_ptr<analysis::SpeechFramework> framework,
                      std::string locale = analysis::currentLocaleIdentifier(), BiasPhrases biasPhrases = nullptr,
                      std::shared_ptr<Executor> executor = nullptr);

    // Whether the shared speech service can transcribe on this machine.
    static bool isSupported();
    // Bias phrases read by `read` on `executor` (the main executor, where the dictionary lives).
    static BiasPhrases biasPhrasesOn(Executor& executor, std::function<std::vector<std::string>()> read);

    void preferredInputFormat(Reply<std::optional<AudioFormat>> reply) override;
    void start(Reply<Result<std::shared_ptr<ChunkStream>>> reply) override;
    void feed(AudioChunk chunk, Reply<> done) override;
    void finish(Reply<> done) override;

    const std::string& locale() const { return locale_; }

private:
    void startWithPhrases(std::vector<std::string> phrases, Reply<Result<std::shared_ptr<ChunkStream>>> reply);
    std::shared_ptr<ChunkStream> startAnalysis(const std::vector<std::string>& phrases);
    void finishNow();
    void startResultsTask(std::shared_ptr<analysis::SpeechTranscriber> transcriber, std::shared_ptr<ChunkStream> stream);
    std::string absorb(const analysis::TranscriberResult& result);
    static void ensureModelInstalled(analysis::SpeechFramework& framework, const analysis::SpeechTranscriber& transcriber);
    static std::optional<analysis::AnalysisContext> biasingContext(const std::vector<std::string>& phrases);

    std::shared_ptr<analysis::SpeechFramework> framework_;
    const std::string locale_;
    BiasPhrases biasPhrases_;
    std::shared_ptr<Executor> executor_;

    // Touched on the executor only.
    std::shared_ptr<analysis::SpeechTranscriber> transcriber_;
    std::shared_ptr<analysis::SpeechAnalyzer> analyzer_;
    std::shared_ptr<analysis::AnalyzerInputStream> inputContinuation_;
    bool resultsTaskRunning_ = false;
    std::string finalizedText_;
    // A finish() that arrives while start() waits for the dictionary runs once start is done,
    // so the result stream always ends.
    bool starting_ = false;
    std::vector<Reply<>> pendingFinish_;
};

}  // namespace zarn
