#include "strings/Strings.h"

namespace zarn {

namespace {

std::string records(std::int64_t n) {
    return russianPlural(n, "запись", "записи", "записей");
}

}  // namespace

const Strings& Strings::russian() {
    static const Strings table{
        .transport = {
            .record = "Запись",
            .stop = "Стоп",
        },
        .tabs = {
            .transcriptions = "Расшифровки",
            .dictionary = "Словарь",
        },
        .transcriptions = {
            .searchPlaceholder = "Поиск по расшифровкам",
            .emptyTitle = "Записей нет",
            .emptyDetail = "Нажмите «Запись», чтобы начать.",
            .noMatchesTitle = "Ничего не найдено",
            .noMatchesDetail = "Попробуйте изменить запрос.",
            .recordingCount = [](std::int64_t n) { return std::to_string(n) + " " + records(n); },
            .deleteAll = "Удалить все",
            .deleteAllConfirm = [](std::int64_t n) {
                return "Удалить " + std::to_string(n) + " " + records(n) + "?";
            },
            .deleteAllButton = "Удалить все",
            .cancel = "Отмена",
            .cannotBeUndone = "Это действие нельзя отменить.",
            .copy = "Копировать",
            .copied = "Скопировано",
            .deleteThis = "Удалить эту расшифровку",
            .corrected = "Исправлено",
        },
        .dictionary = {
            .searchPlaceholder = "Поиск по словарю",
            .emptyTitle = "Словарь пуст",
            .emptyDetail = "Добавьте слова, в которых движок постоянно ошибается.",
            .noMatchesTitle = "Ничего не найдено",
            .noMatchesDetail = "Попробуйте изменить запрос.",
            .add = "Добавить",
            .entryCount = [](std::int64_t n) { return std::to_string(n) + " " + records(n); },
            .revealFile = "Показать dictionary.txt",
            .kindFix = "Замена",
            .kindTerm = "Термин",
            .kindCorrection = "Замена",
            .edit = "Изменить",
            .turnOff = "Выкл",
            .turnOn = "Вкл",
            .delete_ = "Удалить",
            .newEntry = "Новая запись",
            .editEntry = "Изменение записи",
            .whenYouHear = "Когда слышится",
            .write = "Писать",
            .wordOrPhrase = "Слово или фраза",
            .cancel = "Отмена",
            .save = "Сохранить",
        },
        .settings = {
            .pushToTalk = "Клавиша диктовки",
            .pushToTalkNote = "Удерживайте эту клавишу в любом приложении, чтобы диктовать. "
                              "Кнопка «Запись» в окне работает независимо от того, что сейчас в фокусе.",
            .model = "Модель",
            .appleNote = "Встроенный движок Apple. "
                         "Показывает текст по ходу речи, но требует Apple Silicon.",
            .nemotronNote = [](std::int64_t megabytes) {
                return "Nemotron 3.5 на ggml. Показывает текст по ходу речи; модель " + std::to_string(megabytes) +
                       " МБ, CPU или Metal.";
            },
            .cleanup = "Обработка",
            .cleanupToggle = "Очищать расшифровки",
            .cleanupNote = "Убирает слова-паразиты, исправляет пробелы и пунктуацию. "
                           "Замены из словаря применяются в любом случае.",
            .language = "Язык",
            .languageNote = "«Auto» следует языку системы. "
                            "Системные запросы разрешений всегда на языке системы — "
                            "их рисует macOS, а не приложение.",
            .appleUnavailable = "Недоступен на этом Mac. "
                                "Движок Apple требует Apple Silicon; "
                                "на Intel он не поддерживает вообще ни одного языка. "
                                "Используйте Nemotron — он здесь работает.",
            .title = "Настройки Zarn",
            .startAtLogin = "Запуск при входе",
            .startAtLoginToggle = "Запускать Zarn при входе в систему",
            .startAtLoginNote = "Zarn ждёт в трее и не открывает окно.",
        },
        .menu = {
            .holdToDictate = [](const std::string& key) {
                return "Удерживайте " + key + " для диктовки";
            },
            .pushToTalkKey = "Клавиша диктовки",
            .engine = "Движок",
            .cleanUpText = "Очищать текст",
            .smartCleanup = "Умная очистка (ИИ на устройстве)",
            .sound = "Звук",
            .revealDictionary = "Показать файл словаря",
            .openWindow = "Открыть Zarn",
            .settings = "Настройки…",
            .grantAccessibility = "Выдать Универсальный доступ…",
            .grantMicrophone = "Выдать доступ к микрофону…",
            .quit = "Завершить Zarn",
            .checkForUpdates = "Проверить обновления…",
            .downloadModel = [](std::int64_t megabytes) {
                return "Загрузить модель Nemotron… (" + std::to_string(megabytes) + " МБ)";
            },
            .modelInstalled = "Модель Nemotron установлена ✓",
            .downloadingModel = [](std::int64_t percent) {
                return "Загрузка модели… " + std::to_string(percent) + "%";
            },
        },
        .hud = {
            .listening = "Слушаю…",
            .transcribing = "Распознаю…",
        },
        .errors = {
            .localeUnsupported = [](const std::string& locale) {
                return "Диктовка недоступна для " + locale + " на этом Mac.";
            },
            .modelInstallFailed = [](const std::string& cause) {
                return "Не удалось установить речевую модель: " + cause;
            },
            .noAudioFormat = "Нет подходящего аудиоформата для речевого движка.",
            .notRunning = "Речевой движок не запущен.",
            .microphoneOff = "Доступ к микрофону выключен. "
                             "Включите его в Системных настройках ▸ Конфиденциальность и безопасность ▸ Микрофон.",
            .modelNotDownloaded = "Модель Nemotron ещё не загружена — "
                                  "выберите «Загрузить модель Nemotron…» в меню.",
        },
        .modelAvailability = {
            .deviceNotEligible = "Этот Mac не поддерживает Apple Intelligence.",
            .notEnabled = "Apple Intelligence отключён в Системных настройках.",
            .stillDownloading = "Модель на устройстве ещё загружается.",
            .unavailable = "Модель на устройстве недоступна.",
        },
        .sidebar = {
            .library = "Библиотека",
        },
        .desktop = {
            .keyboardAccessHelp =
                "Zarn читает клавишу диктовки с клавиатур в /dev/input и печатает через /dev/uinput. "
                "Разрешите вашему пользователю доступ к ним, затем выйдите из сеанса и войдите снова:\n\n"
                "sudo usermod -aG input $USER\n"
                "echo 'KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\", OPTIONS+=\"static_node=uinput\"' | "
                "sudo tee /etc/udev/rules.d/60-zarn-uinput.rules\n"
                "sudo udevadm control --reload-rules && sudo udevadm trigger"
                "\n\nЗапустите zarn doctor в терминале, чтобы увидеть, чего ещё не хватает в этом сеансе.",
            .keyGrabHelp = "Zarn не смог получить клавишу диктовки от X-сервера. Возможно, её занимает другая "
                           "программа: закройте её или выберите другую клавишу в меню."
                           "\n\nЗапустите zarn doctor в терминале, чтобы увидеть, чего ещё не хватает в этом сеансе.",
            .microphoneHelp = "Программа настройки звука не найдена. Установите её, чтобы выбрать и включить "
                              "микрофон, например: sudo apt install pavucontrol"
                              "\n\nЗапустите zarn doctor в терминале, чтобы увидеть, чего ещё не хватает в этом сеансе.",
        },
        .updates = {
            .fromPackageManager = "Zarn обновляется менеджером пакетов. Новые версии устанавливайте через него.",
            .upToDate = [](const std::string& version) {
                return "Установлена последняя версия: Zarn " + version + ".";
            },
            .newerVersion = [](const std::string& version) {
                return "Доступна новая версия: Zarn " + version + ".";
            },
            .checkFailed = [](const std::string& reason) {
                return "Не удалось проверить обновления: " + reason + ".";
            },
            .serverUnreachable = [](const std::string& cause) {
                return "сервер обновлений недоступен (" + cause + ")";
            },
            .serverStatus = [](std::int64_t status) {
                return "сервер обновлений ответил кодом HTTP " + std::to_string(status);
            },
            .feedMalformed = "лента обновлений не является корректным документом RSS",
            .feedEmpty = "в ленте обновлений нет ни одной версии",
            .feedTooLarge = "лента обновлений больше 1 МиБ",
        },
    };
    return table;
}

}  // namespace zarn
