#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <pulse/sample.h>

#include "audio/AudioInput.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace zarn {

// The microphone through PulseAudio (also the PipeWire desktops' PulseAudio service): the
// default source (or a named one) in its own sample specification, recorded on the
// client's event thread and delivered in taps of 2048 frames. Integer and float samples
// are taken as they are; other sample types are asked for as 32-bit float.
class PulseAudioInput final : public AudioInput {
public:
    struct Options {
        std::string server;  // e.g. "unix:/run/user/1000/pulse/native"; empty: the default server
        std::string source;  // empty: the server's default source
        std::string applicationName = "Zarn";
    };

    PulseAudioInput();
    explicit PulseAudioInput(Options options);
    ~PulseAudioInput() override;
    PulseAudioInput(const PulseAudioInput&) = delete;
    PulseAudioInput& operator=(const PulseAudioInput&) = delete;

    // Throws a MessageError when the server or the source cannot be reached.
    AudioFormat nativeFormat() override;
    void start(OnTap onTap, OnEnd onEnd = nullptr) override;
    void stop() override;

    // Connects to `server` once; true when it answers. For waiting on a server starting up.
    static bool probe(const std::string& server, std::string* error = nullptr);
    // The server's name and version, and the descriptions of its sources that record
    // something (a monitor of an output does not count); nothing when `server` does not
    // answer within `timeout`.
    struct InputSources {
        std::string server;
        std::vector<std::string> sources;
    };
    static std::optional<InputSources> inputSources(const std::string& server, std::chrono::milliseconds timeout);
    // True when `server` answers within `timeout` and has an input source.
    static bool hasInputSource(const std::string& server, std::chrono::milliseconds timeout);

private:
    struct Callbacks;
    void connectLocked();
    void disconnectLocked();
    std::string sourceNameLocked();
    void readLocked();
    void endLocked(std::exception_ptr error);
    // Detaches and drops the stream and the tap callbacks; no callback runs afterwards.
    void releaseStreamLocked();
    void lock();
    void unlock();

    Options options_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_sample_spec spec_{};
    bool haveSpec_ = false;
    std::string sourceName_;

    // Touched on the event thread (or with its lock held).
    OnTap onTap_;
    OnEnd onEnd_;
    std::unique_ptr<AudioBuffer> tap_;
    std::size_t tapBytes_ = 0;
    bool running_ = false;
};

}  // namespace zarn
