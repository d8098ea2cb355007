#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::instance {

// What a second `zarn-app` sends the running one: its arguments (zarn:// links) and the
// wish to see the main window. On the wire: "ZARN1", a 4-byte big-endian length, then the
// arguments each followed by a NUL. Bounded, because anyone who can reach the socket may
// write to it.
inline constexpr std::string_view magic = "ZARN1";
inline constexpr std::size_t maxPayload = 64 * 1024;
inline constexpr std::size_t maxArguments = 256;
inline constexpr std::size_t headerSize = 9;
// The running instance's answer once it has acted on a message.
inline constexpr std::string_view acknowledgement = "OK";

std::string encode(const std::vector<std::string>& arguments);

// Reads messages as bytes arrive. `feed` keeps what it cannot use yet.
class Decoder {
public:
    enum class Status { needMore, message, malformed };
    Status feed(std::string_view bytes);
    // The message once `feed` said so.
    const std::vector<std::string>& arguments() const { return arguments_; }
    const std::string& error() const { return error_; }

private:
    std::string buffer_;
    std::vector<std::string> arguments_;
    std::string error_;
};

// The folder for the socket: $XDG_RUNTIME_DIR/zarn, or a per-user folder under /tmp when
// no runtime folder is set. Created 0700; nothing when it exists and is not ours alone.
std::optional<std::string> socketFolder(std::string* error = nullptr);

}  // namespace zarn::instance
