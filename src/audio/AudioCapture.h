#pragma once

#include <memory>
#include <optional>

#include "audio/AudioInput.h"
#include "audio/PcmConverter.h"
#include "contracts/Capture.h"

namespace zarn {

// Takes audio from an input (the default microphone in the application, a file on the
// command line), converts each tapped buffer to the format the speech engine asked for and
// hands it out, with a level for the meter. Never blocks and never queues: both callbacks
// run on the input's thread.
class AudioCapture final : public AudioCapturing {
public:
    explicit AudioCapture(std::shared_ptr<AudioInput> input);
    ~AudioCapture() override;
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Does nothing when already running. Throws what the input throws when it cannot start.
    void start(const AudioFormat& outputFormat, OnBuffer onBuffer, OnLevel onLevel) override;
    void stop() override;

    // Told, on the input's thread, when the input ends by itself (a file's end, a lost
    // device). Set before start().
    void setOnInputEnd(AudioInput::OnEnd onEnd) { onInputEnd_ = std::move(onEnd); }

    bool isRunning() const { return isRunning_; }
    const std::optional<AudioFormat>& outputFormat() const { return outputFormat_; }
    // True while a converter is in use (the input's format differs from the requested one).
    bool isConverting() const { return converter_ != nullptr; }

    // The level of a buffer in [0, 1]: the first channel's RMS in dB, −50 dB → 0, 0 dB → 1.
    static float level(const AudioBuffer& buffer);
    // A private copy holding exactly the buffer's frames; nullptr for an empty buffer.
    static std::shared_ptr<AudioBuffer> copy(const AudioBuffer& buffer);
    // Handles one tapped buffer; what the input's thread runs (public for tests).
    void handleBuffer(const AudioBuffer& buffer);

private:
    std::shared_ptr<AudioInput> input_;
    std::unique_ptr<PcmConverter> converter_;
    std::optional<AudioFormat> outputFormat_;
    bool isRunning_ = false;
    OnBuffer onBuffer_;
    OnLevel onLevel_;
    AudioInput::OnEnd onInputEnd_;
    // Guards the tap callback against a capture that is gone.
    std::shared_ptr<AudioCapture*> self_;
};

}  // namespace zarn
