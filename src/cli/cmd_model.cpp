// zarn model status | download | pack --from DIR OUT.gguf
#include <unistd.h>

#include <cstdio>
#include <ostream>

#include "SphinxModel.h"
#include "base/Error.h"
#include "cli/Command.h"
#include "speech/ModelStore.h"

namespace zarn::cli {
namespace {

void drawBar(std::ostream& out, double fraction) {
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(fraction * kWidth + 0.5);
    out << "\r[";
    for (int i = 0; i < kWidth; ++i) out << (i < filled ? '#' : ' ');
    char percent[16];
    std::snprintf(percent, sizeof percent, "] %3d%%", static_cast<int>(fraction * 100 + 0.5));
    out << percent << std::flush;
}

int runModel(CommandContext& ctx) {
    auto& args = ctx.args;
    if (args.empty()) throw UsageError("expected status, download or pack");
    const std::string action = args[0];
    args.erase(args.begin());

    if (action == "status") {
        if (!args.empty()) throw UsageError("status takes no arguments");
        const ModelStore& store = ModelStore::shared();
        ctx.out << (store.isInstalled() ? "installed" : "not installed") << "\n"
                << store.modelURL().string() << "\n"
                << store.artifact().shownMegabytes << " MB from " << store.artifact().downloadURL << "\n";
        return 0;
    }
    if (action == "download") {
        if (!args.empty()) throw UsageError("download takes no arguments");
        const ModelStore& store = ModelStore::shared();
        const bool terminal = ::isatty(STDOUT_FILENO) == 1;
        if (terminal) ctx.out << "Downloading the speech model (" << store.artifact().shownMegabytes << " MB)\n";
        try {
            store.download([&](double fraction) {
                if (terminal) drawBar(ctx.out, fraction);
            });
        } catch (...) {
            if (terminal) ctx.out << "\n";
            ctx.err << "zarn model download: " << describeError(std::current_exception()) << "\n";
            return 1;
        }
        if (terminal) ctx.out << "\n";
        ctx.out << "installed\n" << store.modelURL().string() << "\n";
        return 0;
    }
    if (action == "pack") {
        std::string from, language;
        if (!takeOption(args, "--from", from)) throw UsageError("pack needs --from DIR");
        takeOption(args, "--language", language);
        if (args.size() != 1) throw UsageError("pack needs one output file");
        std::string error;
        if (!transcribe::sphinx::pack(from, args[0], language, error)) {
            ctx.err << "zarn model pack: " << error << "\n";
            return 1;
        }
        ctx.out << args[0] << "\n";
        return 0;
    }
    throw UsageError("unknown action '" + action + "'");
}

Registration reg{{"model",
                  "model status | model download | model pack --from DIR [--language CODE] OUT.gguf",
                  "Show, download or build the local speech model (pack: from an installed PocketSphinx model folder)",
                  &runModel}};

}  // namespace
}  // namespace zarn::cli
