// zarn history: list, delete and clear the stored dictation runs.

#include <cstdio>
#include <memory>
#include <ostream>

#include "base/Dates.h"
#include "base/Uuid.h"
#include "cli/Command.h"
#include "history/RunJson.h"
#include "history/RunLog.h"

namespace zarn::cli {
namespace {

// The text on one line: line breaks shown as the symbol the history uses for them.
std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n') {
            out += " ⏎ ";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

int list(CommandContext& context, bool asJson) {
    RunLog log(RunLog::defaultFile());
    std::string error;
    auto runs = log.load(&error);
    if (!error.empty()) {
        context.err << "zarn history: " << error << "\n";
        return 1;
    }
    for (const auto& run : runs) {
        if (asJson) {
            if (auto line = encodeRunLine(run)) context.out << *line << '\n';
            continue;
        }
        char seconds[64];
        std::snprintf(seconds, sizeof seconds, "%.1f s + %.1f s", run.audioSeconds, run.processSeconds);
        context.out << run.id << "  " << formatIso8601(run.date) << "  " << run.engine << "  " << seconds << "\n    "
                    << oneLine(run.text) << "\n";
        if (run.corrections) {
            for (const auto& correction : *run.corrections) {
                context.out << "    " << correction.from << " → " << correction.to << " ×" << correction.count << "\n";
            }
        }
    }
    return 0;
}

int remove(const std::string& id, CommandContext& context) {
    if (!isUuid(id)) throw UsageError("'" + id + "' is not a run ID (8-4-4-4-12 hexadecimal digits)");
    RunLog log(RunLog::defaultFile());
    std::string error;
    auto removed = log.deleteRun(id, &error);
    if (!error.empty()) {
        context.err << "zarn history: " << error << "\n";
        return 1;
    }
    if (removed == 0) {
        context.err << "zarn history: no run with ID " << id << "\n";
        return 1;
    }
    return 0;
}

int clear(CommandContext& context) {
    RunLog log(RunLog::defaultFile());
    std::string error;
    if (!log.clear(&error)) {
        context.err << "zarn history: " << error << "\n";
        return 1;
    }
    return 0;
}

Registration reg{{"history", "Show the stored dictation runs, delete one by its ID, or delete all.", [](CLI::App& app) {
    Command listing{"list", "Print the runs, oldest first.", [](CLI::App& sub) {
        auto json = std::make_shared<bool>(false);
        sub.add_flag("--json", *json, "Print each run as one line of JSON, as stored.");
        return Runner([json](CommandContext& context) { return list(context, *json); });
    }};
    Command deletion{"delete", "Delete the run with this ID.", [](CLI::App& sub) {
        auto id = std::make_shared<std::string>();
        sub.add_option("ID", *id, "The run's ID, as `zarn history list` shows it.")->required();
        return Runner([id](CommandContext& context) { return remove(*id, context); });
    }};
    Command clearing{"clear", "Delete every run.", [](CLI::App&) { return Runner(&clear); }};
    return declareSubcommands(app, {listing, deletion, clearing});
}}};

}  // namespace
}  // namespace zarn::cli
