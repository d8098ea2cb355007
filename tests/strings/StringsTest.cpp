#include "strings/Strings.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace zarn {
namespace {

struct TextRow {
    const char* field;
    std::function<const std::string&(const Strings&)> get;
    const char* english;
    const char* russian;
};

#define ROW(path, en, ru) TextRow{#path, [](const Strings& s) -> const std::string& { return s.path; }, en, ru}

// Every plain text of both tables, grouped as the tables are.
const std::vector<TextRow>& textRows() {
    static const std::vector<TextRow> rows{
        ROW(transport.record, "Record", "Запись"),
        ROW(transport.stop, "Stop", "Стоп"),

        ROW(tabs.transcriptions, "Transcriptions", "Расшифровки"),
        ROW(tabs.dictionary, "Dictionary", "Словарь"),

        ROW(transcriptions.searchPlaceholder, "Search transcriptions", "Поиск по расшифровкам"),
        ROW(transcriptions.emptyTitle, "No recordings", "Записей нет"),
        ROW(transcriptions.emptyDetail, "Press Record to start.", "Нажмите «Запись», чтобы начать."),
        ROW(transcriptions.noMatchesTitle, "No matches", "Ничего не найдено"),
        ROW(transcriptions.noMatchesDetail, "Try a different search.", "Попробуйте изменить запрос."),
        ROW(transcriptions.deleteAll, "Delete all", "Удалить все"),
        ROW(transcriptions.deleteAllButton, "Delete All", "Удалить все"),
        ROW(transcriptions.cancel, "Cancel", "Отмена"),
        ROW(transcriptions.cannotBeUndone, "This can't be undone.", "Это действие нельзя отменить."),
        ROW(transcriptions.copy, "Copy", "Копировать"),
        ROW(transcriptions.copied, "Copied", "Скопировано"),
        ROW(transcriptions.deleteThis, "Delete this transcription", "Удалить эту расшифровку"),
        ROW(transcriptions.corrected, "Corrected", "Исправлено"),

        ROW(dictionary.searchPlaceholder, "Search dictionary", "Поиск по словарю"),
        ROW(dictionary.emptyTitle, "Dictionary empty", "Словарь пуст"),
        ROW(dictionary.emptyDetail, "Add words it keeps getting wrong.",
            "Добавьте слова, в которых движок постоянно ошибается."),
        ROW(dictionary.noMatchesTitle, "No matches", "Ничего не найдено"),
        ROW(dictionary.noMatchesDetail, "Try a different search.", "Попробуйте изменить запрос."),
        ROW(dictionary.add, "Add", "Добавить"),
        ROW(dictionary.revealFile, "Reveal dictionary.txt", "Показать dictionary.txt"),
        ROW(dictionary.kindFix, "Fix", "Замена"),
        ROW(dictionary.kindTerm, "Term", "Термин"),
        ROW(dictionary.kindCorrection, "Correction", "Замена"),
        ROW(dictionary.edit, "Edit", "Изменить"),
        ROW(dictionary.turnOff, "Off", "Выкл"),
        ROW(dictionary.turnOn, "On", "Вкл"),
        ROW(dictionary.delete_, "Delete", "Удалить"),
        ROW(dictionary.newEntry, "New entry", "Новая запись"),
        ROW(dictionary.editEntry, "Edit entry", "Изменение записи"),
        ROW(dictionary.whenYouHear, "When you hear", "Когда слышится"),
        ROW(dictionary.write, "Write", "Писать"),
        ROW(dictionary.wordOrPhrase, "Word or phrase", "Слово или фраза"),
        ROW(dictionary.cancel, "Cancel", "Отмена"),
        ROW(dictionary.save, "Save", "Сохранить"),

        ROW(settings.pushToTalk, "Push to talk", "Клавиша диктовки"),
        ROW(settings.pushToTalkNote,
            "Hold this key anywhere to dictate. The window's Record button works regardless of what's focused.",
            "Удерживайте эту клавишу в любом приложении, чтобы диктовать. Кнопка «Запись» в окне работает "
            "независимо от того, что сейчас в фокусе."),
        ROW(settings.model, "Model", "Модель"),
        ROW(settings.appleNote, "Apple's on-device transcriber. Streams while you speak, but needs Apple Silicon.",
            "Встроенный движок Apple. Показывает текст по ходу речи, но требует Apple Silicon."),
        ROW(settings.cleanup, "Cleanup", "Обработка"),
        ROW(settings.cleanupToggle, "Clean up transcripts", "Очищать расшифровки"),
        ROW(settings.cleanupNote,
            "Strips fillers, fixes spacing and punctuation. The dictionary's corrections run either way.",
            "Убирает слова-паразиты, исправляет пробелы и пунктуацию. Замены из словаря применяются в любом "
            "случае."),
        ROW(settings.language, "Language", "Язык"),
        ROW(settings.languageNote,
            "Auto follows the system language. System permission prompts always follow the system language — "
            "macOS draws those, not the app.",
            "«Auto» следует языку системы. Системные запросы разрешений всегда на языке системы — их рисует "
            "macOS, а не приложение."),
        ROW(settings.appleUnavailable,
            "Not available on this Mac. Apple's transcriber needs Apple Silicon; on an Intel Mac it reports no "
            "supported languages at all. Use Nemotron instead — it runs here.",
            "Недоступен на этом Mac. Движок Apple требует Apple Silicon; на Intel он не поддерживает вообще ни "
            "одного языка. Используйте Nemotron — он здесь работает."),

        ROW(menu.pushToTalkKey, "Push-to-talk key", "Клавиша диктовки"),
        ROW(menu.engine, "Engine", "Движок"),
        ROW(menu.cleanUpText, "Clean up text", "Очищать текст"),
        ROW(menu.smartCleanup, "Smart cleanup (on-device AI)", "Умная очистка (ИИ на устройстве)"),
        ROW(menu.sound, "Sound", "Звук"),
        ROW(menu.revealDictionary, "Reveal Dictionary File", "Показать файл словаря"),
        ROW(menu.grantAccessibility, "Grant Accessibility…", "Выдать Универсальный доступ…"),
        ROW(menu.grantMicrophone, "Grant Microphone…", "Выдать доступ к микрофону…"),
        ROW(menu.quit, "Quit Zarn", "Завершить Zarn"),
        ROW(menu.checkForUpdates, "Check for Updates…", "Проверить обновления…"),
        ROW(menu.modelInstalled, "Nemotron model installed ✓", "Модель Nemotron установлена ✓"),

        ROW(hud.listening, "Listening…", "Слушаю…"),
        ROW(hud.transcribing, "Transcribing…", "Распознаю…"),

        ROW(errors.noAudioFormat, "No compatible audio format available for the speech engine.",
            "Нет подходящего аудиоформата для речевого движка."),
        ROW(errors.notRunning, "The transcription engine isn't running.", "Речевой движок не запущен."),
        ROW(errors.microphoneOff,
            "Microphone access is off. Enable it in System Settings ▸ Privacy & Security ▸ Microphone.",
            "Доступ к микрофону выключен. Включите его в Системных настройках ▸ Конфиденциальность и "
            "безопасность ▸ Микрофон."),
        ROW(errors.modelNotDownloaded,
            "The Nemotron model isn't downloaded yet — use “Download Nemotron model…” in the menu.",
            "Модель Nemotron ещё не загружена — выберите «Загрузить модель Nemotron…» в меню."),

        ROW(modelAvailability.deviceNotEligible, "This Mac doesn't support Apple Intelligence.",
            "Этот Mac не поддерживает Apple Intelligence."),
        ROW(modelAvailability.notEnabled, "Apple Intelligence is turned off in System Settings.",
            "Apple Intelligence отключён в Системных настройках."),
        ROW(modelAvailability.stillDownloading, "The on-device model is still downloading.",
            "Модель на устройстве ещё загружается."),
        ROW(modelAvailability.unavailable, "The on-device model is unavailable.", "Модель на устройстве недоступна."),

        ROW(sidebar.library, "Library", "Библиотека"),
    };
    return rows;
}

#undef ROW

TEST(StringsTables, EveryPlainTextInBothLanguages) {
    for (const auto& row : textRows()) {
        EXPECT_EQ(row.get(Strings::english()), row.english) << row.field;
        EXPECT_EQ(row.get(Strings::russian()), row.russian) << row.field;
    }
}

TEST(StringsTables, TableForResolvedLanguage) {
    EXPECT_EQ(&Strings::table(AppLanguage::Resolved::en), &Strings::english());
    EXPECT_EQ(&Strings::table(AppLanguage::Resolved::ru), &Strings::russian());
}

TEST(StringsTables, EnglishCounts) {
    const auto& t = Strings::english().transcriptions;
    EXPECT_EQ(t.recordingCount(1), "1 recording");
    EXPECT_EQ(t.recordingCount(0), "0 recordings");
    EXPECT_EQ(t.recordingCount(2), "2 recordings");
    EXPECT_EQ(t.recordingCount(21), "21 recordings");
    EXPECT_EQ(t.recordingCount(-1), "-1 recordings");
    EXPECT_EQ(t.recordingCount(1234567), "1234567 recordings");  // no grouping separators
    EXPECT_EQ(t.deleteAllConfirm(1), "Delete all 1 recordings?");
    EXPECT_EQ(t.deleteAllConfirm(12), "Delete all 12 recordings?");
    EXPECT_EQ(Strings::english().dictionary.entryCount(1), "1 entries");
    EXPECT_EQ(Strings::english().dictionary.entryCount(0), "0 entries");
}

TEST(StringsTables, RussianCountsTakeThePluralForm) {
    struct Case {
        std::int64_t n;
        const char* word;
    };
    const Case cases[] = {{0, "записей"},  {1, "запись"},    {2, "записи"},   {3, "записи"},   {4, "записи"},
                          {5, "записей"},  {11, "записей"},  {12, "записей"}, {14, "записей"}, {21, "запись"},
                          {22, "записи"},  {25, "записей"},  {101, "запись"}, {111, "записей"}, {1001, "запись"},
                          {-1, "запись"},  {-3, "записи"},   {-12, "записей"}};
    const auto& ru = Strings::russian();
    for (const auto& c : cases) {
        const std::string number = std::to_string(c.n);
        EXPECT_EQ(ru.transcriptions.recordingCount(c.n), number + " " + c.word) << c.n;
        EXPECT_EQ(ru.dictionary.entryCount(c.n), number + " " + c.word) << c.n;
        EXPECT_EQ(ru.transcriptions.deleteAllConfirm(c.n), "Удалить " + number + " " + c.word + "?") << c.n;
    }
    EXPECT_EQ(ru.transcriptions.recordingCount(21), "21 запись");
    EXPECT_EQ(ru.transcriptions.deleteAllConfirm(3), "Удалить 3 записи?");
}

TEST(StringsTables, TextAndPercentParameters) {
    const auto& en = Strings::english();
    const auto& ru = Strings::russian();
    EXPECT_EQ(en.menu.holdToDictate("Right ⌥"), "Hold Right ⌥ to dictate");
    EXPECT_EQ(ru.menu.holdToDictate("Right ⌥"), "Удерживайте Right ⌥ для диктовки");
    EXPECT_EQ(en.menu.downloadingModel(42), "Downloading model… 42%");
    EXPECT_EQ(ru.menu.downloadingModel(42), "Загрузка модели… 42%");
    EXPECT_EQ(en.menu.downloadModel(31), "Download Nemotron model… (31 MB)");
    EXPECT_EQ(ru.menu.downloadModel(716), "Загрузить модель Nemotron… (716 МБ)");
    EXPECT_EQ(en.settings.nemotronNote(31), "Nemotron 3.5 on ggml. Streams while you speak; 31 MB model, CPU or Metal.");
    EXPECT_EQ(ru.settings.nemotronNote(716), "Nemotron 3.5 на ggml. Показывает текст по ходу речи; модель 716 МБ, CPU или Metal.");
    EXPECT_EQ(en.errors.localeUnsupported("ru_RU"), "Dictation isn't available for ru_RU on this Mac.");
    EXPECT_EQ(ru.errors.localeUnsupported("ru_RU"), "Диктовка недоступна для ru_RU на этом Mac.");
    EXPECT_EQ(en.errors.modelInstallFailed("disk full"), "Couldn't install the speech model: disk full");
    EXPECT_EQ(ru.errors.modelInstallFailed("disk full"), "Не удалось установить речевую модель: disk full");
    // An empty argument still gives the whole sentence around it.
    EXPECT_EQ(en.menu.holdToDictate(""), "Hold  to dictate");
}

TEST(StringsTables, CopiesKeepTextsAndFunctions) {
    Strings copy = Strings::russian();
    copy.hud.listening = "changed";
    EXPECT_EQ(Strings::russian().hud.listening, "Слушаю…");
    EXPECT_EQ(copy.transcriptions.recordingCount(2), "2 записи");
    EXPECT_EQ(copy.errors.modelInstallFailed("x"), "Не удалось установить речевую модель: x");
}

TEST(RussianPlural, ChoosesByLastTwoDigits) {
    const auto form = [](std::int64_t n) { return russianPlural(n, "one", "few", "many"); };
    for (std::int64_t n : {1, 21, 31, 101, 121, 1001, 100001}) EXPECT_EQ(form(n), "one") << n;
    for (std::int64_t n : {2, 3, 4, 22, 23, 24, 102, 1004}) EXPECT_EQ(form(n), "few") << n;
    for (std::int64_t n : {0, 5, 9, 10, 11, 12, 13, 14, 15, 19, 20, 25, 100, 111, 112, 114, 1011, 1000})
        EXPECT_EQ(form(n), "many") << n;
}

TEST(RussianPlural, NegativeCountsAndExtremes) {
    const auto form = [](std::int64_t n) { return russianPlural(n, "one", "few", "many"); };
    EXPECT_EQ(form(-1), "one");
    EXPECT_EQ(form(-3), "few");
    EXPECT_EQ(form(-11), "many");
    EXPECT_EQ(form(-21), "one");
    // |INT64_MIN| = 9223372036854775808 ends in 08; INT64_MAX ends in 07.
    EXPECT_EQ(form(INT64_MIN), "many");
    EXPECT_EQ(form(INT64_MAX), "many");
    EXPECT_EQ(form(INT64_MIN + 7), "one");  // ...801
}

}  // namespace
}  // namespace zarn
