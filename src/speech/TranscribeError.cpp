#include "speech/TranscribeError.h"

#include "speech/TranscribeLibrary.h"

namespace zarn {

TranscribeError::TranscribeError(std::int32_t status, std::string context)
    : TranscribeError(status, std::move(context), TranscribeLibrary::statusString(status)) {}

void TranscribeError::check(std::int32_t status, const std::string& context) {
    if (status != 0) throw TranscribeError(status, context);
}

}  // namespace zarn
