// zarn history: list, delete and clear the stored dictation runs.

#include <cstdio>
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

int runHistory(CommandContext& context) {
    auto& args = context.args;
    if (args.empty()) throw UsageError("expected list, delete or clear");
    const std::string action = args[0];
    args.erase(args.begin());

    if (action == "list") {
        bool asJson = takeFlag(args, "--json");
        if (!args.empty()) throw UsageError("unexpected argument '" + args[0] + "'");
        return list(context, asJson);
    }
    if (action == "delete") {
        if (args.size() != 1) throw UsageError("expected one run ID");
        if (!isUuid(args[0])) throw UsageError("'" + args[0] + "' is not a run ID (8-4-4-4-12 hexadecimal digits)");
        RunLog log(RunLog::defaultFile());
        std::string error;
        auto removed = log.deleteRun(args[0], &error);
        if (!error.empty()) {
            context.err << "zarn history: " << error << "\n";
            return 1;
        }
        if (removed == 0) {
            context.err << "zarn history: no run with ID " << args[0] << "\n";
            return 1;
        }
        return 0;
    }
    if (action == "clear") {
        if (!args.empty()) throw UsageError("unexpected argument '" + args[0] + "'");
        RunLog log(RunLog::defaultFile());
        std::string error;
        if (!log.clear(&error)) {
            context.err << "zarn history: " << error << "\n";
            return 1;
        }
        return 0;
    }
    throw UsageError("unknown action '" + action + "'");
}

Registration reg{{"history", "history list [--json] | history delete ID | history clear",
                  "Show the stored dictation runs (oldest first), delete one by its ID, or delete all.",
                  &runHistory}};

}  // namespace
}  // namespace zarn::cli
