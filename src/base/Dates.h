#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/Clock.h"

namespace zarn {

// "2026-03-01T09:15:42Z": UTC, whole seconds (fractions are cut off).
std::string formatIso8601(SystemTime time);
// Accepts the same form, and a numeric offset ("+02:00") instead of "Z". Fractional
// seconds, dates the clock cannot hold (before 1678 or after 2261)
// and anything else are rejected, as the stored files never hold them.
std::optional<SystemTime> parseIso8601(std::string_view text);

}  // namespace zarn
