#include "systemspeech/AppleSpeechEngine.h"

#include <algorithm>

#include "base/Log.h"
#include "base/SerialExecutor.h"

namespace zarn {

using namespace analysis;

namespace {

// Spaces and tabs only: line breaks inside the transcript are kept.
std::string trimSpacesAndTabs(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

AppleSpeechEngine::AppleSpeechEngine(std::shared_ptr<SpeechFramework> framework, std::string locale,
                                     BiasPhrases biasPhrases, std::shared_ptr<Executor> executor)
    : framework_(std::move(framework)),
      locale_(std::move(locale)),
      biasPhrases_(std::move(biasPhrases)),
      executor_(executor ? std::move(executor) : std::make_shared<SerialExecutor>("zarn-sys-speech")) {}

bool AppleSpeechEngine::isSupported() {
    auto framework = SpeechFramework::shared();
    return framework && framework->isAvailable();
}

AppleSpeechEngine::BiasPhrases AppleSpeechEngine::biasPhrasesOn(Executor& executor,
                                                                 std::function<std::vector<std::string>()> read) {
    return [&executor, read = std::move(read)](Reply<std::vector<std::string>> reply) {
        executor.post([read, reply = std::move(reply)]() mutable { reply(read ? read() : std::vector<std::string>{}); });
    };
}

void AppleSpeechEngine::preferredInputFormat(Reply<std::optional<AudioFormat>> reply) {
    executor_->post([self = shared_from_this(), reply = std::move(reply)]() mutable {
        if (!self->transcriber_) self->transcriber_ = self->framework_->makeTranscriber(self->locale_);
        reply(self->framework_->bestAvailableAudioFormat({self->transcriber_}));
    });
}

void AppleSpeechEngine::start(Reply<Result<std::shared_ptr<ChunkStream>>> reply) {
    executor_->post([self = shared_from_this(), reply = std::move(reply)]() mutable {
        self->starting_ = true;
        if (!self->biasPhrases_) {
            self->startWithPhrases({}, std::move(reply));
            return;
        }
        self->biasPhrases_(Reply<std::vector<std::string>>(
            *self->executor_, [self, reply = std::move(reply)](std::vector<std::string> phrases) mutable { self->startWithPhrases(std::move(phrases), std::move(reply)); }));
    });
}

void AppleSpeechEngine::startWithPhrases(std::vector<std::string> phrases,
                                         Reply<Result<std::shared_ptr<ChunkStream>>> reply) {
    try {
        reply(startAnalysis(phrases));
    } catch (...) {
        reply(std::current_exception());
    }
    starting_ = false;
    if (!pendingFinish_.empty()) {
        finishNow();
        for (auto& done : std::exchange(pendingFinish_, {})) done();
    }
}

std::shared_ptr<TranscriptionEngine::ChunkStream> AppleSpeechEngine::startAnalysis(const std::vector<std::string>& phrases) {
    if (!framework_->isAvailable()) throw TranscriptionError::localeUnsupported(locale_);

    const std::string resolved = framework_->supportedLocale(locale_).value_or("en-US");
    transcriber_ = framework_->makeTranscriber(resolved);
    ensureModelInstalled(*framework_, *transcriber_);

    inputContinuation_ = std::make_shared<AnalyzerInputStream>();
    analyzer_ = framework_->makeAnalyzer(transcriber_);

    if (auto context = biasingContext(phrases)) {
        try {
            analyzer_->setContext(*context);
        } catch (...) {
            // The dictation goes on without biasing.
        }
    }

    finalizedText_.clear();
    auto stream = ChunkStream::make();
    startResultsTask(transcriber_, stream);
    analyzer_->start(inputContinuation_);
    Log::speech().info("SpeechAnalyzer started for %{public}s", resolved);
    return stream;
}

void AppleSpeechEngine::ensureModelInstalled(SpeechFramework& framework, const SpeechTranscriber& transcriber) {
    const auto installed = framework.installedLocales();
    const auto selected = transcriber.selectedLocales();
    const bool allInstalled = std::all_of(selected.begin(), selected.end(), [&](const std::string& locale) {
        return std::find(installed.begin(), installed.end(), locale) != installed.end();
    });
    if (allInstalled) return;

    std::unique_ptr<AssetInstallationRequest> request;
    try {
        request = framework.assetInstallationRequest(transcriber);
    } catch (...) {
        throw TranscriptionError::modelInstallFailed(describeError(std::current_exception()));
    }
    if (!request) return;
    Log::speech().info("downloading speech model…");
    try {
        request->downloadAndInstall();
    } catch (...) {
        throw TranscriptionError::modelInstallFailed(describeError(std::current_exception()));
    }
    Log::speech().info("speech model installed");
}

std::optional<AnalysisContext> AppleSpeechEngine::biasingContext(const std::vector<std::string>& phrases) {
    if (phrases.empty()) return std::nullopt;
    AnalysisContext context;
    context.contextualStrings[AnalysisContext::general] = phrases;
    Log::speech().info("biasing with %{public}ld dictionary phrase(s)", static_cast<long>(phrases.size()));
    return context;
}

void AppleSpeechEngine::startResultsTask(std::shared_ptr<SpeechTranscriber> transcriber,
                                         std::shared_ptr<ChunkStream> stream) {
    std::weak_ptr<AppleSpeechEngine> weak = shared_from_this();
    auto results = transcriber->results();
    // The executor outlives a dropped engine for as long as the results need it.
    auto executor = executor_;
    results->subscribe(
        *executor,
        [weak, stream, executor, weakResults = std::weak_ptr<ResultSequence>(results)](TranscriberResult result) {
            auto self = weak.lock();
            if (!self) {
                // The engine is gone: end as if the results had ended, with nothing finalized.
                stream->yield({"", true});
                stream->finish();
                if (auto r = weakResults.lock()) r->cancel();
                return;
            }
            stream->yield({self->absorb(result), false});
        },
        [weak, stream, executor](std::exception_ptr error) {
            if (error) {
                Log::speech().error("results stream failed: %s", describeError(error));
                stream->fail(error);
                return;
            }
            auto self = weak.lock();
            stream->yield({self ? self->finalizedText_ : std::string(), true});
            stream->finish();
        });
    resultsTaskRunning_ = true;
}

std::string AppleSpeechEngine::absorb(const TranscriberResult& result) {
    if (result.isFinal) {
        finalizedText_ += result.text;
        return trimSpacesAndTabs(finalizedText_);
    }
    return trimSpacesAndTabs(finalizedText_ + result.text);
}

void AppleSpeechEngine::feed(AudioChunk chunk, Reply<> done) {
    executor_->post([self = shared_from_this(), chunk = std::move(chunk), done = std::move(done)]() mutable {
        if (self->inputContinuation_ && chunk.buffer) self->inputContinuation_->yield(chunk.buffer);
        done();
    });
}

void AppleSpeechEngine::finish(Reply<> done) {
    executor_->post([self = shared_from_this(), done = std::move(done)]() mutable {
        if (self->starting_) {
            self->pendingFinish_.push_back(std::move(done));
            return;
        }
        self->finishNow();
        done();
    });
}

void AppleSpeechEngine::finishNow() {
    if (inputContinuation_) {
        inputContinuation_->finish();
        inputContinuation_.reset();
    }
    if (analyzer_) {
        try {
            analyzer_->finalizeAndFinishThroughEndOfInput();
        } catch (...) {
            Log::speech().error("finalize failed: %s", describeError(std::current_exception()));
            analyzer_->cancelAndFinishNow();
        }
    }
    // The results task is let go, not cancelled: it delivers what is left and ends the stream.
    analyzer_.reset();
    transcriber_.reset();
    resultsTaskRunning_ = false;
}

}  // namespace zarn
