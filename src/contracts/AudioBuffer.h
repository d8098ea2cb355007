#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zarn {

enum class SampleType { float32, int16, int32 };

// A PCM stream description: what capture, conversion and the engines agree on.
struct AudioFormat {
    double sampleRate = 16000;
    std::uint32_t channels = 1;
    SampleType sampleType = SampleType::float32;
    bool interleaved = false;

    bool operator==(const AudioFormat&) const = default;

    std::size_t bytesPerSample() const;
    std::string describe() const;  // e.g. "16000 Hz, 1 ch, float32, non-interleaved" for logs and errors

    // What the local engine and the recogniser want.
    static AudioFormat monoFloat(double sampleRate) { return {sampleRate, 1, SampleType::float32, false}; }
};

// A block of PCM samples with a fixed capacity and a current length, in frames.
// Non-interleaved buffers keep one plane per channel; interleaved buffers keep one plane
// with the channels alternating, as the platform buffers of other systems do.
class AudioBuffer {
public:
    AudioBuffer(AudioFormat format, std::uint32_t frameCapacity);

    const AudioFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return frameCapacity_; }
    std::uint32_t frameLength() const { return frameLength_; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frames);

    std::size_t planeCount() const { return planes_.size(); }
    // Samples between two frames of one channel within a plane: channels when interleaved, else 1.
    std::size_t stride() const { return format_.interleaved ? format_.channels : 1; }

    void* data(std::size_t plane) { return planes_.at(plane).data(); }
    const void* data(std::size_t plane) const { return planes_.at(plane).data(); }

    float* floatData(std::size_t plane) { return static_cast<float*>(checked(plane, SampleType::float32)); }
    const float* floatData(std::size_t plane) const { return static_cast<const float*>(const_cast<AudioBuffer*>(this)->checked(plane, SampleType::float32)); }
    std::int16_t* int16Data(std::size_t plane) { return static_cast<std::int16_t*>(checked(plane, SampleType::int16)); }
    const std::int16_t* int16Data(std::size_t plane) const { return static_cast<const std::int16_t*>(const_cast<AudioBuffer*>(this)->checked(plane, SampleType::int16)); }
    std::int32_t* int32Data(std::size_t plane) { return static_cast<std::int32_t*>(checked(plane, SampleType::int32)); }
    const std::int32_t* int32Data(std::size_t plane) const { return static_cast<const std::int32_t*>(const_cast<AudioBuffer*>(this)->checked(plane, SampleType::int32)); }

    // Sample `frame` of `channel` as a float in -1..1, whatever the sample type and layout.
    float sampleAsFloat(std::uint32_t channel, std::uint32_t frame) const;

private:
    void* checked(std::size_t plane, SampleType type);

    AudioFormat format_;
    std::uint32_t frameCapacity_;
    std::uint32_t frameLength_ = 0;
    std::vector<std::vector<std::byte>> planes_;
};

}  // namespace zarn
