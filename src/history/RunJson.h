#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "contracts/DictationRun.h"

namespace zarn {

// The one-line JSON form of a run in runs.jsonl, without the line feed: compact, keys in
// the order id, date, engine, audioSeconds, processSeconds, text, corrections (only when
// present), dates in whole seconds with "Z", numbers in their shortest exact form.
// Nothing when the run cannot be written (an id that is no UUID, a number that is not finite).
std::optional<std::string> encodeRunLine(const DictationRun& run);

// Reads one line in any key order, ignoring unknown keys. A missing "id" gets a new random
// one. Nothing when a required key is missing or malformed, or the date is not in the
// whole-second form.
std::optional<DictationRun> decodeRunLine(std::string_view line);

}  // namespace zarn
