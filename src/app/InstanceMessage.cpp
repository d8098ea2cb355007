#include "app/InstanceMessage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zarn::instance {

std::string encode(const std::vector<std::string>& arguments) {
    std::string payload;
    for (const auto& argument : arguments) {
        // An argument cannot carry our separator; cut it there rather than split it in two.
        payload.append(argument.c_str());
        payload.push_back('\0');
    }
    std::string message(magic);
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8) message.push_back(static_cast<char>((size >> shift) & 0xff));
    return message + payload;
}

Decoder::Status Decoder::feed(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() < headerSize) {
        const std::size_t known = std::min(buffer_.size(), magic.size());
        if (std::string_view(buffer_).substr(0, known) != magic.substr(0, known)) {
            error_ = "not a Zarn message";
            return Status::malformed;
        }
        return Status::needMore;
    }
    if (std::string_view(buffer_).substr(0, magic.size()) != magic) {
        error_ = "not a Zarn message";
        return Status::malformed;
    }
    std::uint32_t size = 0;
    for (std::size_t i = magic.size(); i < headerSize; ++i) size = (size << 8) | static_cast<unsigned char>(buffer_[i]);
    if (size > maxPayload) {
        error_ = "message of " + std::to_string(size) + " bytes is too large";
        return Status::malformed;
    }
    if (buffer_.size() < headerSize + size) return Status::needMore;
    if (buffer_.size() > headerSize + size) {
        error_ = "bytes after the message";
        return Status::malformed;
    }
    const std::string_view payload = std::string_view(buffer_).substr(headerSize);
    if (!payload.empty() && payload.back() != '\0') {
        error_ = "unterminated argument";
        return Status::malformed;
    }
    arguments_.clear();
    std::size_t start = 0;
    while (start < payload.size()) {
        const auto end = payload.find('\0', start);
        if (arguments_.size() == maxArguments) {
            error_ = "too many arguments";
            return Status::malformed;
        }
        arguments_.emplace_back(payload.substr(start, end - start));
        start = end + 1;
    }
    return Status::message;
}

std::optional<std::string> socketFolder(std::string* error) {
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        folder = std::string(runtime) + "/zarn";
    } else {
        folder = "/tmp/zarn-" + std::to_string(getuid());
    }
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error) *error = folder + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    // A folder someone else made (or a link to one) could let them answer in our place.
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0) {
        if (error) *error = folder + " is not a private folder of this user";
        return std::nullopt;
    }
    return folder;
}

}  // namespace zarn::instance
