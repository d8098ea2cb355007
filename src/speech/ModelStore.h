#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "base/Error.h"

namespace zarn {

// Why the model could not be fetched, verified or installed, in words for the user: the
// description is the message as it stands.
class ModelDownloadError : public MessageError {
public:
    using MessageError::MessageError;
};

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

    // The stages of download(), each throwing ModelDownloadError.
    struct Fetched {
        std::int64_t bytes = 0;
        std::string sha256;  // lower-case hex
    };
    // Streams the body into partialURL() (0600, in a 0700 models folder), after removing any
    // leftover; stops a body as soon as it is longer than expected and reports an HTTP error
    // status as such. `progress` gets fractions in steps of at least 0.01, on this thread.
    Fetched fetch(const Progress& progress) const;
    // The size, then the digest (checkDigest).
    void verify(const Fetched& fetched) const;
    // Unless `hex` equals the expected digest exactly: "model checksum mismatch — got ...".
    void checkDigest(const std::string& hex) const;
    // Puts the partial file in the model's place.
    void install() const;

    // Fetches, verifies and installs the model, then reports 1.0; blocks until done. Whatever
    // fails, the partial file goes; only a verified model replaces an earlier one.
    void download(const Progress& progress) const;

private:
    std::filesystem::path baseDirectory_;
    ModelArtifact artifact_;
    DownloadLimits limits_;
};

}  // namespace zarn
