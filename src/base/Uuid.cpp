#include "base/Uuid.h"

#include <sys/random.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>

namespace zarn {

std::string makeUuid() {
    std::array<std::uint8_t, 16> b{};
    if (::getrandom(b.data(), b.size(), 0) != static_cast<ssize_t>(b.size())) {
        std::random_device rd;
        for (auto& byte : b) byte = static_cast<std::uint8_t>(rd());
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

bool isUuid(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        // Not std::isxdigit: a call per character shows when a long history is loaded.
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex) return false;
    }
    return true;
}

}  // namespace zarn
