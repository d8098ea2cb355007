#include "contracts/AudioBuffer.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace zarn {

std::size_t AudioFormat::bytesPerSample() const {
    switch (sampleType) {
        case SampleType::float32: return 4;
        case SampleType::int16: return 2;
        case SampleType::int32: return 4;
    }
    return 4;
}

std::string AudioFormat::describe() const {
    std::ostringstream out;
    out << sampleRate << " Hz, " << channels << " ch, ";
    switch (sampleType) {
        case SampleType::float32: out << "float32"; break;
        case SampleType::int16: out << "int16"; break;
        case SampleType::int32: out << "int32"; break;
    }
    out << (interleaved ? ", interleaved" : ", non-interleaved");
    return out.str();
}

AudioBuffer::AudioBuffer(AudioFormat format, std::uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity) {
    if (format_.channels == 0) throw std::invalid_argument("an audio format needs at least one channel");
    std::size_t planes = format_.interleaved ? 1 : format_.channels;
    std::size_t bytes = static_cast<std::size_t>(frameCapacity_) * stride() * format_.bytesPerSample();
    planes_.assign(planes, std::vector<std::byte>(bytes));
}

void AudioBuffer::setFrameLength(std::uint32_t frames) { frameLength_ = std::min(frames, frameCapacity_); }

void* AudioBuffer::checked(std::size_t plane, SampleType type) {
    if (format_.sampleType != type) return nullptr;
    return planes_.at(plane).data();
}

float AudioBuffer::sampleAsFloat(std::uint32_t channel, std::uint32_t frame) const {
    std::size_t plane = format_.interleaved ? 0 : channel;
    std::size_t index = format_.interleaved ? static_cast<std::size_t>(frame) * format_.channels + channel : frame;
    const std::byte* base = planes_.at(plane).data() + index * format_.bytesPerSample();
    switch (format_.sampleType) {
        case SampleType::float32: {
            float v;
            std::memcpy(&v, base, sizeof v);
            return v;
        }
        case SampleType::int16: {
            std::int16_t v;
            std::memcpy(&v, base, sizeof v);
            return static_cast<float>(v) / 32768.0f;
        }
        case SampleType::int32: {
            std::int32_t v;
            std::memcpy(&v, base, sizeof v);
            return static_cast<float>(static_cast<double>(v) / 2147483648.0);
        }
    }
    return 0;
}

}  // namespace zarn
