#pragma once

#include "strings/Strings.h"

namespace zarn {

// The process-wide table for code that cannot reach the settings (error descriptions, engines).
// Read from any thread, written by the settings when the interface language changes; the table
// sits behind a lock. English until the first set().
class CurrentStrings {
public:
    CurrentStrings() = delete;

    // A copy of the current table.
    static Strings value();
    static void set(Strings table);
};

}  // namespace zarn
