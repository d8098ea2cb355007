#include "sphinx/PhraseBias.h"

#include <pocketsphinx.h>
#include <sphinxbase/ngram_model.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <unistd.h>

#include "sphinx/Pronunciation.h"

namespace zarn::sphinx {

namespace {

constexpr const char* kDefaultSearch = "_default";
constexpr const char* kBiasSearch = "zarn-bias";

bool hasAlnum(const std::string& s) {
    for (unsigned char c : s) {
        if (std::isalnum(c)) return true;
    }
    return false;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string logProb(double p) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4f", std::log10(p));
    return buffer;
}

// Words go into the dictionary by reloading it with the additions: adding them one by one
// (ps_add_word) also puts them into the trie language model, whose scores then read out of
// bounds in this PocketSphinx once such a word is in the history.
bool addToDictionary(ps_decoder_t* ps, const std::vector<std::pair<std::string, std::string>>& additions,
                     std::string& error) {
    char path[] = "/tmp/zarn-dict-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        error = "cannot write the extended dictionary";
        return false;
    }
    ::close(fd);
    bool ok = ps_save_dict(ps, path, nullptr) >= 0;
    if (ok) {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        for (const auto& [word, phones] : additions) out << word << ' ' << phones << '\n';
        ok = static_cast<bool>(out.flush());
    }
    ok = ok && ps_load_dict(ps, path, nullptr, nullptr) >= 0;
    std::filesystem::remove(path);
    if (!ok) error = "the dictionary cannot be extended";
    return ok;
}

}  // namespace

std::vector<std::string> phraseWords(const std::string& phrase) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < phrase.size()) {
        while (i < phrase.size() && std::isspace(static_cast<unsigned char>(phrase[i]))) ++i;
        std::size_t j = i;
        while (j < phrase.size() && !std::isspace(static_cast<unsigned char>(phrase[j]))) ++j;
        std::string token = phrase.substr(i, j - i);
        i = j;
        // Trim punctuation around the word, keeping what is inside ("Node.js", "don't").
        static const char* const kMarks[] = {"«", "»", "“", "”", "„", "‘", "’", "—", "–", "…"};
        for (bool trimmed = true; trimmed && !token.empty();) {
            trimmed = false;
            const auto c0 = static_cast<unsigned char>(token.front());
            const auto c1 = static_cast<unsigned char>(token.back());
            if (c0 < 0x80 && !std::isalnum(c0)) {
                token.erase(0, 1);
                trimmed = true;
            } else if (c1 < 0x80 && !std::isalnum(c1)) {
                token.pop_back();
                trimmed = true;
            }
            for (const char* mark : kMarks) {
                const std::string m = mark;
                if (token.rfind(m, 0) == 0) {
                    token.erase(0, m.size());
                    trimmed = true;
                } else if (token.size() >= m.size() && token.compare(token.size() - m.size(), m.size(), m) == 0) {
                    token.erase(token.size() - m.size());
                    trimmed = true;
                }
            }
        }
        if (hasAlnum(token)) words.push_back(token);
    }
    return words;
}

std::string phraseLanguageModel(const std::vector<std::vector<std::string>>& phrases) {
    std::set<std::string> vocabulary;
    std::map<std::string, std::set<std::string>> successors;
    for (const auto& words : phrases) {
        if (words.empty()) continue;
        std::string previous = "<s>";
        for (const auto& w : words) {
            vocabulary.insert(w);
            successors[previous].insert(w);
            previous = w;
        }
        successors[previous].insert("</s>");
    }
    std::string arpa = "\\data\\\n";
    std::size_t bigrams = 0;
    for (const auto& [_, next] : successors) bigrams += next.size();
    arpa += "ngram 1=" + std::to_string(vocabulary.size() + 2) + "\n";
    arpa += "ngram 2=" + std::to_string(bigrams) + "\n\n\\1-grams:\n";
    const double unigram = 1.0 / static_cast<double>(vocabulary.size() + 1);
    arpa += "-99.0000 <s> -0.3010\n";
    arpa += logProb(unigram) + " </s> 0.0000\n";
    for (const auto& w : vocabulary) arpa += logProb(unigram) + " " + w + " -0.3010\n";
    arpa += "\n\\2-grams:\n";
    for (const auto& [first, next] : successors) {
        // Half the mass to the phrase's own continuation, the rest backs off.
        const double p = 0.5 / static_cast<double>(next.size());
        for (const auto& second : next) arpa += logProb(p) + " " + first + " " + second + "\n";
    }
    arpa += "\n\\end\\\n";
    return arpa;
}

