#include "audio/PcmConverter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace zarn {

namespace {

float clampUnit(float v) {
    if (!std::isfinite(v)) return 0.0f;
    return std::clamp(v, -1.0f, 1.0f);
}

}  // namespace

std::unique_ptr<PcmConverter> PcmConverter::make(const AudioFormat& input, const AudioFormat& output,
                                                 std::string* error) {
    auto fail = [&](const std::string& message) -> std::unique_ptr<PcmConverter> {
        if (error) *error = message;
        return nullptr;
    };
    if (input.channels == 0 || output.channels == 0) return fail("an audio format needs at least one channel");
    if (!(input.sampleRate > 0) || !(output.sampleRate > 0) || !std::isfinite(input.sampleRate) ||
        !std::isfinite(output.sampleRate)) {
        return fail("invalid sample rate");
    }
    soxr_t soxr = nullptr;
    if (input.sampleRate != output.sampleRate) {
        soxr_error_t soxrError = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        soxr = soxr_create(input.sampleRate, output.sampleRate, output.channels, &soxrError, &io, nullptr, nullptr);
        if (!soxr || soxrError) {
            if (soxr) soxr_delete(soxr);
            return fail(std::string("cannot make a resampler: ") + (soxrError ? soxrError : "unknown error"));
        }
    }
    return std::unique_ptr<PcmConverter>(new PcmConverter(input, output, soxr));
}

PcmConverter::~PcmConverter() {
    if (soxr_) soxr_delete(soxr_);
}

std::uint32_t PcmConverter::outputCapacity(std::uint32_t frames, double inputRate, double outputRate) {
    const double needed = std::ceil(static_cast<double>(frames) * (outputRate / inputRate)) + 64.0;
    if (!(needed >= 0) || needed > static_cast<double>(std::numeric_limits<std::uint32_t>::max())) return 0;
    return static_cast<std::uint32_t>(needed);
}

PcmConverter::OutputStatus PcmConverter::convert(const AudioBuffer& input, AudioBuffer& output, std::string& error) {
    bool given = false;
    return convert(output, error, [&](InputStatus& status) -> const AudioBuffer* {
        status = given ? InputStatus::noDataNow : InputStatus::haveData;
        return std::exchange(given, true) ? nullptr : &input;
    });
}

void PcmConverter::mapChannels(const AudioBuffer& in, std::vector<float>& out) const {
    const std::uint32_t frames = in.frameLength();
    const std::uint32_t inChannels = in.format().channels;
    const std::uint32_t outChannels = output_.channels;
    out.resize(static_cast<std::size_t>(frames) * outChannels);
    for (std::uint32_t f = 0; f < frames; ++f) {
        float* frame = out.data() + static_cast<std::size_t>(f) * outChannels;
        if (outChannels == 1 && inChannels > 1) {
            // Down to mono: the average of all channels.
            float sum = 0;
            for (std::uint32_t c = 0; c < inChannels; ++c) sum += clampUnit(in.sampleAsFloat(c, f));
            frame[0] = sum / static_cast<float>(inChannels);
        } else {
            for (std::uint32_t c = 0; c < outChannels; ++c) {
                // Up from mono: the one channel everywhere; otherwise channel by channel.
                const std::uint32_t source = inChannels == 1 ? 0 : c;
                frame[c] = source < inChannels ? clampUnit(in.sampleAsFloat(source, f)) : 0.0f;
            }
        }
    }
}

void PcmConverter::writeOutput(const float* frames, std::size_t count, AudioBuffer& output, std::size_t at) const {
    const std::uint32_t channels = output_.channels;
    for (std::size_t f = 0; f < count; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const float v = clampUnit(frames[f * channels + c]);
            const std::size_t plane = output_.interleaved ? 0 : c;
            const std::size_t index = output_.interleaved ? (at + f) * channels + c : at + f;
            switch (output_.sampleType) {
                case SampleType::float32: output.floatData(plane)[index] = v; break;
                case SampleType::int16:
                    output.int16Data(plane)[index] = static_cast<std::int16_t>(std::lround(v * 32767.0f));
                    break;
                case SampleType::int32:
                    output.int32Data(plane)[index] =
                        static_cast<std::int32_t>(std::llround(static_cast<double>(v) * 2147483647.0));
                    break;
            }
        }
    }
}

std::size_t PcmConverter::drainPending(AudioBuffer& output, std::size_t at) {
    const std::size_t channels = output_.channels;
    const std::size_t available = pending_.size() / channels;
    const std::size_t room = output.frameCapacity() > at ? output.frameCapacity() - at : 0;
    const std::size_t n = std::min(available, room);
    if (n == 0) return 0;
    writeOutput(pending_.data(), n, output, at);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n * channels));
    return n;
}

PcmConverter::OutputStatus PcmConverter::convert(AudioBuffer& output, std::string& error,
                                                 const InputBlock& inputBlock) {
    output.setFrameLength(0);
    if (!(output.format() == output_)) {
        error = "the output buffer is not in the converter's output format";
        return OutputStatus::error;
    }
    const std::size_t channels = output_.channels;
    while (!ended_ && inputBlock) {
        InputStatus status = InputStatus::noDataNow;
        const AudioBuffer* in = inputBlock(status);
        if (status == InputStatus::haveData) {
            if (!in) {
                error = "the input block answered have-data without a buffer";
                return OutputStatus::error;
            }
            if (!(in->format() == input_)) {
                error = "the input buffer is not in the converter's input format";
                return OutputStatus::error;
            }
            mapChannels(*in, mapped_);
            const std::size_t frames = mapped_.size() / channels;
            if (!soxr_) {
                pending_.insert(pending_.end(), mapped_.begin(), mapped_.end());
                continue;
            }
            std::size_t consumed = 0;
            const double ratio = output_.sampleRate / input_.sampleRate;
            while (consumed < frames) {
                scratch_.resize((static_cast<std::size_t>(std::ceil(static_cast<double>(frames) * ratio)) + 256) *
                                channels);
                std::size_t idone = 0, odone = 0;
                soxr_error_t e = soxr_process(soxr_, mapped_.data() + consumed * channels, frames - consumed, &idone,
                                              scratch_.data(), scratch_.size() / channels, &odone);
                if (e) {
                    error = std::string("resampling failed: ") + e;
                    return OutputStatus::error;
                }
                pending_.insert(pending_.end(), scratch_.begin(),
                                scratch_.begin() + static_cast<std::ptrdiff_t>(odone * channels));
                consumed += idone;
                if (idone == 0 && odone == 0) {
                    error = "the resampler stopped taking input";
                    return OutputStatus::error;
                }
            }
        } else if (status == InputStatus::endOfStream) {
            if (soxr_) {
                // Flush what the resampler still holds.
                scratch_.resize(4096 * channels);
                for (;;) {
                    std::size_t odone = 0;
                    soxr_error_t e = soxr_process(soxr_, nullptr, 0, nullptr, scratch_.data(), 4096, &odone);
                    if (e) {
                        error = std::string("resampling failed: ") + e;
                        return OutputStatus::error;
                    }
                    if (odone == 0) break;
                    pending_.insert(pending_.end(), scratch_.begin(),
                                    scratch_.begin() + static_cast<std::ptrdiff_t>(odone * channels));
                }
            }
            ended_ = true;
        } else {
            break;
        }
    }
    const std::size_t written = drainPending(output, 0);
    output.setFrameLength(static_cast<std::uint32_t>(written));
    if (written > 0) return OutputStatus::haveData;
    return ended_ ? OutputStatus::endOfStream : OutputStatus::inputRanDry;
}

}  // namespace zarn
