#include "history/RunJson.h"

#include <charconv>
#include <climits>
#include <cmath>

#include <nlohmann/json.hpp>

#include "base/Dates.h"
#include "base/Uuid.h"

namespace zarn {
namespace {

using nlohmann::json;

std::string upper(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// Invalid UTF-8 cannot be written as JSON; such bytes become U+FFFD rather than losing the run.
void appendString(std::string& out, const std::string& value) {
    out += json(value).dump(-1, ' ', false, json::error_handler_t::replace);
}

// The shortest text that reads back as the same 64-bit value ("2", "1.5", "1e-05").
bool appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) return false;
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc()) return false;
    out.append(buffer, result.ptr);
    return true;
}

std::optional<std::string> stringField(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<double> numberField(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

std::optional<long> integerValue(const json& value) {
    if (value.is_number_unsigned()) {
        auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(LONG_MAX)) return std::nullopt;
        return static_cast<long>(v);
    }
    if (value.is_number_integer()) return value.get<long>();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> encodeRunLine(const DictationRun& run) {
    if (!isUuid(run.id)) return std::nullopt;
    std::string out;
    out.reserve(160 + run.text.size());
    out += "{\"id\":\"";
    out += upper(run.id);
    out += "\",\"date\":\"";
    out += formatIso8601(run.date);
    out += "\",\"engine\":";
    appendString(out, run.engine);
    out += ",\"audioSeconds\":";
    if (!appendNumber(out, run.audioSeconds)) return std::nullopt;
    out += ",\"processSeconds\":";
    if (!appendNumber(out, run.processSeconds)) return std::nullopt;
    out += ",\"text\":";
    appendString(out, run.text);
    if (run.corrections) {
        out += ",\"corrections\":[";
        bool first = true;
        for (const auto& correction : *run.corrections) {
            if (!first) out += ',';
            first = false;
            out += "{\"from\":";
            appendString(out, correction.from);
            out += ",\"to\":";
            appendString(out, correction.to);
            out += ",\"count\":";
            out += std::to_string(correction.count);
            out += '}';
        }
        out += ']';
    }
    out += '}';
    return out;
}

std::optional<DictationRun> decodeRunLine(std::string_view line) {
    json object = json::parse(line.begin(), line.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;

    DictationRun run;
    auto id = object.find("id");
    if (id == object.end() || id->is_null()) {
        run.id = makeUuid();
    } else {
        if (!id->is_string() || !isUuid(id->get_ref<const std::string&>())) return std::nullopt;
        run.id = upper(id->get_ref<const std::string&>());
    }

    auto date = stringField(object, "date");
    if (!date) return std::nullopt;
    auto parsed = parseIso8601(*date);
    if (!parsed) return std::nullopt;
    run.date = *parsed;

    auto engine = stringField(object, "engine");
    auto audioSeconds = numberField(object, "audioSeconds");
    auto processSeconds = numberField(object, "processSeconds");
    auto text = stringField(object, "text");
    if (!engine || !audioSeconds || !processSeconds || !text) return std::nullopt;
    run.engine = std::move(*engine);
    run.audioSeconds = *audioSeconds;
    run.processSeconds = *processSeconds;
    run.text = std::move(*text);

    auto corrections = object.find("corrections");
    if (corrections != object.end() && !corrections->is_null()) {
        if (!corrections->is_array()) return std::nullopt;
        std::vector<AppliedCorrection> list;
        list.reserve(corrections->size());
        for (const auto& element : *corrections) {
            if (!element.is_object()) return std::nullopt;
            auto from = stringField(element, "from");
            auto to = stringField(element, "to");
            auto count = element.contains("count") ? integerValue(element["count"]) : std::nullopt;
            if (!from || !to || !count) return std::nullopt;
            list.push_back({std::move(*from), std::move(*to), *count});
        }
        run.corrections = std::move(list);
    }
    return run;
}

}  // namespace zarn
