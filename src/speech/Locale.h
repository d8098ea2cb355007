#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarn {

// "en_US.UTF-8" → "en-US", "pt_BR@euro" → "pt-BR", "de" → "de"; nullopt for "C", "POSIX"
// and anything that is not a language tag.
std::optional<std::string> bcp47FromPosixLocale(std::string_view posix);
// The user's locale in BCP 47 form, from LC_ALL, LC_MESSAGES or LANG (the first one set).
std::optional<std::string> currentLocaleBcp47();

}  // namespace zarn
