#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "base/EventLoop.h"
#include "base/MainExecutor.h"
#include "cli/Command.h"
#include "speech/NemotronModels.h"

#ifndef ZARN_VERSION
#define ZARN_VERSION "0.0.0"
#endif

namespace {

void printHelp(std::ostream& out) {
    out << "Zarn " ZARN_VERSION " — push-to-talk dictation\n\n"
        << "Usage: zarn COMMAND [OPTIONS]\n\nCommands:\n";
    auto commands = zarn::cli::registry();
    std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const auto& command : commands) {
        out << "  " << command.usage << "\n      " << command.summary << "\n";
    }
    out << "  --version\n      Print the version.\n  --help\n      Print this help.\n";
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

int runCommand(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp(std::cout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        std::cout << "zarn " ZARN_VERSION "\n";
        return 0;
    }
    for (const auto& command : zarn::cli::registry()) {
        if (command.name != args[0]) continue;
        zarn::cli::CommandContext context{{args.begin() + 1, args.end()}, std::cin, std::cout, std::cerr};
        try {
            return command.run(context);
        } catch (const zarn::cli::UsageError& e) {
            std::cerr << "zarn " << command.name << ": " << e.what() << "\nusage: zarn " << command.usage << "\n";
            return 2;
        } catch (const std::exception& e) {
            std::cerr << "zarn " << command.name << ": " << e.what() << "\n";
            return 1;
        }
    }
    std::cerr << "zarn: unknown command '" << args[0] << "' (see zarn --help)\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Shared services made on first use live on it; a command that uses one runs it.
    static zarn::EventLoop mainLoop;
    zarn::setMainExecutor(mainLoop);
    zarn::NemotronModels::useCommandLineTexts();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int status = runCommand(args);
    const bool isCommand = !args.empty() && std::any_of(zarn::cli::registry().begin(), zarn::cli::registry().end(),
                                                        [&](const auto& command) { return command.name == args[0]; });
    return checkedOutput(status, isCommand ? "zarn " + args[0] : std::string("zarn"));
}
