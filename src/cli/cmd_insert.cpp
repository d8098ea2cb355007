// zarn insert TEXT: puts TEXT into the focused window as a dictation would.

#include <chrono>
#include <iostream>
#include <iterator>
#include <optional>
#include <memory>

#include "base/EventLoop.h"
#include "cli/Command.h"
#include "inject/TextInjector.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/x11clipboard/ClipboardHandOver.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/wayland/SessionKeys.h"

namespace {

using namespace std::chrono_literals;

struct Options {
    std::string text = "-";
    int serveClipboard = -1;  // the descriptor that tells the parent the clipboard is being served
};

int runInsert(const Options& options, zarn::cli::CommandContext& context) {
    if (options.serveClipboard >= 0) {
        std::string bytes(std::istreambuf_iterator<char>(context.in), std::istreambuf_iterator<char>{});
        return zarn::x11::serveHandedOverClipboard(options.serveClipboard, bytes);
    }
    std::string text = zarn::cli::textArgumentOrStdin(options.text, context.in);
    if (text.empty()) return 0;

    zarn::EventLoop loop;
    zarn::atspi::AtspiAccessibility accessibility;
    auto waylandClipboard = zarn::wl::sessionDataControl();
    std::optional<zarn::x11::X11Clipboard> x11Clipboard;
    if (!waylandClipboard) x11Clipboard.emplace();
    zarn::inject::Pasteboard& clipboard =
        waylandClipboard ? static_cast<zarn::inject::Pasteboard&>(*waylandClipboard) : *x11Clipboard;
    auto keys = zarn::wl::sessionKeys();
    {
        zarn::TextInjector injector(accessibility, clipboard, *keys, loop);
        injector.insert(text);
        loop.runUntil([&] { return !injector.isPasting(); }, 10s);
    }
    if (waylandClipboard) return waylandClipboard->handOver() ? 0 : 1;
    std::string error;
    if (zarn::x11::handOverClipboard(*x11Clipboard, "/proc/self/exe", &error)) return 0;
    context.err << "zarn insert: " << error << "\n";
    return 1;
}

zarn::cli::Registration reg{{"insert", "Type a text into the focused window, as a dictation would.", [](CLI::App& app) {
    auto o = std::make_shared<Options>();
    app.add_option("TEXT", o->text, "The text; standard input when absent or -.");
    // The clipboard kept after exit is served by a copy of this program started with this option.
    app.add_option(std::string(zarn::x11::serveClipboardFlag), o->serveClipboard)->group("");
    return zarn::cli::Runner([o](auto& context) { return runInsert(*o, context); });
}}};

}  // namespace
