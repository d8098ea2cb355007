#include "systemspeech/SpeechAnalysis.h"

#include "strings/Locale.h"

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

std::string currentLocaleIdentifier() { return messagesLanguageTag().value_or("en-US"); }

}  // namespace zarn::analysis
