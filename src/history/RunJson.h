#pragma once

#include <cstddef>
#include <memory>
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

// decodeRunLine for many lines in a row: its parser keeps its buffers from line to line.
class RunLineDecoder {
public:
    RunLineDecoder();
    ~RunLineDecoder();
    RunLineDecoder(const RunLineDecoder&) = delete;
    RunLineDecoder& operator=(const RunLineDecoder&) = delete;

    std::optional<DictationRun> decode(std::string_view line);
    // How many bytes after a line the parser may read (whatever they hold).
    static constexpr std::size_t readAhead = 64;
    // decode() without copying the line: it must be followed by `readAhead` readable bytes.
    std::optional<DictationRun> decodeInPlace(std::string_view line);

private:
    struct Parser;
    std::unique_ptr<Parser> parser_;
};

}  // namespace zarn
