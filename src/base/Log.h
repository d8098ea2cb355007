#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace zarn::Log {

// Everything Zarn logs carries this subsystem and one of five categories.
inline constexpr std::string_view subsystem = "dev.zarn.Zarn";

enum class Level { info, error };

// One dynamic argument of a log format.
class Arg {
public:
    Arg(std::string_view s) : value_(std::string(s)) {}  // NOLINT: implicit by design
    Arg(const std::string& s) : value_(s) {}              // NOLINT
    Arg(const char* s) : value_(std::string(s ? s : "(null)")) {}  // NOLINT
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    Arg(T v) : value_(static_cast<std::int64_t>(v)) {}  // NOLINT
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
    Arg(T v) : value_(static_cast<std::uint64_t>(v)) {}  // NOLINT
    template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
    Arg(T v) : value_(static_cast<double>(v)) {}  // NOLINT

    const std::variant<std::string, std::int64_t, std::uint64_t, double>& value() const { return value_; }

private:
    std::variant<std::string, std::int64_t, std::uint64_t, double> value_;
};

// Renders a printf-style format ("%.*f" takes its precision from an argument). A conversion
// may be marked "%{public}" (shown) or "%{private}". Unmarked numbers are public, unmarked
// strings private: only strings can carry what the user said or typed. Private arguments
// are written as "<private>" unless `revealPrivate`.
std::string format(std::string_view fmt, const std::vector<Arg>& args, bool revealPrivate);

class Logger {
public:
    explicit Logger(std::string category) : category_(std::move(category)) {}
    const std::string& category() const { return category_; }

    template <class... A>
    void info(std::string_view fmt, const A&... args) const {
        write(Level::info, fmt, {Arg(args)...});
    }
    template <class... A>
    void error(std::string_view fmt, const A&... args) const {
        write(Level::error, fmt, {Arg(args)...});
    }
    void write(Level level, std::string_view fmt, const std::vector<Arg>& args) const;

private:
    std::string category_;
};

const Logger& audio();
const Logger& speech();
const Logger& hotkey();
const Logger& inject();
const Logger& app();

struct Record {
    std::string category;
    Level level;
    std::string message;  // as written, private arguments redacted unless revealed
};
using Sink = std::function<void(const Record&)>;

// Where records go: standard error, until the program installs the system's log (on Linux
// the journal, platform/linux/journald) at start; then standard error too when
// ZARN_LOG_STDERR=1. ZARN_LOG_PRIVATE=1 reveals private arguments. Thread-safe; nullptr
// restores standard error.
void setSystemSink(Sink sink);
// Tests capture records instead of writing them anywhere; pass nullptr to restore. Thread-safe.
void setSinkForTesting(Sink sink);

}  // namespace zarn::Log
