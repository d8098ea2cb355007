#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "contracts/AudioBuffer.h"
#include "support/TempDir.h"

namespace zarn::test {

// PocketSphinx's sample of "go forward ten meters": 16 kHz mono, signed 16-bit.
inline const std::string kGoForwardRaw = "/usr/share/pocketsphinx/test/data/goforward.raw";

// `frames` frames of `format` in which channel c holds channelValues[c] throughout (the last
// value for the channels beyond), full scale being 1.
inline std::shared_ptr<AudioBuffer> constantAudio(AudioFormat format, std::uint32_t frames,
                                                  std::vector<float> channelValues = {0.25f}) {
    auto b = std::make_shared<AudioBuffer>(format, frames);
    b->setFrameLength(frames);
    const std::size_t samples = static_cast<std::size_t>(frames) * b->stride();
    for (std::size_t plane = 0; plane < b->planeCount(); ++plane) {
        for (std::size_t i = 0; i < samples; ++i) {
            const std::size_t channel = format.interleaved ? i % format.channels : plane;
            const double v = channelValues[std::min(channel, channelValues.size() - 1)];
            switch (format.sampleType) {
                case SampleType::float32: b->floatData(plane)[i] = static_cast<float>(v); break;
                case SampleType::int16: b->int16Data(plane)[i] = static_cast<std::int16_t>(v * 32768); break;
                case SampleType::int32: b->int32Data(plane)[i] = static_cast<std::int32_t>(v * 2147483648.0); break;
            }
        }
    }
    return b;
}

// A recording of 16 kHz mono 16-bit samples as 16 kHz mono float buffers of `frames` each,
// the size capture hands over.
inline std::vector<std::shared_ptr<const AudioBuffer>> rawSpeech(const std::string& path = kGoForwardRaw,
                                                                 std::uint32_t frames = 683) {
    const std::string raw = readFile(path);
    const std::size_t total = raw.size() / 2;
    std::vector<std::shared_ptr<const AudioBuffer>> buffers;
    for (std::size_t pos = 0; pos < total; pos += frames) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(frames, total - pos));
        auto b = std::make_shared<AudioBuffer>(AudioFormat::monoFloat(16000), n);
        b->setFrameLength(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            std::int16_t v;
            std::memcpy(&v, raw.data() + 2 * (pos + i), 2);
            b->floatData(0)[i] = v / 32768.0f;
        }
        buffers.push_back(std::move(b));
    }
    return buffers;
}

}  // namespace zarn::test
