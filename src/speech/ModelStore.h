#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace zarn {

// The one pinned model file: its name, exact size, SHA-256 (lower-case hex) and where it
// is fetched from.
struct ModelArtifact {
    std::string fileName;
    std::int64_t expectedBytes = 0;
    std::string expectedSHA256;
    std::string downloadURL;

    // The speech model of the local engine. Its URL is the deployment's base (scheme, host
    // and organisation: the build's ZARN_MODEL_BASE_URL, or the environment variable of
    // that name) followed by the model's fixed path.
    static ModelArtifact pinned();
};

// Where the model file lives, whether it is complete, and fetching and verifying it.
// An immutable value; download() may run on any thread but the main one.
class ModelStore {
public:
    static constexpr const char* fileName = "nemotron-3.5-asr-streaming-0.6b-Q8_0.gguf";
    static constexpr std::int64_t expectedBytes = 751094240;
    static constexpr const char* expectedSHA256 = "b94545b313b3223fda7b2857a52681da813935c2127643d1e9ff0c23d988089c";
    // The part of the download URL after the base.
    static constexpr const char* downloadPath =
        "/nemotron-3.5-asr-streaming-0.6b-gguf/resolve/main/nemotron-3.5-asr-streaming-0.6b-Q8_0.gguf";

    using Progress = std::function<void(double)>;

    explicit ModelStore(std::filesystem::path baseDirectory, ModelArtifact artifact = ModelArtifact::pinned());
    // The user's data folder ("Zarn" under XDG_DATA_HOME); made once, thread-safely.
    static const ModelStore& shared();

    const std::filesystem::path& baseDirectory() const { return baseDirectory_; }
    const ModelArtifact& artifact() const { return artifact_; }
    // baseDirectory/models/<file name>; no file-system access.
    std::filesystem::path modelURL() const;
    std::filesystem::path partialURL() const;
    // A file (symbolic links followed) of exactly the expected size. Never throws.
    bool isInstalled() const;
    // Fetches, verifies (size, then SHA-256) and installs the model; blocks until done.
    // `progress` gets fractions in steps of at least 0.01 and a final 1.0, on this thread.
    // Throws TranscribeError for a wrong size or digest, MessageError for the rest.
    void download(const Progress& progress) const;
    // Throws TranscribeError(-1, "model checksum mismatch — got ...") unless `hex` equals
    // the expected digest exactly.
    void checkDigest(const std::string& hex) const;

private:
    std::filesystem::path baseDirectory_;
    ModelArtifact artifact_;
};

}  // namespace zarn
