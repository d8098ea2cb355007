#pragma once

// How a command joins `zarn`: every command is declared once, on a CLI::App, so its --help,
// its errors, zarn.1 and the bash completion all come from the same declaration.
//
// A command's source file registers it with a name, a one-line summary and a `declare`
// function. `declare` adds the options and positionals to the CLI::App it is given (bound to
// state it owns, usually a shared Options struct) and returns the Runner that acts once the
// line has been parsed:
//
//   struct Options { bool json = false; std::string text = "-"; };  // "-": read standard input
//   int run(const Options& o, zarn::cli::CommandContext& context) { ... return 0; }
//   zarn::cli::Registration reg{{"correct", "Apply the dictionary's corrections.", [](CLI::App& app) {
//       auto o = std::make_shared<Options>();
//       app.add_flag("--json", o->json, "Print the result as JSON.");
//       app.add_option("TEXT", o->text, "The text; standard input when absent or -.");
//       return zarn::cli::Runner([o](auto& context) { return run(*o, context); });
//   }}};
//
// A command without options ports from a plain `int run(CommandContext&)` as
//   zarn::cli::Registration reg{{"doctor", "Report what works.", [](CLI::App&) { return zarn::cli::Runner(&run); }}};
//
// A command with subcommands (`zarn history list`) declares them with declareSubcommands(),
// each a Command of its own. Checks CLI11 cannot express throw UsageError from the runner:
// status 2 with the usage on stderr, like a parse error. Any other exception is status 1.

#include <CLI/CLI.hpp>

#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace zarn::cli {

struct CommandContext {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

using Runner = std::function<int(CommandContext&)>;

struct Command {
    std::string name;     // the word on the command line, e.g. "history"
    std::string summary;  // one line, shown in `zarn --help` and the command's own help
    std::function<Runner(CLI::App&)> declare;
};

std::vector<Command>& registry();
struct Registration {
    explicit Registration(Command command);
};

// Adds each subcommand to `app` (one of them required) and returns the runner of the one chosen.
Runner declareSubcommands(CLI::App& app, const std::vector<Command>& subcommands);

// "[--smart] [TEXT]": the usage line of `app`, made from its declaration.
std::string usage(const CLI::App& app);
// "zarn history list": the words that name `app` on the command line.
std::string commandPath(const CLI::App& app);

// Reads TEXT from the argument, or standard input when absent or "-".
std::string textArgumentOrStdin(const std::string& text, std::istream& in);

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace zarn::cli
