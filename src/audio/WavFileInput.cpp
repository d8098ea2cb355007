#include "audio/WavFileInput.h"

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>

#include "base/Error.h"
#include "base/Log.h"

namespace zarn {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& problem) {
    throw MessageError("Can't read the audio file " + path.string() + ": " + problem + ".");
}

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::string chunkName(const unsigned char* id) {
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = id[i];
        name += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    return name;
}

std::uint64_t fileSize(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) fail(path, "no such file");
    if (std::filesystem::is_directory(path, ec)) fail(path, "it is a folder");
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) fail(path, ec.message());
    return size;
}

}  // namespace

std::shared_ptr<WavFileInput> WavFileInput::open(const std::filesystem::path& path, Pace pace) {
    const std::uint64_t size = fileSize(path);
    std::ifstream file(path, std::ios::binary);
    if (!file) fail(path, "the file cannot be opened");

    unsigned char header[12];
    if (size < sizeof header || !file.read(reinterpret_cast<char*>(header), sizeof header)) {
        fail(path, "the file is too short to be a WAV file");
    }
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) {
        fail(path, "not a WAV file (no RIFF/WAVE header)");
    }

    bool haveFormat = false;
    std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
    std::uint32_t sampleRate = 0;
    std::uint64_t offset = sizeof header;
    for (;;) {
        unsigned char chunk[8];
        if (offset + sizeof chunk > size) fail(path, haveFormat ? "no data chunk" : "no format chunk");
        file.seekg(static_cast<std::streamoff>(offset));
        if (!file.read(reinterpret_cast<char*>(chunk), sizeof chunk)) fail(path, "the file cannot be read");
        const std::uint64_t chunkSize = le32(chunk + 4);
        const std::uint64_t body = offset + sizeof chunk;
        const std::string name = chunkName(chunk);

        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (chunkSize < 16) fail(path, "the format chunk is too short");
            if (body + chunkSize > size) fail(path, "the format chunk is truncated");
            unsigned char fmt[40] = {};
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, sizeof fmt));
            if (!file.read(reinterpret_cast<char*>(fmt), static_cast<std::streamsize>(n))) {
                fail(path, "the file cannot be read");
            }
            formatTag = le16(fmt);
            channels = le16(fmt + 2);
            sampleRate = le32(fmt + 4);
            blockAlign = le16(fmt + 12);
            bits = le16(fmt + 14);
            if (formatTag == kFormatExtensible) {
                if (chunkSize < 40) fail(path, "the extensible format chunk is too short");
                formatTag = le16(fmt + 24);  // first two bytes of the sub-format GUID
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) fail(path, "the data chunk comes before the format chunk");
            const bool integer = formatTag == kFormatPcm && (bits == 16 || bits == 32);
            const bool floating = formatTag == kFormatFloat && bits == 32;
            if (!integer && !floating) {
                fail(path, "unsupported sample format (format " + std::to_string(formatTag) + ", " +
                               std::to_string(bits) + " bits); 16- or 32-bit integer PCM or 32-bit float is needed");
            }
            if (channels != 1 && channels != 2) {
                fail(path, "unsupported channel count " + std::to_string(channels) + " (mono or stereo only)");
            }
            if (sampleRate < 1000 || sampleRate > 768000) {
                fail(path, "invalid sample rate " + std::to_string(sampleRate) + " Hz");
            }
            if (blockAlign != channels * (bits / 8)) fail(path, "the block alignment does not match the format");
            // A recorder killed mid-way leaves a header that promises more than is there:
            // the audio that is there is still worth transcribing.
            std::uint64_t dataBytes = chunkSize;
            std::string warning;
            if (body + chunkSize > size) {
                const std::uint64_t present = size - body;
                dataBytes = present - present % blockAlign;
                if (dataBytes == 0) {
                    fail(path, "the data chunk is truncated (" + std::to_string(chunkSize) + " bytes declared, " +
                                   std::to_string(present) + " present)");
                }
                Log::audio().info("audio file cut short — %llu of %llu bytes of audio present, reading those",
                                  static_cast<unsigned long long>(present), static_cast<unsigned long long>(chunkSize));
                warning = "The audio file " + path.string() + " is cut short: " + std::to_string(chunkSize) +
                          " bytes of audio declared, " + std::to_string(present) + " present; transcribing those.";
            } else if (chunkSize % blockAlign != 0) {
                fail(path, "the data chunk ends in the middle of a frame");
            }
            AudioFormat format;
            format.sampleRate = sampleRate;
            format.channels = channels;
            format.sampleType = floating ? SampleType::float32 : (bits == 16 ? SampleType::int16 : SampleType::int32);
            format.interleaved = channels > 1;
            auto input = std::shared_ptr<WavFileInput>(new WavFileInput(path, format, body, dataBytes / blockAlign, pace));
            input->warning_ = std::move(warning);
            return input;
        } else if (body + chunkSize > size) {
            fail(path, "the chunk \"" + name + "\" is truncated");
        }
        offset = body + chunkSize + (chunkSize & 1);  // chunks are padded to even sizes
    }
}

