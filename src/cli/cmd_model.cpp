// zarn model status | download | pack: the local speech model from the command line.
#include <unistd.h>

#include <cstdio>
#include <memory>
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

int status(CommandContext& ctx) {
    const ModelStore& store = ModelStore::shared();
    ctx.out << (store.isInstalled() ? "installed" : "not installed") << "\n"
            << store.modelURL().string() << "\n"
            << store.artifact().shownMegabytes << " MB from " << store.artifact().downloadURL << "\n";
    return 0;
}

int download(CommandContext& ctx) {
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

struct PackOptions {
    std::string from, language, out;
};

int pack(const PackOptions& options, CommandContext& ctx) {
    std::string error;
    if (!transcribe::sphinx::pack(options.from, options.out, options.language, error)) {
        ctx.err << "zarn model pack: " << error << "\n";
        return 1;
    }
    ctx.out << options.out << "\n";
    return 0;
}

Registration reg{{"model", "Show, download or build the local speech model.", [](CLI::App& app) {
    Command packing{"pack", "Build a model file from an installed PocketSphinx model folder.", [](CLI::App& sub) {
        auto o = std::make_shared<PackOptions>();
        sub.add_option("--from", o->from, "The PocketSphinx model folder.")->type_name("DIR")->required();
        sub.add_option("--language", o->language, "The language the model is for, e.g. en-US.")->type_name("CODE");
        sub.add_option("OUT", o->out, "The model file to write (.gguf).")->required();
        return Runner([o](CommandContext& context) { return pack(*o, context); });
    }};
    return declareSubcommands(
        app, {{"status", "Print whether the model is installed, where, and its download.",
               [](CLI::App&) { return Runner(&status); }},
              {"download", "Download and install the model, with a progress bar on a terminal.",
               [](CLI::App&) { return Runner(&download); }},
              packing});
}}};

}  // namespace
}  // namespace zarn::cli
