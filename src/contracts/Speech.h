#pragma once

// Speech engines as the dictation sees them: the audio they take, the text they give,
// their errors and the two engines the user chooses between.

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "base/Reply.h"
#include "base/ResultStream.h"
#include "contracts/AudioBuffer.h"

namespace zarn {

// One block of samples, already in the format the engine asked for. Nobody writes to the
// buffer after it is wrapped, so chunks are shared across threads freely.
struct AudioChunk {
    std::shared_ptr<const AudioBuffer> buffer;
};

// Always the whole transcript of the current dictation so far, never a delta.
struct TranscriptionChunk {
    std::string text;
    bool isFinal = false;
    bool operator==(const TranscriptionChunk&) const = default;
};

class TranscriptionError : public LocalizedError {
public:
    enum class Kind { localeUnsupported, modelInstallFailed, engineUnavailable, noAudioFormat, notRunning };

    static TranscriptionError localeUnsupported(std::string localeIdentifier) { return {Kind::localeUnsupported, std::move(localeIdentifier)}; }
    static TranscriptionError modelInstallFailed(std::string reason) { return {Kind::modelInstallFailed, std::move(reason)}; }
    static TranscriptionError engineUnavailable(std::string message) { return {Kind::engineUnavailable, std::move(message)}; }
    static TranscriptionError noAudioFormat() { return {Kind::noAudioFormat, {}}; }
    static TranscriptionError notRunning() { return {Kind::notRunning, {}}; }

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }
    // Taken from the strings table current at the moment of reading.
    std::string errorDescription() const override;

private:
    TranscriptionError(Kind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) { fixWhat(); }
    Kind kind_;
    std::string payload_;
};

enum class SpeechEngineChoice { apple, nemotron };

namespace speechEngineChoice {
constexpr std::array<SpeechEngineChoice, 2> allCases{SpeechEngineChoice::apple, SpeechEngineChoice::nemotron};
std::string_view rawValue(SpeechEngineChoice choice);
std::optional<SpeechEngineChoice> fromRawValue(std::string_view raw);  // exact match only
std::string_view displayName(SpeechEngineChoice choice);
}  // namespace speechEngineChoice

// A speech engine. Engines are actors: each runs its operations one at a time on an
// executor of its own and answers through the Reply, on the caller's executor.
// Implementations are made with std::make_shared and keep themselves alive while work is
// queued. One instance serves one dictation.
class TranscriptionEngine {
public:
    using ChunkStream = ResultStream<TranscriptionChunk>;
    virtual ~TranscriptionEngine() = default;

    // The format the engine wants its audio in; nullopt when it can take none.
    virtual void preferredInputFormat(Reply<std::optional<AudioFormat>> reply) = 0;
    // The engine's result stream for this dictation, or the error that stopped it.
    virtual void start(Reply<Result<std::shared_ptr<ChunkStream>>> reply) = 0;
    // One chunk, in capture order, after start() succeeded. Never fails; `done` when consumed.
    virtual void feed(AudioChunk chunk, Reply<> done) = 0;
    // Called once at the end (possibly while start() is still under way): the engine emits
    // its last text with isFinal true and then ends the stream on its own.
    virtual void finish(Reply<> done) = 0;
};

using EngineFactory = std::function<std::shared_ptr<TranscriptionEngine>()>;

}  // namespace zarn
