#include "speech/ModelStore.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

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

#ifndef ZARN_MODEL_BASE_URL
#define ZARN_MODEL_BASE_URL "https://huggingface.co/zarn"
#endif

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
        fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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

}  // namespace

ModelArtifact ModelArtifact::pinned() {
    std::string base = ZARN_MODEL_BASE_URL;
    if (const char* env = std::getenv("ZARN_MODEL_BASE_URL"); env && *env) base = env;
    while (!base.empty() && base.back() == '/') base.pop_back();
    return {ModelStore::fileName, ModelStore::expectedBytes, ModelStore::expectedSHA256, base + ModelStore::downloadPath};
}

ModelStore::ModelStore(fs::path baseDirectory, ModelArtifact artifact)
    : baseDirectory_(std::move(baseDirectory)), artifact_(std::move(artifact)) {}

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
    fs::create_directories(models, ec);
    if (ec) throw MessageError(models.string() + ": " + ec.message());

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
    // Give up on a stalled connection rather than hang for ever: under 1 byte/s for 60 s.
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, 60L);
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
        // A request that never produced a body leaves any earlier partial file alone.
        if (transfer.fd >= 0) abandon();
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
