// zarn insert TEXT: puts TEXT into the focused window as a dictation would.

#include <chrono>
#include <iostream>
#include <iterator>
#include <optional>

#include "base/EventLoop.h"
#include "cli/Command.h"
#include "inject/TextInjector.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/x11clipboard/ClipboardHandOver.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/wayland/SessionKeys.h"

namespace {

using namespace std::chrono_literals;

int serveClipboard(const std::vector<std::string>& args, std::istream& in) {
    if (args.size() != 1) throw zarn::cli::UsageError("internal use only");
    std::string bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
    return zarn::x11::serveHandedOverClipboard(std::stoi(args[0]), bytes);
}

int runInsert(zarn::cli::CommandContext& context) {
    auto args = context.args;
    if (zarn::cli::takeFlag(args, std::string(zarn::x11::serveClipboardFlag))) return serveClipboard(args, context.in);
    std::string text = zarn::cli::textArgumentOrStdin(args, context.in);
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

zarn::cli::Registration reg{{"insert", "insert [TEXT]",
                             "Type TEXT (or standard input) into the focused window, as a dictation would.",
                             &runInsert}};

}  // namespace
