#include "audio/AudioCapture.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "base/Error.h"
#include "base/Log.h"

namespace zarn {

AudioCapture::AudioCapture(std::shared_ptr<AudioInput> input)
    : input_(std::move(input)), self_(std::make_shared<AudioCapture*>(this)) {}

AudioCapture::~AudioCapture() {
    stop();
    if (input_) input_->stop();
}

void AudioCapture::start(const AudioFormat& outputFormat, OnBuffer onBuffer, OnLevel onLevel) {
    if (isRunning_) return;
    onBuffer_ = std::move(onBuffer);
    onLevel_ = std::move(onLevel);
    outputFormat_ = outputFormat;

    const AudioFormat native = input_->nativeFormat();
    converter_.reset();
    if (!(native == outputFormat)) {
        // Buffers in the wrong format must never reach the engine: no converter, no start.
        std::string error;
        converter_ = PcmConverter::make(native, outputFormat, &error);
        if (!converter_) {
            throw MessageError("Can't convert audio from " + native.describe() + " to " + outputFormat.describe() +
                               ": " + error);
        }
    }

    // Any earlier tap is removed before the new one is installed.
    input_->stop();
    std::weak_ptr<AudioCapture*> weak = self_;
    input_->start([weak](const AudioBuffer& buffer) {
        if (auto self = weak.lock()) (*self)->handleBuffer(buffer);
    }, onInputEnd_);

    isRunning_ = true;
    Log::audio().info("capture started — native %.0fHz → engine %.0fHz", native.sampleRate, outputFormat.sampleRate);
}

void AudioCapture::stop() {
    if (!isRunning_) return;
    input_->stop();
    isRunning_ = false;
    converter_.reset();
    onBuffer_ = nullptr;
    onLevel_ = nullptr;
    Log::audio().info("capture stopped");
}

void AudioCapture::handleBuffer(const AudioBuffer& buffer) {
    if (onLevel_) onLevel_(level(buffer));
    if (!onBuffer_) return;

    if (!converter_) {
        if (auto copied = copy(buffer)) onBuffer_(std::move(copied));
        return;
    }

    const AudioFormat& out = converter_->outputFormat();
    const std::uint32_t capacity = PcmConverter::outputCapacity(buffer.frameLength(), buffer.format().sampleRate, out.sampleRate);
    std::shared_ptr<AudioBuffer> output;
    try {
        output = std::make_shared<AudioBuffer>(out, capacity);
    } catch (const std::exception&) {
        return;
    }

    std::string error;
    const auto status = converter_->convert(buffer, *output, error);
    if (status == PcmConverter::OutputStatus::error) {
        Log::audio().error("conversion failed: %s", error);
        return;
    }
    if (output->frameLength() > 0) onBuffer_(std::move(output));
}

float AudioCapture::level(const AudioBuffer& buffer) {
    const std::uint32_t frames = buffer.frameLength();
    if (frames == 0) return 0.0f;
    // Integer inputs are measured too (scaled to -1..1), so the meter moves whatever the
    // microphone's native sample type.
    float sum = 0.0f;
    for (std::uint32_t f = 0; f < frames; ++f) {
        const float v = buffer.sampleAsFloat(0, f);
        sum += v * v;
    }
    const float rms = std::sqrt(sum / static_cast<float>(frames));
    const float db = 20.0f * std::log10(std::max(rms, 1.0e-7f));
    float result = (db + 50.0f) / 50.0f;
    if (!(result >= 0.0f)) result = 0.0f;  // also NaN from non-finite samples
    return std::min(result, 1.0f);
}

std::shared_ptr<AudioBuffer> AudioCapture::copy(const AudioBuffer& buffer) {
    const std::uint32_t frames = buffer.frameLength();
    if (frames == 0) return nullptr;
    std::shared_ptr<AudioBuffer> result;
    try {
        result = std::make_shared<AudioBuffer>(buffer.format(), frames);
    } catch (const std::exception&) {
        return nullptr;
    }
    result->setFrameLength(frames);
    const std::size_t bytes = static_cast<std::size_t>(frames) * buffer.stride() * buffer.format().bytesPerSample();
    for (std::size_t plane = 0; plane < buffer.planeCount(); ++plane) {
        std::memcpy(result->data(plane), buffer.data(plane), bytes);
    }
    return result;
}

}  // namespace zarn
