#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace zarn {

// The one pinned model file: its name, exact size, SHA-256 (lower-case hex), where it is
// fetched from and the size the user is shown (whole MB).
struct ModelArtifact {
    std::string fileName;
    std::int64_t expectedBytes = 0;
    std::string expectedSHA256;
    std::string downloadURL;
    std::int64_t shownMegabytes = 0;

    // The model of the local engine, as the build describes it. By default that is the model
    // the build packs and ships in share/zarn/models/, fetched through a file:// URL (the
    // installed copy beside the program's bin folder when there is one, else the build
    // tree's). The environment variable ZARN_MODEL_BASE_URL, when set, is the location the
    // file name is fetched from instead.
    static ModelArtifact pinned();
};

// How slow a download may get before it is abandoned: under `bytesPerSecond` for
// `seconds` on end.
struct DownloadLimits {
    long bytesPerSecond = 1024;
    long seconds = 30;
};

// Where the model file lives, whether it is complete, and fetching and verifying it.
// An immutable value; download() may run on any thread but the main one.
class ModelStore {
public:
    using Progress = std::function<void(double)>;

    explicit ModelStore(std::filesystem::path baseDirectory, ModelArtifact artifact = ModelArtifact::pinned(),
                        DownloadLimits limits = {});
    // The user's data folder ("Zarn" under XDG_DATA_HOME); made once, thread-safely.
    static const ModelStore& shared();

    const std::filesystem::path& baseDirectory() const { return baseDirectory_; }
    const ModelArtifact& artifact() const { return artifact_; }
    // baseDirectory/models/<file name>; no file-system access.
    std::filesystem::path modelURL() const;
    std::filesystem::path partialURL() const;
    // A file (symbolic links followed) of exactly the expected size. Never throws.
    bool isInstalled() const;
    // Fetches, verifies (size, then SHA-256) and installs the model; blocks until done. Any
    // leftover partial file goes first; the models folder is 0700, the partial file 0600. A
    // body longer than the expected size is stopped as soon as it is, an HTTP error status
    // is reported as such.
    // `progress` gets fractions in steps of at least 0.01 and a final 1.0, on this thread.
    // Throws TranscribeError for a wrong size or digest, MessageError for the rest.
    void download(const Progress& progress) const;
    // Throws TranscribeError(-1, "model checksum mismatch — got ...") unless `hex` equals
    // the expected digest exactly.
    void checkDigest(const std::string& hex) const;

private:
    std::filesystem::path baseDirectory_;
    ModelArtifact artifact_;
    DownloadLimits limits_;
};

}  // namespace zarn
