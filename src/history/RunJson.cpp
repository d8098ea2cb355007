#include "history/RunJson.h"

#include <array>
#include <charconv>
#include <climits>
#include <cmath>

#include <nlohmann/json.hpp>
#include <simdjson.h>

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

using simdjson::dom::element;
using Value = std::optional<element>;

// The values of `keys` in `object`. A key given twice counts with its last value, as readers
// that keep one value per key take it.
template <std::size_t N>
std::array<Value, N> pick(simdjson::dom::object object, const std::array<std::string_view, N>& keys) {
    std::array<Value, N> values;
    for (auto field : object) {
        for (std::size_t i = 0; i < N; ++i) {
            if (field.key == keys[i]) {
                values[i] = field.value;
                break;
            }
        }
    }
    return values;
}

bool isNull(const Value& value) { return !value || value->is_null(); }

std::optional<std::string_view> stringOf(const Value& value) {
    std::string_view text;
    if (!value || value->get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
    return text;
}

std::optional<double> numberOf(const Value& value) {
    double number;
    if (!value || !value->is_number() || value->get_double().get(number) != simdjson::SUCCESS) return std::nullopt;
    return number;
}

// A whole number written without fraction or exponent, as a count must be.
std::optional<long> integerOf(const Value& value) {
    std::int64_t signedValue;
    std::uint64_t unsignedValue;
    if (!value) return std::nullopt;
    if (value->type() == simdjson::dom::element_type::INT64 && value->get_int64().get(signedValue) == simdjson::SUCCESS) {
        return static_cast<long>(signedValue);
    }
    if (value->type() == simdjson::dom::element_type::UINT64 &&
        value->get_uint64().get(unsignedValue) == simdjson::SUCCESS &&
        unsignedValue <= static_cast<std::uint64_t>(LONG_MAX)) {
        return static_cast<long>(unsignedValue);
    }
    return std::nullopt;
}

std::optional<DictationRun> runFrom(element document) {
    simdjson::dom::object object;
    if (document.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
    auto [id, date, engine, audioSeconds, processSeconds, text, corrections] =
        pick<7>(object, {"id", "date", "engine", "audioSeconds", "processSeconds", "text", "corrections"});

    DictationRun run;
    if (isNull(id)) {
        run.id = makeUuid();
    } else {
        auto given = stringOf(id);
        if (!given || !isUuid(*given)) return std::nullopt;
        run.id = *given;
        // Of hex digits and hyphens only letters have 0x40, and lower case adds 0x20: cleared
        // without a branch, which random digits and letters would defeat.
        for (auto& c : run.id) c = static_cast<char>(c & ~((c & 0x40) >> 1));
    }

    auto dateText = stringOf(date);
    auto parsed = dateText ? parseIso8601(*dateText) : std::nullopt;
    auto engineName = stringOf(engine);
    auto audio = numberOf(audioSeconds);
    auto process = numberOf(processSeconds);
    auto words = stringOf(text);
    if (!parsed || !engineName || !audio || !process || !words) return std::nullopt;
    run.date = *parsed;
    run.engine = *engineName;
    run.audioSeconds = *audio;
    run.processSeconds = *process;
    run.text = *words;

    if (!isNull(corrections)) {
        simdjson::dom::array list;
        if (corrections->get_array().get(list) != simdjson::SUCCESS) return std::nullopt;
        std::vector<AppliedCorrection> applied;
        applied.reserve(list.size());
        for (element item : list) {
            simdjson::dom::object fields;
            if (item.get_object().get(fields) != simdjson::SUCCESS) return std::nullopt;
            auto [from, to, count] = pick<3>(fields, {"from", "to", "count"});
            auto fromText = stringOf(from);
            auto toText = stringOf(to);
            auto times = integerOf(count);
            if (!fromText || !toText || !times) return std::nullopt;
            applied.push_back({std::string(*fromText), std::string(*toText), *times});
        }
        run.corrections = std::move(applied);
    }
    return run;
}

// The line as a plain JSON reader takes it, cut down to what runFrom looks at: unknown keys
// dropped and nested values where a scalar belongs made `false` (refused all the same), so
// what is left is shallow and its numbers fit in 64 bits. Nothing when it is no JSON object.
std::optional<std::string> normalizedLine(std::string_view line) {
    json object = json::parse(line.begin(), line.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    auto scalar = [](const json& value) { return value.is_structured() ? json(false) : value; };
    auto keep = [&](json& into, const json& from, std::initializer_list<const char*> keys) {
        for (const char* key : keys) {
            if (auto it = from.find(key); it != from.end()) into[key] = scalar(*it);
        }
    };
    json kept = json::object();
    keep(kept, object, {"id", "date", "engine", "audioSeconds", "processSeconds", "text", "corrections"});
    if (auto list = object.find("corrections"); list != object.end() && list->is_array()) {
        json items = json::array();
        for (const auto& item : *list) {
            json fields = item.is_object() ? json::object() : json(false);
            if (item.is_object()) keep(fields, item, {"from", "to", "count"});
            items.push_back(std::move(fields));
        }
        kept["corrections"] = std::move(items);
    }
    return kept.dump();
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

struct RunLineDecoder::Parser {
    simdjson::dom::parser parser;
    std::string padded;  // the line, followed by the zero bytes the parser reads ahead
};

RunLineDecoder::RunLineDecoder() : parser_(std::make_unique<Parser>()) {}
RunLineDecoder::~RunLineDecoder() = default;

static_assert(RunLineDecoder::readAhead >= simdjson::SIMDJSON_PADDING);

std::optional<DictationRun> RunLineDecoder::decode(std::string_view line) {
    parser_->padded.assign(line);
    parser_->padded.append(readAhead, '\0');
    return decodeInPlace(std::string_view(parser_->padded).substr(0, line.size()));
}

std::optional<DictationRun> RunLineDecoder::decodeInPlace(std::string_view line) {
    simdjson::dom::element document;
    if (parser_->parser.parse(line.data(), line.size(), false).get(document) == simdjson::SUCCESS) {
        return runFrom(document);
    }
    // What this parser refuses but a plain JSON reader takes (integers beyond 64 bits, deep
    // nesting, a byte order mark) is read that way and judged by the same rules.
    auto normalized = normalizedLine(line);
    if (!normalized) return std::nullopt;
    const auto size = normalized->size();
    normalized->append(readAhead, '\0');
    if (parser_->parser.parse(normalized->data(), size, false).get(document) != simdjson::SUCCESS) return std::nullopt;
    return runFrom(document);
}

std::optional<DictationRun> decodeRunLine(std::string_view line) { return RunLineDecoder().decode(line); }

}  // namespace zarn
