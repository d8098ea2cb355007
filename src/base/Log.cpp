#include "base/Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>

namespace zarn::Log {
namespace {

bool envFlag(const char* name) {
    const char* v = std::getenv(name);
    return v && std::strcmp(v, "1") == 0;
}

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
Sink& testSink() {
    static Sink s;
    return s;
}
Sink& systemSink() {
    static Sink s;
    return s;
}

std::string asString(const Arg& arg) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else {
                return std::to_string(v);
            }
        },
        arg.value());
}

std::string renderOne(const std::string& spec, char conversion, const Arg& arg) {
    // `spec` holds flags, width and precision, without length modifiers.
    char buffer[512];
    const auto& value = arg.value();
    switch (conversion) {
        case 'd':
        case 'i': {
            long long v = std::holds_alternative<std::int64_t>(value)    ? std::get<std::int64_t>(value)
                          : std::holds_alternative<std::uint64_t>(value) ? static_cast<long long>(std::get<std::uint64_t>(value))
                          : std::holds_alternative<double>(value)        ? static_cast<long long>(std::get<double>(value))
                                                                         : std::atoll(std::get<std::string>(value).c_str());
            std::snprintf(buffer, sizeof buffer, ("%" + spec + "lld").c_str(), v);
            return buffer;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            unsigned long long v = std::holds_alternative<std::uint64_t>(value)   ? std::get<std::uint64_t>(value)
                                   : std::holds_alternative<std::int64_t>(value) ? static_cast<unsigned long long>(std::get<std::int64_t>(value))
                                   : std::holds_alternative<double>(value)       ? static_cast<unsigned long long>(std::get<double>(value))
                                                                                 : std::strtoull(std::get<std::string>(value).c_str(), nullptr, 10);
            std::snprintf(buffer, sizeof buffer, ("%" + spec + "ll" + conversion).c_str(), v);
            return buffer;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            double v = std::holds_alternative<double>(value)         ? std::get<double>(value)
                       : std::holds_alternative<std::int64_t>(value) ? static_cast<double>(std::get<std::int64_t>(value))
                       : std::holds_alternative<std::uint64_t>(value) ? static_cast<double>(std::get<std::uint64_t>(value))
                                                                      : std::atof(std::get<std::string>(value).c_str());
            std::snprintf(buffer, sizeof buffer, ("%" + spec + conversion).c_str(), v);
            return buffer;
        }
        default: {
            std::string s = asString(arg);
            if (spec.empty()) return s;
            std::snprintf(buffer, sizeof buffer, ("%" + spec + "s").c_str(), s.c_str());
            return buffer;
        }
    }
}

}  // namespace

std::string format(std::string_view fmt, const std::vector<Arg>& args, bool revealPrivate) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        std::string_view marker;
        if (j < fmt.size() && fmt[j] == '{') {
            auto close = fmt.find('}', j);
            if (close == std::string_view::npos) {
                out += fmt.substr(i);
                break;
            }
            marker = fmt.substr(j + 1, close - j - 1);
            j = close + 1;
        }
        // A '*' width or precision takes its value from the next argument.
        std::string spec;
        for (; j < fmt.size() && std::strchr("-+ #0123456789.*", fmt[j]); ++j) {
            if (fmt[j] != '*') {
                spec += fmt[j];
            } else {
                spec += next < args.size() ? renderOne("", 'd', args[next]) : "0";
                ++next;
            }
        }
        while (j < fmt.size() && std::strchr("hlLqjzt", fmt[j])) ++j;  // lengths: the argument knows its type
        if (j >= fmt.size()) {
            out += fmt.substr(i);
            break;
        }
        char conversion = fmt[j];
        // Numbers cannot carry dictated text: they are shown unless marked private. Strings
        // may, so they are hidden unless marked public.
        const bool isNumber = std::strchr("diuxXofFeEgG", conversion) != nullptr;
        const bool isPublic = marker == "public" || (isNumber && marker != "private");
        if (next >= args.size()) {
            out += "<missing>";
        } else if (!isPublic && !revealPrivate) {
            out += "<private>";
            ++next;
        } else {
            out += renderOne(spec, conversion, args[next++]);
        }
        i = j;
    }
    return out;
}

void Logger::write(Level level, std::string_view fmt, const std::vector<Arg>& args) const {
    Record record{category_, level, format(fmt, args, envFlag("ZARN_LOG_PRIVATE"))};
    std::lock_guard lock(sinkMutex());
    if (testSink()) {
        testSink()(record);
        return;
    }
    if (systemSink()) systemSink()(record);
    if (!systemSink() || envFlag("ZARN_LOG_STDERR")) {
        std::cerr << "[" << category_ << "] " << (level == Level::error ? "error: " : "") << record.message << std::endl;
    }
}

#define ZARN_LOGGER(name)                  \
    const Logger& name() {                 \
        static const Logger logger(#name); \
        return logger;                     \
    }
ZARN_LOGGER(audio)
ZARN_LOGGER(speech)
ZARN_LOGGER(hotkey)
ZARN_LOGGER(inject)
ZARN_LOGGER(app)
#undef ZARN_LOGGER

void setSystemSink(Sink s) {
    std::lock_guard lock(sinkMutex());
    systemSink() = std::move(s);
}

void setSinkForTesting(Sink s) {
    std::lock_guard lock(sinkMutex());
    testSink() = std::move(s);
}

}  // namespace zarn::Log
