#include "base/Uuid.h"

#include <sys/random.h>

#include <array>
#include <cstdint>
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
    // By hand: snprintf took most of the time of reading a 100 000-entry dictionary.
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[b[i] >> 4];
        out += hex[b[i] & 0x0F];
    }
    return out;
}

// A table, not std::isxdigit or comparisons: random hex digits defeat branch prediction, and a
// long history checks millions of them at load.
constexpr auto hexDigits = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) table[static_cast<std::size_t>(c)] = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return table;
}();

bool isUuid(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !hexDigits[static_cast<unsigned char>(text[i])]) return false;
    }
    return true;
}

}  // namespace zarn
