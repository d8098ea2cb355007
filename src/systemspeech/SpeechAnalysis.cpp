#include "systemspeech/SpeechAnalysis.h"

#include <cctype>
#include <cstdlib>

namespace zarn::analysis {

namespace {

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<SpeechFramework>& sharedFramework() {
    static std::shared_ptr<SpeechFramework> framework;
    return framework;
}

}  // namespace

std::shared_ptr<SpeechFramework> SpeechFramework::shared() {
    std::lock_guard lock(sharedMutex());
    return sharedFramework();
}

void SpeechFramework::setShared(std::shared_ptr<SpeechFramework> framework) {
    std::lock_guard lock(sharedMutex());
    sharedFramework() = std::move(framework);
}

std::string normalizedLocale(const std::string& name) {
    std::string base = name.substr(0, name.find_first_of(".@"));
    std::string language, region;
    std::size_t i = 0;
    while (i < base.size() && std::isalpha(static_cast<unsigned char>(base[i]))) {
        language += static_cast<char>(std::tolower(static_cast<unsigned char>(base[i])));
        ++i;
    }
    if (language.size() < 2 || language.size() > 3) return "";
    if (i < base.size()) {
        if (base[i] != '_' && base[i] != '-') return "";
        ++i;
        while (i < base.size() && std::isalnum(static_cast<unsigned char>(base[i]))) {
            region += static_cast<char>(std::toupper(static_cast<unsigned char>(base[i])));
            ++i;
        }
        if (i != base.size() || region.empty()) return "";
    }
    return region.empty() ? language : language + "-" + region;
}

std::string currentLocaleIdentifier() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) continue;
        const std::string v = value;
        if (v == "C" || v == "POSIX" || v.rfind("C.", 0) == 0) return "en-US";
        const std::string locale = normalizedLocale(v);
        if (!locale.empty()) return locale;
    }
    return "en-US";
}

}  // namespace zarn::analysis
