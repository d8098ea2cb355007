#include "speech/ModelStore.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Error.h"
#include "base/Paths.h"
#include "speech/TranscribeError.h"

#include <sys/stat.h>

#include "speech/ModelDescriptor.h"

namespace zarn {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBufferBytes = 0x100000;  // 1 MiB

std::string systemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

struct EvpDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// The state of one download while libcurl hands over the body.
struct Transfer {
    const ModelStore* store = nullptr;
    const ModelStore::Progress* progress = nullptr;
    CURL* curl = nullptr;
    fs::path partial;
    int fd = -1;
    std::vector<unsigned char> buffer;
    std::unique_ptr<EVP_MD_CTX, EvpDeleter> hasher{EVP_MD_CTX_new()};
    std::int64_t received = 0;
    double total = 0;
    double lastReported = 0;
    std::exception_ptr error;  // what stopped the transfer from our side

    // Removes a leftover partial file and opens a fresh one for writing.
    void openPartial() {
        curl_off_t length = -1;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        total = length > 0 ? static_cast<double>(length) : static_cast<double>(store->artifact().expectedBytes);
        removeQuietly(partial);
        fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) throw MessageError(systemError(partial.string(), errno));
    }

    void flush() {
        if (buffer.empty()) return;
        EVP_DigestUpdate(hasher.get(), buffer.data(), buffer.size());
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw MessageError(systemError(partial.string(), errno));
            }
            done += static_cast<std::size_t>(n);
        }
        received += static_cast<std::int64_t>(buffer.size());
        buffer.clear();
    }

    void take(const unsigned char* data, std::size_t size) {
        if (fd < 0) openPartial();
        const std::int64_t expected = store->artifact().expectedBytes;
        if (received + static_cast<std::int64_t>(buffer.size() + size) > expected) {
            throw TranscribeError(-1, "model download is more than " + std::to_string(expected) + " bytes, expected " +
                                          std::to_string(expected));
        }
        while (size > 0) {
            const std::size_t n = std::min(size, kBufferBytes - buffer.size());
            buffer.insert(buffer.end(), data, data + n);
            data += n;
            size -= n;
            if (buffer.size() >= kBufferBytes) {
                flush();
                const double fraction = static_cast<double>(received) / total;
                if (fraction - lastReported >= 0.01) {
                    lastReported = fraction;
                    if (*progress) (*progress)(fraction);
                }
            }
        }
    }
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    try {
        transfer->take(reinterpret_cast<const unsigned char*>(data), bytes);
    } catch (...) {
        transfer->error = std::current_exception();
        return bytes == 0 ? 1 : 0;  // anything but `bytes` stops the transfer
    }
    return bytes;
}

void globalCurlInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A file:// URL for an absolute path, with every byte outside the unreserved set escaped.
std::string fileURL(const fs::path& path) {
    std::string url = "file://";
    for (const unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

// Creates the folder and any missing parents, private to the user (existing ones are left
// as they are, except the folder itself, which is made private).
void createPrivateFolder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec) && folder.has_parent_path() && folder.parent_path() != folder) {
        createPrivateFolder(folder.parent_path());
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) throw MessageError(systemError(folder.string(), errno));
    }
    if (::chmod(folder.c_str(), 0700) != 0) throw MessageError(systemError(folder.string(), errno));
}

}  // namespace

ModelArtifact ModelArtifact::pinned() {
    ModelArtifact artifact{ZARN_MODEL_FILE_NAME, ZARN_MODEL_BYTES, ZARN_MODEL_SHA256, ZARN_MODEL_URL,
                           ZARN_MODEL_SHOWN_MB};
    if (const char* env = std::getenv("ZARN_MODEL_BASE_URL"); env && *env) {
        std::string base = env;
        while (!base.empty() && base.back() == '/') base.pop_back();
        artifact.downloadURL = base + "/" + artifact.fileName;
    } else if (artifact.downloadURL.empty()) {
        // The shipped model: installed under share/zarn/models beside the program's bin
        // folder, as the runtime library is under lib/zarn, or else still in the build tree.
        fs::path shipped = ZARN_MODEL_BUILT_PATH;
        std::error_code ec;
        const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
        if (!ec) {
            const fs::path installed = exe.parent_path().parent_path() / "share" / "zarn" / "models" / artifact.fileName;
            if (fs::is_regular_file(installed, ec)) shipped = installed;
        }
        artifact.downloadURL = fileURL(shipped);
    }
    return artifact;
}

