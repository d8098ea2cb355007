#include <algorithm>
#include <iostream>

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

}  // namespace

int main(int argc, char** argv) {
    zarn::NemotronModels::useCommandLineTexts();
    std::vector<std::string> args(argv + 1, argv + argc);
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
