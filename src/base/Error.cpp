#include "base/Error.h"

namespace zarn {

void LocalizedError::fixWhat() noexcept {
    try {
        what_ = errorDescription();
    } catch (...) {
        what_.clear();
    }
}

const char* LocalizedError::what() const noexcept { return what_.empty() ? "error" : what_.c_str(); }

std::string describeError(const std::exception_ptr& error) {
    if (!error) return {};
    try {
        std::rethrow_exception(error);
    } catch (const LocalizedError& e) {
        return e.errorDescription();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace zarn
