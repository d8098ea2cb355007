#pragma once

#include <cstdint>
#include <string>

#include "base/Error.h"

namespace zarn {

// A failure of the transcribe runtime, with what the program was
// doing. The description is "<context>: <the runtime's text for the status>".
class TranscribeError : public LocalizedError {
public:
    // The status text is read from the runtime when the error is made.
    TranscribeError(std::int32_t status, std::string context);
    TranscribeError(std::int32_t status, std::string context, std::string statusText)
        : status_(status), context_(std::move(context)), statusText_(std::move(statusText)) {
        fixWhat();
    }

    std::int32_t status() const { return status_; }
    const std::string& context() const { return context_; }
    std::string errorDescription() const override { return context_ + ": " + statusText_; }

    // Returns when `status` is 0, otherwise throws a TranscribeError with `context`.
    static void check(std::int32_t status, const std::string& context);

private:
    std::int32_t status_;
    std::string context_;
    std::string statusText_;
};

}  // namespace zarn
