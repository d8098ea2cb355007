#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/AudioInput.h"

namespace zarn {

// Audio from a WAV file (16- or 32-bit integer PCM or 32-bit float, any rate, mono or
// stereo) or from a headerless PCM file of a stated format, delivered in taps of 2048
// frames on a thread of its own: at real-time pace, as a microphone would, or as fast as
// the tap callback returns (a callback that blocks slows the file down; nothing is lost).
class WavFileInput final : public AudioInput {
public:
    enum class Pace { realTime, asFastAsConsumed };

    // Reads and checks the header. Throws a MessageError naming the file and the problem
    // when the file is missing, damaged or in a format not listed above. A file whose data
    // chunk is cut short is read up to its last whole frame, with a warning.
    static std::shared_ptr<WavFileInput> open(const std::filesystem::path& path, Pace pace);
    // A file of bare samples in `format` (e.g. 16 kHz mono 16-bit, little-endian).
    static std::shared_ptr<WavFileInput> openRaw(const std::filesystem::path& path, const AudioFormat& format,
                                                 Pace pace);

    ~WavFileInput() override;

    AudioFormat nativeFormat() override { return format_; }
    void start(OnTap onTap, OnEnd onEnd = nullptr) override;
    void stop() override;

    const std::filesystem::path& path() const { return path_; }
    std::uint64_t frameCount() const { return frames_; }
    double durationSeconds() const { return static_cast<double>(frames_) / format_.sampleRate; }
    // For the user, when the file is read despite a fault (it was cut short); else empty.
    const std::string& warning() const { return warning_; }

private:
    WavFileInput(std::filesystem::path path, AudioFormat format, std::uint64_t dataOffset, std::uint64_t frames,
                 Pace pace)
        : path_(std::move(path)), format_(format), dataOffset_(dataOffset), frames_(frames), pace_(pace) {}
    void run(OnTap onTap, OnEnd onEnd);

    std::filesystem::path path_;
    AudioFormat format_;
    std::uint64_t dataOffset_;
    std::uint64_t frames_;
    Pace pace_;
    std::string warning_;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace zarn
