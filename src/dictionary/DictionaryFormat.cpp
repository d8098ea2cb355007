#include <string>

#include "base/Unicode.h"
#include "dictionary/DictionaryStore.h"

namespace zarn {

namespace {

bool startsWithOffCaseInsensitive(std::string_view body) {
    if (body.size() < 4) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(body[0]) == 'o' && lower(body[1]) == 'f' && lower(body[2]) == 'f' && body[3] == ':';
}

std::optional<DictionaryEntry> parseLine(std::string_view piece) {
    std::string line = unicode::trimHorizontalWhitespace(piece);
    if (line.empty()) return std::nullopt;
    bool enabled = true;
    if (line.front() == '#') {
        std::string body = unicode::trimHorizontalWhitespace(std::string_view(line).substr(1));
        // Only ASCII letters can lower-case to "off:", so a byte-wise test matches the
        // lower-cased comparison and the four dropped characters are four bytes.
        if (!startsWithOffCaseInsensitive(body)) return std::nullopt;
        line = unicode::trimHorizontalWhitespace(std::string_view(body).substr(4));
        enabled = false;
        if (line.empty()) return std::nullopt;
    }
    auto arrow = line.find("->");
    if (arrow == std::string::npos) return DictionaryEntry(DictionaryEntry::Kind::term, line, {}, enabled);
    std::string hear = unicode::trimHorizontalWhitespace(std::string_view(line).substr(0, arrow));
    std::string write = unicode::trimHorizontalWhitespace(std::string_view(line).substr(arrow + 2));
    if (hear.empty() || write.empty()) return std::nullopt;
    return DictionaryEntry(DictionaryEntry::Kind::correction, std::move(write), std::move(hear), enabled);
}

}  // namespace

std::vector<DictionaryEntry> DictionaryStore::parse(std::string_view text) {
    std::vector<DictionaryEntry> entries;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view piece = text.substr(start, end - start);
        // Files edited on other systems may end their lines with CR LF.
        if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
        if (auto entry = parseLine(piece)) entries.push_back(std::move(*entry));
        start = end + 1;
    }
    return entries;
}

std::string DictionaryStore::fileText(const std::vector<DictionaryEntry>& entries) {
    std::string text(header);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) text += '\n';
        text += entries[i].fileLine();
    }
    text += '\n';
    return text;
}

}  // namespace zarn
