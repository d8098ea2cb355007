#include "cleanup/SystemLanguageModel.h"

namespace zarn {

std::string_view toString(ModelAvailability availability) {
    switch (availability) {
        case ModelAvailability::available: return "available";
        case ModelAvailability::deviceNotEligible: return "deviceNotEligible";
        case ModelAvailability::notEnabled: return "notEnabled";
        case ModelAvailability::stillDownloading: return "stillDownloading";
        case ModelAvailability::unavailable: return "unavailable";
    }
    return "unavailable";
}

std::string LanguageModelError::errorDescription() const {
    if (!message_.empty()) return message_;
    switch (kind_) {
        case Kind::exceededContextWindowSize: return "the input exceeded the model's context window";
        case Kind::assetsUnavailable: return "the model's assets are unavailable";
        case Kind::guardrailViolation: return "the content was blocked by a safety filter";
        case Kind::unsupportedGuide: return "unsupported generation guide";
        case Kind::unsupportedLanguageOrLocale: return "unsupported language";
        case Kind::decodingFailure: return "the model's answer could not be decoded";
        case Kind::rateLimited: return "the model is rate limited";
        case Kind::concurrentRequests: return "concurrent requests on one session";
        case Kind::refusal: return "the model refused the content";
        case Kind::cancelled: return "the model call was cancelled";
        case Kind::other: return "the model call failed";
    }
    return "the model call failed";
}

}  // namespace zarn
