#include "dictionary/DictionaryEntry.h"

#include <nlohmann/json.hpp>

#include "base/Uuid.h"

namespace zarn {

DictionaryEntry::DictionaryEntry(std::string id, Kind kind, std::string write, std::string hear, bool isEnabled)
    : id(id.empty() ? makeUuid() : std::move(id)),
      kind(kind),
      write(std::move(write)),
      hear(std::move(hear)),
      isEnabled(isEnabled) {}

DictionaryEntry DictionaryEntry::term(std::string write) { return DictionaryEntry(Kind::term, std::move(write)); }

DictionaryEntry DictionaryEntry::correction(std::string hear, std::string write) {
    return DictionaryEntry(Kind::correction, std::move(write), std::move(hear));
}

std::string DictionaryEntry::fileLine() const {
    std::string body = kind == Kind::term ? write : hear + " -> " + write;
    return isEnabled ? body : "# off: " + body;
}

namespace dictionaryKind {

std::string_view rawValue(DictionaryEntry::Kind kind) {
    return kind == DictionaryEntry::Kind::term ? "term" : "correction";
}

std::optional<DictionaryEntry::Kind> fromRawValue(std::string_view raw) {
    if (raw == "term") return DictionaryEntry::Kind::term;
    if (raw == "correction") return DictionaryEntry::Kind::correction;
    return std::nullopt;
}

}  // namespace dictionaryKind

void to_json(nlohmann::json& json, const DictionaryEntry& entry) {
    json = nlohmann::json{{"id", entry.id},
                          {"kind", dictionaryKind::rawValue(entry.kind)},
                          {"write", entry.write},
                          {"hear", entry.hear},
                          {"isEnabled", entry.isEnabled}};
}

void from_json(const nlohmann::json& json, DictionaryEntry& entry) {
    auto kind = dictionaryKind::fromRawValue(json.at("kind").get<std::string>());
    if (!kind) throw nlohmann::json::other_error::create(501, "unknown dictionary entry kind", &json);
    entry = DictionaryEntry(json.at("id").get<std::string>(), *kind, json.at("write").get<std::string>(),
                            json.at("hear").get<std::string>(), json.at("isEnabled").get<bool>());
}

}  // namespace zarn

std::size_t std::hash<zarn::DictionaryEntry>::operator()(const zarn::DictionaryEntry& entry) const noexcept {
    std::size_t seed = std::hash<std::string>{}(entry.id);
    auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(static_cast<std::size_t>(entry.kind));
    mix(std::hash<std::string>{}(entry.write));
    mix(std::hash<std::string>{}(entry.hear));
    mix(entry.isEnabled ? 1 : 0);
    return seed;
}
