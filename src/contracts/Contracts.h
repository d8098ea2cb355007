#pragma once

// The types and operations through which the dictation controller reaches the rest of the
// system. The controller knows nothing of the other side beyond what is declared here.

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Clock.h"
#include "base/Error.h"
#include "base/Reply.h"
#include "base/ResultStream.h"
#include "contracts/AudioBuffer.h"
#include "contracts/PushToTalkKey.h"

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

// Cleanup of a finished transcript. Never fails: implementations fall back on their own.
class TextFormatter {
public:
    virtual ~TextFormatter() = default;
    virtual void format(std::string text, Reply<std::string> done) = 0;
};

struct AppliedCorrection {
    std::string from;
    std::string to;
    long count = 0;
    bool operator==(const AppliedCorrection&) const = default;
};

struct CorrectionResult {
    std::string text;
    std::vector<AppliedCorrection> applied;
};

// What the controller records for every dictation that produced text.
struct DictationRun {
    std::string id;  // upper-case UUID
    SystemTime date;
    std::string engine;
    double audioSeconds = 0;
    double processSeconds = 0;
    std::string text;
    std::optional<std::vector<AppliedCorrection>> corrections;
    bool operator==(const DictationRun&) const = default;
};

// ---- The controller's other collaborators ----

class MicrophonePermission {
public:
    virtual ~MicrophonePermission() = default;
    // True when the microphone may be used; asks the user if undecided.
    virtual void requestMicrophone(Reply<bool> reply) = 0;
};

class AudioCapturing {
public:
    using OnBuffer = std::function<void(std::shared_ptr<const AudioBuffer>)>;  // capture thread
    using OnLevel = std::function<void(float)>;                               // capture thread
    virtual ~AudioCapturing() = default;
    // Throws a LocalizedError (or std::exception) when the microphone cannot be started.
    virtual void start(const AudioFormat& outputFormat, OnBuffer onBuffer, OnLevel onLevel) = 0;
    // Safe when not running.
    virtual void stop() = 0;
};

class KeyMonitor {
public:
    virtual ~KeyMonitor() = default;
    virtual void setKey(PushToTalkKey key) = 0;
    virtual void setOnPress(std::function<void()> onPress) = 0;
    virtual void setOnRelease(std::function<void()> onRelease) = 0;
    // False when the hook cannot be installed. Always stops first.
    virtual bool start() = 0;
    virtual void stop() = 0;
    // True between a successful start() and stop(), or until the hook fails on its own.
    virtual bool isRunning() const = 0;
    // Called on the main executor when a running monitor stops on its own (its hook died);
    // the monitor is then not running and start() may be tried again.
    virtual void setOnFailure(std::function<void()> /*onFailure*/) {}
};

class DictionaryCorrections {
public:
    virtual ~DictionaryCorrections() = default;
    virtual CorrectionResult applyCorrections(const std::string& text) = 0;
};

class RunRecorder {
public:
    virtual ~RunRecorder() = default;
    virtual void record(const DictationRun& run) = 0;
};

class TextInserter {
public:
    virtual ~TextInserter() = default;
    // Returns after the accessibility attempt or after starting the paste.
    virtual void insert(const std::string& text) = 0;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Fire and forget ("Tink", "Pop").
    virtual void play(const std::string& name) = 0;
};

}  // namespace zarn