std::shared_ptr<WavFileInput> WavFileInput::openRaw(const std::filesystem::path& path, const AudioFormat& format,
                                                    Pace pace) {
    const std::uint64_t size = fileSize(path);
    if (format.channels == 0 || !(format.sampleRate >= 1000 && format.sampleRate <= 768000)) {
        fail(path, "invalid raw audio format");
    }
    AudioFormat f = format;
    f.interleaved = f.channels > 1;
    const std::uint64_t frameBytes = f.channels * f.bytesPerSample();
    if (size % frameBytes != 0) fail(path, "the file ends in the middle of a frame");
    std::ifstream probe(path, std::ios::binary);
    if (!probe) fail(path, "the file cannot be opened");
    return std::shared_ptr<WavFileInput>(new WavFileInput(path, f, 0, size / frameBytes, pace));
}

WavFileInput::~WavFileInput() { stop(); }

void WavFileInput::start(OnTap onTap, OnEnd onEnd) {
    stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this, onTap = std::move(onTap), onEnd = std::move(onEnd)]() mutable {
        run(std::move(onTap), std::move(onEnd));
    });
}

void WavFileInput::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // stopped from its own callback: it ends when the callback returns
    } else {
        thread_.join();
    }
}

void WavFileInput::run(OnTap onTap, OnEnd onEnd) {
    std::ifstream file(path_, std::ios::binary);
    const std::size_t frameBytes = format_.channels * format_.bytesPerSample();
    AudioBuffer buffer(format_, tapFrames);
    auto isStopping = [this] {
        std::lock_guard lock(mutex_);
        return stopping_;
    };
    std::exception_ptr failure;
    if (!file) {
        failure = std::make_exception_ptr(MessageError("Can't read the audio file " + path_.string() + "."));
    } else {
        file.seekg(static_cast<std::streamoff>(dataOffset_));
    }
    const auto began = std::chrono::steady_clock::now();
    std::uint64_t delivered = 0;
    while (!failure && delivered < frames_) {
        if (isStopping()) return;
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(tapFrames, frames_ - delivered));
        if (!file.read(static_cast<char*>(buffer.data(0)), static_cast<std::streamsize>(n * frameBytes))) {
            failure = std::make_exception_ptr(
                MessageError("Can't read the audio file " + path_.string() + ": it ended early."));
            break;
        }
        buffer.setFrameLength(n);
        if (pace_ == Pace::realTime) {
            // A tap is due once its last frame would have been recorded.
            const auto due = began + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                         std::chrono::duration<double>(static_cast<double>(delivered + n) /
                                                                       format_.sampleRate));
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, due, [this] { return stopping_; })) return;
        }
        if (onTap) onTap(buffer);
        delivered += n;
    }
    if (isStopping()) return;
    if (onEnd) onEnd(failure);
}

}  // namespace zarn
