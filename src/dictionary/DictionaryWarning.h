#pragma once

#include <string>
#include <vector>

#include "dictionary/DictionaryEntry.h"

namespace zarn {

// Why a correction may do harm, in one English sentence. Warnings never block saving.
struct DictionaryWarning {
    std::string message;

    explicit DictionaryWarning(std::string message) : message(std::move(message)) {}
    const std::string& id() const { return message; }

    // The warnings for one entry, possibly none. The entry need not be valid or saved.
    static std::vector<DictionaryWarning> check(const DictionaryEntry& entry);

    bool operator==(const DictionaryWarning&) const = default;
};

}  // namespace zarn
