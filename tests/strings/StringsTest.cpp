#include "strings/Strings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace zarn {
namespace {

// A field forgotten in one table stays empty: the user would see a blank label or a dead function.
TEST(StringsTables, BothLanguagesFillEveryField) {
#define TEXTS(s)                                                                                                    \
    {s.transport.record, s.transport.stop, s.tabs.transcriptions, s.tabs.dictionary,                               \
     s.transcriptions.searchPlaceholder, s.transcriptions.emptyTitle, s.transcriptions.emptyDetail,                \
     s.transcriptions.noMatchesTitle, s.transcriptions.noMatchesDetail, s.transcriptions.deleteAll,                \
     s.transcriptions.deleteAllButton, s.transcriptions.cancel, s.transcriptions.cannotBeUndone,                   \
     s.transcriptions.copy, s.transcriptions.copied, s.transcriptions.deleteThis, s.transcriptions.corrected,      \
     s.dictionary.searchPlaceholder, s.dictionary.emptyTitle, s.dictionary.emptyDetail,                            \
     s.dictionary.noMatchesTitle, s.dictionary.noMatchesDetail, s.dictionary.add, s.dictionary.revealFile,         \
     s.dictionary.kindFix, s.dictionary.kindTerm, s.dictionary.kindCorrection, s.dictionary.edit,                  \
     s.dictionary.turnOff, s.dictionary.turnOn, s.dictionary.delete_, s.dictionary.newEntry,                       \
     s.dictionary.editEntry, s.dictionary.whenYouHear, s.dictionary.write, s.dictionary.wordOrPhrase,              \
     s.dictionary.cancel, s.dictionary.save, s.settings.pushToTalk, s.settings.pushToTalkNote, s.settings.model,   \
     s.settings.appleNote, s.settings.cleanup, s.settings.cleanupToggle, s.settings.cleanupNote,                   \
     s.settings.language, s.settings.languageNote, s.settings.appleUnavailable, s.settings.title,                  \
     s.settings.startAtLogin, s.settings.startAtLoginToggle, s.settings.startAtLoginNote, s.menu.pushToTalkKey,    \
     s.menu.engine, s.menu.cleanUpText, s.menu.smartCleanup, s.menu.sound, s.menu.revealDictionary,                \
     s.menu.openWindow, s.menu.settings, s.menu.grantAccessibility, s.menu.grantMicrophone, s.menu.quit,           \
     s.menu.checkForUpdates, s.menu.modelInstalled, s.hud.listening, s.hud.transcribing, s.errors.noAudioFormat,   \
     s.errors.notRunning, s.errors.microphoneOff, s.errors.modelNotDownloaded,                                     \
     s.modelAvailability.deviceNotEligible, s.modelAvailability.notEnabled,                                        \
     s.modelAvailability.stillDownloading, s.modelAvailability.unavailable, s.sidebar.library,                     \
     s.desktop.keyboardAccessHelp, s.desktop.keyGrabHelp, s.desktop.microphoneHelp,                                \
     s.updates.fromPackageManager, s.updates.feedMalformed, s.updates.feedEmpty, s.updates.feedTooLarge}
#define NUMBERS(s)                                                                                                  \
    {s.transcriptions.recordingCount, s.transcriptions.deleteAllConfirm, s.dictionary.entryCount,                  \
     s.settings.nemotronNote, s.menu.downloadModel, s.menu.downloadingModel, s.updates.serverStatus}
#define TEXT_FUNCTIONS(s)                                                                                           \
    {s.menu.holdToDictate, s.errors.localeUnsupported, s.errors.modelInstallFailed, s.updates.upToDate,            \
     s.updates.newerVersion, s.updates.checkFailed, s.updates.serverUnreachable}
    for (const Strings* s : {&Strings::english(), &Strings::russian()}) {
        const std::vector<std::string> texts TEXTS((*s));
        for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_FALSE(texts[i].empty()) << "text " << i;
        const std::vector<Strings::NumberText> numbers NUMBERS((*s));
        for (const auto& f : numbers) EXPECT_NE(f ? f(77).find("77") : std::string::npos, std::string::npos);
        const std::vector<Strings::TextText> functions TEXT_FUNCTIONS((*s));
        for (const auto& f : functions) EXPECT_NE(f ? f("«x»").find("«x»") : std::string::npos, std::string::npos);
    }
#undef TEXTS
#undef NUMBERS
#undef TEXT_FUNCTIONS
    EXPECT_EQ(Strings::russian().hud.listening, "Слушаю…");
    EXPECT_EQ(&Strings::table(AppLanguage::Resolved::en), &Strings::english());
    EXPECT_EQ(&Strings::table(AppLanguage::Resolved::ru), &Strings::russian());
}

TEST(StringsTables, CountsAndParametersBuildEachLanguagesSentence) {
    const auto& en = Strings::english();
    const auto& ru = Strings::russian();
    for (auto [n, text] : std::vector<std::pair<std::int64_t, const char*>>{
             {1, "1 recording"}, {0, "0 recordings"}, {2, "2 recordings"}, {21, "21 recordings"},
             {-1, "-1 recordings"}, {1234567, "1234567 recordings"}})  // no grouping separators
        EXPECT_EQ(en.transcriptions.recordingCount(n), text);
    EXPECT_EQ(en.transcriptions.deleteAllConfirm(1), "Delete all 1 recordings?");
    EXPECT_EQ(en.dictionary.entryCount(1), "1 entries");
    for (auto [n, word] : std::vector<std::pair<std::int64_t, std::string>>{{21, "запись"}, {3, "записи"}, {11, "записей"}}) {
        const std::string count = std::to_string(n) + " " + word;
        EXPECT_EQ(ru.transcriptions.recordingCount(n), count);
        EXPECT_EQ(ru.dictionary.entryCount(n), count);
        EXPECT_EQ(ru.transcriptions.deleteAllConfirm(n), "Удалить " + count + "?");
    }
    EXPECT_EQ(en.menu.holdToDictate("Right ⌥"), "Hold Right ⌥ to dictate");
    EXPECT_EQ(ru.menu.holdToDictate("Right ⌥"), "Удерживайте Right ⌥ для диктовки");
    EXPECT_EQ(en.menu.downloadingModel(42), "Downloading model… 42%");
    EXPECT_EQ(ru.menu.downloadModel(716), "Загрузить модель Nemotron… (716 МБ)");
    EXPECT_EQ(en.settings.nemotronNote(31), "Nemotron 3.5 on ggml. Streams while you speak; 31 MB model, CPU or Metal.");
    EXPECT_EQ(ru.errors.localeUnsupported("ru_RU"), "Диктовка недоступна для ru_RU на этом Mac.");
    EXPECT_EQ(en.errors.modelInstallFailed("disk full"), "Couldn't install the speech model: disk full");
}

TEST(RussianPlural, ChoosesByTheLastTwoDigitsWhateverTheSign) {
    const auto form = [](std::int64_t n) { return russianPlural(n, "one", "few", "many"); };
    using N = std::vector<std::int64_t>;
    for (std::int64_t n : N{1, 21, 31, 101, 121, 1001, 100001, -1, -21, INT64_MIN + 7}) EXPECT_EQ(form(n), "one") << n;
    for (std::int64_t n : N{2, 3, 4, 22, 23, 24, 102, 1004, -3}) EXPECT_EQ(form(n), "few") << n;
    // |INT64_MIN| ends in 08, INT64_MAX in 07.
    for (std::int64_t n : N{0, 5, 9, 10, 11, 12, 13, 14, 15, 19, 20, 25, 100, 111, 112, 114, 1011, 1000, -11, INT64_MIN,
                           INT64_MAX})
        EXPECT_EQ(form(n), "many") << n;
}

}  // namespace
}  // namespace zarn
