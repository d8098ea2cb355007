#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace zarn {

// One line of the user's dictionary: a term the engine should expect, or a correction
// ("when you hear X, write Y").
struct DictionaryEntry {
    enum class Kind { term, correction };

    std::string id;  // fresh for every entry made or read; never written to the file
    Kind kind = Kind::term;
    std::string write;
    std::string hear;  // empty for a term
    bool isEnabled = true;

    DictionaryEntry() : DictionaryEntry(Kind::term, std::string()) {}
    // `id` empty means a fresh random one.
    DictionaryEntry(std::string id, Kind kind, std::string write, std::string hear = {}, bool isEnabled = true);
    DictionaryEntry(Kind kind, std::string write, std::string hear = {}, bool isEnabled = true)
        : DictionaryEntry(std::string(), kind, std::move(write), std::move(hear), isEnabled) {}

    static DictionaryEntry term(std::string write);
    static DictionaryEntry correction(std::string hear, std::string write);

    // The entry as one line of dictionary.txt.
    std::string fileLine() const;

    bool operator==(const DictionaryEntry&) const = default;
};

namespace dictionaryKind {
std::string_view rawValue(DictionaryEntry::Kind kind);
std::optional<DictionaryEntry::Kind> fromRawValue(std::string_view raw);  // exact match only
}  // namespace dictionaryKind

// Keys "id", "kind", "write", "hear", "isEnabled".
void to_json(nlohmann::json& json, const DictionaryEntry& entry);
// Throws nlohmann::json::exception on a missing key or an unknown kind.
void from_json(const nlohmann::json& json, DictionaryEntry& entry);

}  // namespace zarn

template <>
struct std::hash<zarn::DictionaryEntry> {
    std::size_t operator()(const zarn::DictionaryEntry& entry) const noexcept;
};
