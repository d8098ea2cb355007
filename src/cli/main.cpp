#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "base/EventLoop.h"
#include "base/MainExecutor.h"
#include "cli/Command.h"
#include "platform/linux/inotify/InotifyFileWatcher.h"
#include "platform/linux/journald/JournalLog.h"
#include "speech/NemotronModels.h"

#ifndef ZARN_VERSION
#define ZARN_VERSION "0.0.0"
#endif

namespace {

using zarn::cli::commandPath;

constexpr int kUsageStatus = 2;

std::string usageLine(const CLI::App& app) {
    if (!app.get_parent()) return "usage: zarn [--version] COMMAND [OPTIONS] [ARGUMENTS]\n";
    return "usage: " + commandPath(app) + " " + zarn::cli::usage(app) + "\n";
}

class UsageFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string) const override { return usageLine(*app); }
    // A positional's name says what it is; CLI11 would add "TEXT" to it.
    std::string make_option_opts(const CLI::Option* option) const override {
        return option->get_positional() ? std::string() : CLI::Formatter::make_option_opts(option);
    }
};

// The command the line chose, as deep as parsing got (for its help and its errors).
const CLI::App* chosen(const CLI::App& app) {
    for (const CLI::App* sub : app.get_subcommands()) return chosen(*sub);
    return &app;
}

// Output that never reached its file is a failure, whatever the command answered: a full disk
// or a closed pipe must not end in status 0.
int checkedOutput(int status, const std::string& who) {
    errno = 0;
    std::cout.flush();
    if (std::cout.good()) return status;
    const int error = errno;
    std::cerr << who << ": could not write the output" << (error ? std::string(" (") + std::strerror(error) + ")" : "")
              << "\n";
    return status == 0 ? 1 : status;
}

int usageError(const CLI::App& app, const std::string& message) {
    std::cerr << commandPath(app) << ": " << message << "\n" << usageLine(app);
    return kUsageStatus;
}

int runCommand(CLI::App& app, std::vector<std::string> args) {
    // `zarn help [COMMAND...]` is another way of asking for --help.
    if (!args.empty() && args.front() == "help") {
        args.erase(args.begin());
        args.push_back("--help");
    }
    const std::string description = "Zarn " ZARN_VERSION " — push-to-talk dictation";
    app.description(description);
    app.formatter(std::make_shared<UsageFormatter>());
    app.set_help_flag("-h,--help", "Print this help and exit.");
    bool version = false;
    app.add_flag("--version", version, "Print the version and exit.");
    const zarn::cli::Runner run = zarn::cli::declareSubcommands(app, zarn::cli::registry());
    app.require_subcommand(0, 1);
    app.footer("Exit status: 0 done, 1 failed, 2 wrong usage, 3 no speech recognised (transcribe).\n"
               "See zarn(1) for the environment and files.");
    try {
        std::reverse(args.begin(), args.end());  // CLI11 takes the words last first
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        std::cout << chosen(app)->help();
        return 0;
    } catch (const CLI::ParseError& e) {
        return usageError(*chosen(app), e.what());
    }
    if (version) {
        std::cout << "zarn " ZARN_VERSION "\n";
        return 0;
    }
    if (app.get_subcommands().empty()) {
        std::cerr << app.help();
        return kUsageStatus;
    }
    zarn::cli::CommandContext context{std::cin, std::cout, std::cerr};
    const std::string who = commandPath(*app.get_subcommands().front());
    try {
        return run(context);
    } catch (const zarn::cli::UsageError& e) {
        return usageError(*chosen(app), e.what());
    } catch (const std::exception& e) {
        std::cerr << who << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    zarn::journald::install();
    zarn::inotify::install();
    // Shared services made on first use live on it; a command that uses one runs it.
    static zarn::EventLoop mainLoop;
    zarn::setMainExecutor(mainLoop);
    zarn::NemotronModels::useCommandLineTexts();
    CLI::App app("", "zarn");
    const int status = runCommand(app, std::vector<std::string>(argv + 1, argv + argc));
    const auto& parsed = app.get_subcommands();
    return checkedOutput(status, parsed.empty() ? std::string("zarn") : commandPath(*parsed.front()));
}
