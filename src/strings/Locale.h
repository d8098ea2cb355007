#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

// Reads one environment variable; null when it is unset. Tests pass a map instead of
// changing the process environment.
using LocaleEnvironment = std::function<const char*(const char*)>;
const LocaleEnvironment& processEnvironment();

// One locale name as a BCP 47 tag: "ru_RU.UTF-8" → "ru-RU", "pt_br@euro" → "pt-BR",
// "EN-us" → "en-US", "de" → "de" (language lower case, a two-letter region upper case; the
// codeset and modifier say nothing about the language). No value for "C", "POSIX" (with or
// without a codeset), empty names and anything that is not a language tag.
std::optional<std::string> languageTagFromLocaleName(std::string_view localeName);

// The language of the locale in effect for messages: the first non-empty of LC_ALL,
// LC_MESSAGES and LANG, as a tag. No value when that is C or POSIX (the user named no
// language; each engine then speaks its own default) or none is set.
std::optional<std::string> messagesLanguageTag(const LocaleEnvironment& lookup = processEnvironment());

// The user's preferred languages, most preferred first: the colon-separated list in LANGUAGE,
// then the messages locale's language, as Linux programs read them.
std::vector<std::string> preferredLanguagesFromEnvironment(const LocaleEnvironment& lookup);
std::vector<std::string> systemPreferredLanguages();

}  // namespace zarn