ModelStore::ModelStore(fs::path baseDirectory, ModelArtifact artifact, DownloadLimits limits)
    : baseDirectory_(std::move(baseDirectory)), artifact_(std::move(artifact)), limits_(limits) {}

const ModelStore& ModelStore::shared() {
    static const ModelStore store(paths::dataDirectory());
    return store;
}

fs::path ModelStore::modelURL() const { return baseDirectory_ / "models" / artifact_.fileName; }

fs::path ModelStore::partialURL() const { return baseDirectory_ / "models" / (artifact_.fileName + ".partial"); }

bool ModelStore::isInstalled() const {
    std::error_code ec;
    const fs::path resolved = fs::canonical(modelURL(), ec);
    if (ec) return false;
    const auto size = fs::file_size(resolved, ec);
    if (ec) return false;
    return static_cast<std::int64_t>(size) == artifact_.expectedBytes;
}

void ModelStore::checkDigest(const std::string& hex) const {
    if (hex == artifact_.expectedSHA256) return;
    throw TranscribeError(-1, "model checksum mismatch — got " + hex + ", expected " + artifact_.expectedSHA256);
}

void ModelStore::download(const Progress& progress) const {
    const fs::path models = modelURL().parent_path();
    std::error_code ec;
    createPrivateFolder(models);
    // An earlier attempt's leftover goes now, whatever becomes of this one.
    removeQuietly(partialURL());

    globalCurlInit();
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) throw MessageError("cannot start the model download");

    Transfer transfer;
    transfer.store = this;
    transfer.progress = &progress;
    transfer.curl = curl.get();
    transfer.partial = partialURL();
    transfer.buffer.reserve(kBufferBytes);
    if (!transfer.hasher || EVP_DigestInit_ex(transfer.hasher.get(), EVP_sha256(), nullptr) != 1) {
        throw MessageError("cannot start SHA-256");
    }

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl.get(), CURLOPT_URL, artifact_.downloadURL.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
    // Give up on a stalled or trickling connection rather than hang for ever.
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, limits_.bytesPerSecond);
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, limits_.seconds);
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, "Zarn");

    const auto abandon = [&transfer] {
        if (transfer.fd >= 0) ::close(transfer.fd);
        transfer.fd = -1;
        removeQuietly(transfer.partial);
    };

    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK) {
        if (transfer.error) {
            abandon();
            std::rethrow_exception(transfer.error);
        }
        abandon();
        if (code == CURLE_HTTP_RETURNED_ERROR) {
            long status = 0;
            curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
            throw MessageError("model download failed: HTTP " + std::to_string(status));
        }
        throw MessageError("model download failed: " + std::string(errorText[0] ? errorText : curl_easy_strerror(code)));
    }
    try {
        if (transfer.fd < 0) transfer.openPartial();  // an empty body
        transfer.flush();
    } catch (...) {
        abandon();
        throw;
    }
    const int fd = std::exchange(transfer.fd, -1);
    if (::close(fd) != 0) {
        const int closeErrno = errno;
        removeQuietly(transfer.partial);
        throw MessageError(systemError(transfer.partial.string(), closeErrno));
    }

    if (transfer.received != artifact_.expectedBytes) {
        removeQuietly(transfer.partial);
        throw TranscribeError(-1, "model download is " + std::to_string(transfer.received) + " bytes, expected " +
                                      std::to_string(artifact_.expectedBytes));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    EVP_DigestFinal_ex(transfer.hasher.get(), digest, &digestLength);
    std::string hex;
    for (unsigned int i = 0; i < digestLength; ++i) {
        char piece[3];
        std::snprintf(piece, sizeof piece, "%02x", digest[i]);
        hex += piece;
    }
    try {
        checkDigest(hex);
    } catch (...) {
        removeQuietly(transfer.partial);
        throw;
    }
    // rename() replaces the old model in one step, so there is never a moment with neither
    // file; only when that is refused (say, a folder in the way) is the old one removed first.
    fs::rename(transfer.partial, modelURL(), ec);
    if (ec) {
        removeQuietly(modelURL());
        ec.clear();
        fs::rename(transfer.partial, modelURL(), ec);
    }
    if (ec) throw MessageError(modelURL().string() + ": " + ec.message());
    if (progress) progress(1.0);
}

}  // namespace zarn