bool applyPhraseBias(StreamingDecoder& decoder, const std::vector<std::string>& phrases, float weight,
                     std::string& error) {
    ps_decoder_t* ps = decoder.rawDecoder();
    decoder.reset();
    // Building the biased search takes about a second, spent between the press and the
    // microphone; the same phrases as last time (the dictionary did not change) reuse it.
    if (!phrases.empty() && phrases == decoder.biasPhrases() && ps_set_search(ps, kBiasSearch) >= 0) return true;
    clearPhraseBias(decoder);

    ngram_model_t* base = ps_get_lm(ps, kDefaultSearch);
    if (!base) {
        error = "the decoder has no language model to bias";
        return false;
    }
    // Every phrase word must be in the dictionary; the phrase model brings it into the
    // combined language model.
    std::vector<std::vector<std::string>> tokenized;
    std::vector<std::pair<std::string, std::string>> additions;
    const auto lookup = [&](const std::string& w) { return decoder.lookupWord(w); };
    for (const auto& phrase : phrases) {
        std::vector<std::string> usable;
        for (const auto& word : phraseWords(phrase)) {
            const bool pending = std::any_of(additions.begin(), additions.end(), [&](const auto& a) { return a.first == word; });
            std::string phones = decoder.lookupWord(word);
            if (!pending && phones.empty()) {
                // Known in lower case: the written form gets the same sound; otherwise one is made.
                if (phones.empty()) phones = decoder.lookupWord(lower(word));
                if (phones.empty()) phones = derivePronunciation(word, lookup);
                if (phones.empty()) continue;
                additions.emplace_back(word, phones);
            }
            usable.push_back(word);
        }
        if (!usable.empty()) tokenized.push_back(std::move(usable));
    }
    if (!additions.empty() && !addToDictionary(ps, additions, error)) return false;
    if (tokenized.empty()) {
        error = "no usable words in the phrases";
        return false;
    }

    char path[] = "/tmp/zarn-bias-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        error = "cannot write the phrase model";
        return false;
    }
    ::close(fd);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << phraseLanguageModel(tokenized);
    }
    // The model takes its own reference to the decoder's log tables.
    ngram_model_t* phraseModel = ngram_model_read(ps_get_config(ps), path, NGRAM_ARPA, ps_get_logmath(ps));
    std::filesystem::remove(path);
    if (!phraseModel) {
        error = "the phrase model cannot be read";
        return false;
    }
    ngram_model_t* models[2] = {base, phraseModel};
    char baseName[] = "base";
    char phraseName[] = "phrases";
    char* names[2] = {baseName, phraseName};
    const float32 weights[2] = {1.0f - weight, weight};
    // The set takes its own references to both models.
    ngram_model_t* set = ngram_model_set_init(ps_get_config(ps), models, names, weights, 2);
    ngram_model_free(phraseModel);
    if (!set) {
        error = "the language models cannot be combined";
        return false;
    }
    const int setResult = ps_set_lm(ps, kBiasSearch, set);
    ngram_model_free(set);  // the search holds its own reference
    if (setResult < 0 || ps_set_search(ps, kBiasSearch) < 0) {
        clearPhraseBias(decoder);
        decoder.setBiasPhrases({});
        error = "the biased search cannot be started";
        return false;
    }
    decoder.setBiasPhrases(phrases);
    return true;
}

void clearPhraseBias(StreamingDecoder& decoder) {
    // ps_get_search leaks its iterator in this PocketSphinx, so the search is set blindly.
    ps_set_search(decoder.rawDecoder(), kDefaultSearch);
}

}  // namespace zarn::sphinx
