#include "sphinx/Pronunciation.h"

#include <array>
#include <cctype>
#include <limits>
#include <string_view>
#include <vector>

namespace zarn::sphinx {

namespace {

const char* letterName(char c) {
    static constexpr std::array<const char*, 26> names = {
        "EY", "B IY", "S IY", "D IY", "IY", "EH F", "JH IY", "EY CH", "AY", "JH EY", "K EY", "EH L", "EH M",
        "EH N", "OW", "P IY", "K Y UW", "AA R", "EH S", "T IY", "Y UW", "V IY", "D AH B AH L Y UW", "EH K S",
        "W AY", "Z IY"};
    return names[static_cast<std::size_t>(c - 'a')];
}

const char* digitName(char c) {
    static constexpr std::array<const char*, 10> names = {"Z IH R OW", "W AH N", "T UW", "TH R IY", "F AO R",
                                                          "F AY V",    "S IH K S", "S EH V AH N", "EY T", "N AY N"};
    return names[static_cast<std::size_t>(c - '0')];
}

void append(std::string& phones, std::string_view more) {
    if (more.empty()) return;
    if (!phones.empty()) phones += ' ';
    phones += more;
}

bool isVowel(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

// Plain spelling rules; crude, but the acoustic match needs only something close.
std::string spellingRules(const std::string& w) {
    static const std::vector<std::pair<std::string_view, std::string_view>> groups = {
        {"tch", "CH"}, {"sch", "SH"}, {"ch", "CH"}, {"sh", "SH"}, {"th", "TH"}, {"ph", "F"},  {"ck", "K"},
        {"ng", "NG"},  {"qu", "K W"}, {"wh", "W"},  {"ee", "IY"}, {"oo", "UW"}, {"ou", "AW"}, {"ow", "OW"},
        {"ai", "EY"},  {"ay", "EY"},  {"ea", "IY"}, {"oa", "OW"}, {"ie", "IY"}, {"ei", "EY"}, {"oi", "OY"},
        {"oy", "OY"},  {"au", "AO"},  {"aw", "AO"}, {"er", "ER"}, {"ir", "ER"}, {"ur", "ER"}, {"ar", "AA R"},
        {"or", "AO R"}};
    static constexpr std::array<const char*, 26> single = {"AE", "B", "K", "D", "EH", "F", "G", "HH", "IH",
                                                           "JH", "K", "L", "M", "N", "AA", "P", "K", "R",
                                                           "S",  "T", "AH", "V", "W", "K S", "IY", "Z"};
    std::string phones;
    std::size_t i = 0;
    while (i < w.size()) {
        // A final silent e after a consonant.
        if (w[i] == 'e' && i + 1 == w.size() && i >= 2 && !isVowel(w[i - 1])) break;
        bool matched = false;
        for (const auto& [letters, sound] : groups) {
            if (w.compare(i, letters.size(), letters) == 0) {
                append(phones, sound);
                i += letters.size();
                matched = true;
                break;
            }
        }
        if (matched) continue;
        const char c = w[i];
        if (i > 0 && w[i - 1] == c && !isVowel(c)) {  // doubled consonants sound once
            ++i;
            continue;
        }
        if (c >= 'a' && c <= 'z') {
            if (c == 'y' && i == 0) {
                append(phones, "Y");
            } else if (c == 'c' && i + 1 < w.size() && (w[i + 1] == 'e' || w[i + 1] == 'i' || w[i + 1] == 'y')) {
                append(phones, "S");
            } else {
                append(phones, single[static_cast<std::size_t>(c - 'a')]);
            }
        } else if (c >= '0' && c <= '9') {
            append(phones, digitName(c));
        }
        ++i;
    }
    return phones;
}

// The cheapest cover of `w` by dictionary words of three letters or more, with spelling
// rules for the letters between them.
std::string segmented(const std::string& w, const std::function<std::string(const std::string&)>& lookup) {
    const std::size_t n = w.size();
    constexpr int kUnknownLetter = 3;
    constexpr std::size_t kLongest = 16;
    std::vector<int> cost(n + 1, std::numeric_limits<int>::max());
    std::vector<std::size_t> from(n + 1, 0);
    std::vector<std::string> piece(n + 1);
    cost[0] = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (cost[i] == std::numeric_limits<int>::max()) continue;
        if (cost[i] + kUnknownLetter < cost[i + 1]) {
            cost[i + 1] = cost[i] + kUnknownLetter;
            from[i + 1] = i;
            piece[i + 1].clear();
        }
        for (std::size_t len = 3; len <= kLongest && i + len <= n; ++len) {
            const std::string phones = lookup(w.substr(i, len));
            if (phones.empty() || cost[i] + 1 >= cost[i + len]) continue;
            cost[i + len] = cost[i] + 1;
            from[i + len] = i;
            piece[i + len] = phones;
        }
    }
    std::vector<std::string> parts;
    std::string unknown;
    std::size_t at = n;
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    while (at > 0) {
        spans.emplace_back(from[at], at);
        at = from[at];
    }
    std::string phones;
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        const auto [begin, end] = *it;
        if (!piece[end].empty()) {
            append(phones, spellingRules(unknown));
            unknown.clear();
            append(phones, piece[end]);
        } else {
            unknown += w.substr(begin, end - begin);
        }
    }
    append(phones, spellingRules(unknown));
    return phones;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string derivePronunciation(const std::string& word, const std::function<std::string(const std::string&)>& lookup) {
    // Split into parts: runs of letters broken at lower→upper changes, and single digits.
    std::vector<std::string> parts;
    std::string current;
    auto flush = [&] {
        if (!current.empty()) parts.push_back(current);
        current.clear();
    };
    for (std::size_t i = 0; i < word.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(word[i]);
        if (std::isdigit(c)) {
            flush();
            parts.emplace_back(1, static_cast<char>(c));
        } else if (std::isalpha(c) || c == '\'') {
            if (std::isupper(c) && !current.empty() && std::islower(static_cast<unsigned char>(current.back()))) flush();
            current += static_cast<char>(c);
        } else {
            flush();
        }
    }
    flush();

    std::string phones;
    for (const auto& part : parts) {
        const std::string w = lower(part);
        if (std::isdigit(static_cast<unsigned char>(w[0]))) {
            append(phones, digitName(w[0]));
            continue;
        }
        if (const std::string known = lookup(w); !known.empty()) {
            append(phones, known);
            continue;
        }
        bool allCaps = true;
        bool hasVowel = false;
        for (char c : part) {
            allCaps = allCaps && std::isupper(static_cast<unsigned char>(c));
            hasVowel = hasVowel || isVowel(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
        if ((allCaps && part.size() <= 5) || !hasVowel) {
            for (char c : w) {
                if (c >= 'a' && c <= 'z') append(phones, letterName(c));
            }
            continue;
        }
        std::string letters;
        for (char c : w) {
            if (c >= 'a' && c <= 'z') letters += c;
        }
        append(phones, segmented(letters, lookup));
    }
    return phones;
}

}  // namespace zarn::sphinx
