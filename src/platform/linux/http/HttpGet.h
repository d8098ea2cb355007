#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "base/Error.h"
#include "base/Reply.h"
#include "base/SerialExecutor.h"

namespace zarn::http {

// Why a GET brought no body.
class HttpError : public LocalizedError {
public:
    enum class Kind { unreachable, status, tooLarge };
    HttpError(Kind kind, long status, std::string detail)
        : kind_(kind), status_(status), detail_(std::move(detail)) {
        fixWhat();
    }

    Kind kind() const { return kind_; }
    long status() const { return status_; }  // the HTTP status, for Kind::status
    const std::string& detail() const { return detail_; }
    std::string errorDescription() const override { return detail_; }

private:
    Kind kind_;
    long status_;
    std::string detail_;
};

// Plain HTTP(S) GETs with libcurl, one at a time on a thread of their own. The answer is
// capped: a body over the limit stops the transfer and fails with Kind::tooLarge.
class HttpGet {
public:
    struct Options {
        std::size_t maxBytes = 1024 * 1024;
        std::chrono::milliseconds timeout{20000};
    };

    HttpGet() : HttpGet(Options{}) {}
    explicit HttpGet(Options options);
    // Abandons a transfer that is still running; its reply is never called.
    ~HttpGet();

    // The body of a 2xx answer; http and https only, up to five redirects.
    void get(std::string url, Reply<Result<std::string>> done);

private:
    Options options_;
    std::atomic<bool> stopping_{false};
    SerialExecutor worker_{"zarn-http"};  // last: joined before the rest goes
};

}  // namespace zarn::http
