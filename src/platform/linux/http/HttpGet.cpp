#include "platform/linux/http/HttpGet.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace zarn::http {
namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    CURL* easy;
    std::size_t maxBytes;
    const std::atomic<bool>* stopping;
    std::string body;
    bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::size_t n = size * count;
    // An error page is not the document asked for, whatever its size.
    long status = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) return n;
    if (transfer->body.size() + n > transfer->maxBytes) {
        transfer->tooLarge = true;
        return 0;  // aborts the transfer
    }
    transfer->body.append(data, n);
    return n;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->stopping->load() ? 1 : 0;
}

Result<std::string> fetch(const std::string& url, const HttpGet::Options& options, const std::atomic<bool>& stopping) {
    using Kind = HttpError::Kind;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy) return makeError<HttpError>(Kind::unreachable, 0, "cannot start a transfer");
    CURL* e = easy.get();
    Transfer transfer{e, options.maxBytes, &stopping};
    auto ms = static_cast<long>(options.timeout.count());
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, ms);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, ms);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Zarn");
    // This machine's own services are never reached through a proxy.
    curl_easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    CURLcode code = curl_easy_perform(e);
    if (transfer.tooLarge) {
        return makeError<HttpError>(Kind::tooLarge, 0, "larger than " + std::to_string(options.maxBytes) + " bytes");
    }
    if (code != CURLE_OK) return makeError<HttpError>(Kind::unreachable, 0, curl_easy_strerror(code));
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        return makeError<HttpError>(Kind::status, status, "HTTP status " + std::to_string(status));
    }
    return std::move(transfer.body);
}

}  // namespace

HttpGet::HttpGet(Options options) : options_(options) {
    initCurlOnce();
}

HttpGet::~HttpGet() {
    stopping_ = true;
}

void HttpGet::get(std::string url, Reply<Result<std::string>> done) {
    worker_.post([this, url = std::move(url), done = std::move(done)]() mutable {
        if (stopping_) return done.drop();
        auto result = fetch(url, options_, stopping_);
        if (stopping_) return done.drop();
        done(std::move(result));
    });
}

}  // namespace zarn::http
