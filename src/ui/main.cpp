// zarn-app: the desktop application. Builds the object graph on the Qt event loop and
// hands the logic to src/app; the widgets here only draw and forward clicks.

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QSocketNotifier>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <iostream>

#include "app/Application.h"
#include "app/InstanceMessage.h"
#include "app/Services.h"
#include "app/UpdateCheck.h"
#include "app/SettingsModel.h"
#include "app/DictionaryPanelModel.h"
#include "app/TranscriptionListModel.h"
#include "app/TrayMenu.h"
#include "audio/AudioCapture.h"
#include "base/Log.h"
#include "base/MainExecutor.h"
#include "base/SerialExecutor.h"
#include "cleanup/FoundationModelFormatter.h"
#include "dictation/DictationController.h"
#include "dictionary/DictionaryStore.h"
#include "history/RunStore.h"
#include "inject/TextInjector.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/canberra/CanberraSoundPlayer.h"
#include "platform/linux/desktop/LinuxPermissions.h"
#include "platform/linux/hotkeybackend/HotkeyBackend.h"
#include "platform/linux/inotify/InotifyFileWatcher.h"
#include "platform/linux/journald/JournalLog.h"
#include "platform/linux/http/HttpGet.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/x11clipboard/ClipboardHandOver.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/wayland/SessionKeys.h"
#include "settings/Settings.h"
#include "speech/ModelStore.h"
#include "speech/NemotronModels.h"
#include "systemspeech/AppleSpeechEngine.h"
#include "ui/Hud.h"
#include "ui/Icons.h"
#include "ui/MainWindow.h"
#include "ui/QtExecutor.h"
#include "ui/SettingsWindow.h"
#include "ui/SingleInstance.h"
#include "ui/TrayIcon.h"

