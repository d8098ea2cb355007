#include "base/Error.h"

namespace zarn {

const char* LocalizedError::what() const noexcept {
    try {
        whatCache_ = errorDescription();
    } catch (...) {
        return "error";
    }
    return whatCache_.c_str();
}

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
