#pragma once

#include <functional>
#include <stdexcept>
#include <iosfwd>
#include <string>
#include <vector>

namespace zarn::cli {

struct CommandContext {
    std::vector<std::string> args;  // the words after the command's name
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

struct Command {
    std::string name;     // first word on the command line, e.g. "history"
    std::string usage;    // one or more lines shown by `zarn help`, e.g. "history list [--json]"
    std::string summary;  // one line
    std::function<int(CommandContext&)> run;
};

// Commands register themselves from their own source file:
//   static zarn::cli::Registration reg{{"correct", "correct [TEXT]", "...", &runCorrect}};
std::vector<Command>& registry();
struct Registration {
    explicit Registration(Command command);
};

// Small helpers shared by the commands.
// Removes `flag` from args if present; returns whether it was there.
bool takeFlag(std::vector<std::string>& args, const std::string& flag);
// Removes `option VALUE` (or `option=VALUE`) from args; returns the value if present.
// Throws UsageError when the option has no value.
bool takeOption(std::vector<std::string>& args, const std::string& option, std::string& value);
// Reads TEXT from the single remaining argument, or standard input when absent or "-".
std::string textArgumentOrStdin(const std::vector<std::string>& args, std::istream& in);

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace zarn::cli