namespace {

using namespace zarn;

// SIGINT and SIGTERM end the event loop normally, so the key's grab is always released.
class QuitOnSignals {
public:
    QuitOnSignals() {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) return;
        writeFd() = fds_[1];
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
        struct sigaction action {};
        action.sa_handler = [](int) {
            const char byte = 1;
            [[maybe_unused]] auto n = write(writeFd(), &byte, 1);
        };
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }

private:
    static int& writeFd() {
        static int fd = -1;
        return fd;
    }
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

constexpr const char* usage =
    "Usage: zarn-app [--background] [zarn://URL…]\n"
    "Push-to-talk dictation: hold the push-to-talk key in any application, speak, release.\n"
    "  --background  start without opening a window (for starting at login)\n"
    "  --version     print the version\n";

struct Arguments {
    bool background = false;
    std::vector<std::string> urls;
    std::string unknown;
};

Arguments parseArguments(const QStringList& list) {
    Arguments arguments;
    for (qsizetype i = 1; i < list.size(); ++i) {
        const std::string arg = list[i].toStdString();
        if (arg == "--background") {
            arguments.background = true;
        } else if (!arg.empty() && arg[0] == '-') {
            arguments.unknown = arg;
        } else {
            arguments.urls.push_back(arg);
        }
    }
    return arguments;
}

// The command-line program beside us (installed), or in the build tree's own folder for it.
std::filesystem::path zarnExecutable() {
    const std::filesystem::path here = QCoreApplication::applicationDirPath().toStdString();
    for (const auto& candidate : {here / "zarn", here.parent_path() / "cli" / "zarn"}) {
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return here / "zarn";
}

void showMessage(const std::string& title, const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(title), QString::fromStdString(text));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->open();
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they work without a display (a console, a package check).
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::cout << "zarn-app " << ZARN_VERSION << "\n";
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        }
    }
    // Under Wayland an ordinary client can neither place a window nor keep it from taking the
    // focus; through XWayland the HUD can. Programs we start choose for themselves.
    const bool forcedXcb = qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && qEnvironmentVariableIsSet("DISPLAY") &&
                           !qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    if (forcedXcb) qputenv("QT_QPA_PLATFORM", "xcb");
    journald::install();
    inotify::install();
    QApplication app(argc, argv);
    if (forcedXcb) qunsetenv("QT_QPA_PLATFORM");
    Log::app().info("windows through Qt's %{public}s platform%{public}s", QGuiApplication::platformName().toStdString(),
                    forcedXcb ? " (XWayland)" : "");
    QApplication::setApplicationName("zarn-app");
    QApplication::setApplicationVersion(ZARN_VERSION);
    QApplication::setDesktopFileName("zarn-app");
    QApplication::setWindowIcon(ui::applicationIcon());
    // A tray tool keeps running with no window open.
    QApplication::setQuitOnLastWindowClosed(false);

    const Arguments arguments = parseArguments(QApplication::arguments());
    if (!arguments.unknown.empty()) {
        std::cerr << usage << "zarn-app: unknown option " << arguments.unknown << "\n";
        return 2;
    }

    ui::QtExecutor main(&app);
    setMainExecutor(main);

    std::function<void(const std::vector<std::string>&)> onMessage;
    ui::SingleInstance instance([&onMessage](const std::vector<std::string>& args) {
        if (onMessage) onMessage(args);
    });
    std::string instanceError;
    switch (instance.start(arguments.urls, &instanceError)) {
    case ui::SingleInstance::Role::handedOver:
        return 0;
    case ui::SingleInstance::Role::failed:
        std::cerr << "zarn-app: " << instanceError << "\n";
        return 1;
    case ui::SingleInstance::Role::primary:
        break;
    }
    QuitOnSignals quitOnSignals;

    services::installSpeech();
    Settings& settings = Settings::shared();
    DictionaryStore& dictionary = DictionaryStore::shared();
    RunStore& runs = RunStore::shared();

    SerialExecutor background("zarn-feed");
    desktop::LinuxPermissions permissions({.backend = chooseHotkeyBackend(),
                                           .eventFile = evdevEventFile(),
                                           .strings = [&settings] { return settings.strings(); }});
    atspi::AtspiAccessibility accessibility;
    // Native Wayland windows see the clipboard through data-control where the compositor has it.
    auto waylandClipboard = wl::sessionDataControl();
    std::optional<x11::X11Clipboard> x11Clipboard;
    if (!waylandClipboard) x11Clipboard.emplace();
    inject::Pasteboard& clipboard = waylandClipboard ? static_cast<inject::Pasteboard&>(*waylandClipboard) : *x11Clipboard;
    auto keys = wl::sessionKeys();
    std::optional<TextInjector> injector(std::in_place, accessibility, clipboard, *keys, main);
    canberra::CanberraSoundPlayer sounds;
    auto languageModel = services::makeLanguageModel(settings.defaults());
    // The menu reads the model's availability from here at once; it never waits on the network.
    auto modelAvailability = std::make_shared<ModelAvailabilityCache>(languageModel, main);

    DictationController controller({
        .main = main,
        .background = background,
        .clock = SystemClock::shared(),
        .settings = settings,
        .microphone = permissions,
        .hotkey = makeHotkeyMonitor(main),
        .capture = std::make_unique<AudioCapture>(std::make_shared<PulseAudioInput>()),
        .makeEngine = services::engineForCurrentSetting(settings, main, dictionary),
        .formatter = nullptr,
        .makeFormatter = services::formatterFactory(main, languageModel, modelAvailability),
        .dictionary = dictionary,
        .recorder = runs,
        .inserter = *injector,
        .sounds = sounds,
    });

    Application application({
        .main = main,
        .settings = settings,
        .controller = controller,
        .permissions = permissions,
        .preloadEngine = services::preloadEngine,
        .clearHistory = [&runs] { runs.clear(); },
        .showMessage = showMessage,
    });

    Autostart autostart(Autostart::defaultFile());
    SettingsModel settingsModel({.settings = settings,
                                 .reloadHotkey = [&controller] { controller.reloadHotkey(); },
                                 .systemSpeechSupported = [] { return AppleSpeechEngine::isSupported(); },
                                 .autostart = autostart,
                                 .modelMegabytes = ModelStore::shared().artifact().shownMegabytes});
    // Made on first use; the main window reaches it through `openSettings` (Ctrl+,).
    std::unique_ptr<ui::SettingsWindow> settingsWindow;
    std::function<void()> openSettings = [&] {
        if (!settingsWindow) settingsWindow = std::make_unique<ui::SettingsWindow>(settingsModel);
        settingsWindow->showAndRaise();
    };
    auto strings = [&settings] { return settings.strings(); };
    TranscriptionListModel transcriptions({
        .main = main,
        .store = runs,
        .strings = strings,
        .copyText = [](const std::string& text) {
            QGuiApplication::clipboard()->clear();
            QGuiApplication::clipboard()->setText(QString::fromStdString(text));
        },
    });
    DictionaryPanelModel dictionaryPanel(dictionary, strings);
    ui::MainWindow window({
        .transcriptions = transcriptions,
        .dictionary = dictionaryPanel,
        .dictionaryFile = dictionary.file(),
        .strings = strings,
        .record = {.isActive = [&controller] { return controller.state().isActive(); },
                   .start = [&controller] { controller.startButtonRecording(); },
                   .stop = [&controller] { controller.stopButtonRecording(); }},
        .openSettings = [&openSettings] {
            if (openSettings) openSettings();
        },
        .quit = [] { QCoreApplication::quit(); },
    });
    auto windowFollowsState = controller.observeState(
        [&window, &controller](const DictationController::State&) { window.controllerChanged(controller.level()); });
    auto windowFollowsLevel = controller.observeLevel([&window](const float& level) { window.levelChanged(level); });
    auto windowFollowsLanguage = settings.observe([&window, &settings, shown = settings.language()]() mutable {
        if (settings.language() == shown) return;
        shown = settings.language();
        window.retranslate();
    });

    ModelDownload download(main, {.isDownloaded = [] { return NemotronModels::shared()->isDownloaded(); },
                                  .download = [](ModelDownload::Progress progress, Reply<std::exception_ptr> done) {
                                      NemotronModels::shared()->download(std::move(progress), std::move(done));
                                  },
                                  .shownMegabytes = ModelStore::shared().artifact().shownMegabytes});
    http::HttpGet http;
    UpdateChecker updates(UpdateChecker::configuredFeedUrl(), ZARN_VERSION,
                          [&http](std::string url, Reply<Result<std::string>> done) { http.get(std::move(url), std::move(done)); },
                          main);
    TrayMenu menu({
        .settings = settings,
        .controller = controller,
        .permissions = permissions,
        .model = download,
        .systemSpeechSupported = [] { return AppleSpeechEngine::isSupported(); },
        .smartCleanupAvailable = [modelAvailability] { return FoundationModelFormatter::isAvailable(*modelAvailability); },
        .smartCleanupUnavailableReason = [modelAvailability] {
            return FoundationModelFormatter::unavailableReason(*modelAvailability);
        },
        .openSettings = openSettings,
        .openWindow = [&window] { window.bringToFront(); },
        .checkForUpdates = [&updates, &main, &settings] {
            updates.check(Reply<UpdateCheckResult>(main, [&settings](UpdateCheckResult result) {
                showMessage("Zarn", describe(result, settings.strings()));
            }));
        },
        .quit = [] { QCoreApplication::quit(); },
        .showMessage = showMessage,
    });
    ui::TrayIcon tray(menu, controller, [modelAvailability] { modelAvailability->refreshAvailability(); });

    ui::HUDPanel hud(controller, settings, main, SystemClock::shared());
    application.launch(hud);
    tray.show();
    application.openUrls(arguments.urls);
    if (!arguments.background) window.bringToFront();
    // A second zarn-app started with nothing to open means the user wants the window.
    onMessage = [&application, &window](const std::vector<std::string>& args) {
        if (args.empty()) window.bringToFront();
        application.openUrls(args);
    };

    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&application] { application.terminate(); });
    const int status = QApplication::exec();

    // A paste's restore still pending is done now; whatever Zarn still serves on the clipboard
    // is handed on, so the user's clipboard never vanishes with us.
    injector.reset();
    std::string handOverError;
    if (waylandClipboard && !waylandClipboard->handOver()) Log::app().error("the clipboard could not be kept after exit");
    if (x11Clipboard && !x11::handOverClipboard(*x11Clipboard, zarnExecutable(), &handOverError)) {
        Log::app().error("the clipboard could not be kept after exit: %{public}s", handOverError);
    }
    return status;
}
