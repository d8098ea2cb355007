#include "cli/Command.h"

#include <istream>
#include <iterator>
#include <memory>

namespace zarn::cli {

std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}

Registration::Registration(Command command) { registry().push_back(std::move(command)); }

Runner declareSubcommands(CLI::App& app, const std::vector<Command>& subcommands) {
    auto runners = std::make_shared<std::vector<std::pair<CLI::App*, Runner>>>();
    for (const auto& command : subcommands) {
        CLI::App* sub = app.add_subcommand(command.name, command.summary);
        sub->group("Commands");
        runners->emplace_back(sub, command.declare(*sub));
    }
    app.require_subcommand(1);
    return [runners](CommandContext& context) {
        for (auto& [sub, run] : *runners) {
            if (sub->parsed()) return run(context);
        }
        throw UsageError("no command given");
    };
}

namespace {

bool shown(const CLI::Option* option) { return !option->get_group().empty(); }

std::string optionUsage(const CLI::Option* option) {
    std::string text = option->get_positional() ? option->get_name(true, false) : option->get_name(false, false);
    if (!option->get_positional() && !option->get_type_name().empty()) text += " " + option->get_type_name();
    return option->get_required() ? text : "[" + text + "]";
}

}  // namespace

std::string usage(const CLI::App& app) {
    std::string line;
    auto add = [&](const std::string& word) { line += (line.empty() ? "" : " ") + word; };
    const CLI::Option* help = app.get_help_ptr();
    for (const CLI::Option* option : app.get_options()) {
        if (option != help && shown(option) && option->nonpositional()) add(optionUsage(option));
    }
    for (const CLI::Option* option : app.get_options()) {
        if (shown(option) && option->get_positional()) add(optionUsage(option));
    }
    std::string names;
    for (const CLI::App* sub : app.get_subcommands({})) names += (names.empty() ? "" : "|") + sub->get_name();
    if (!names.empty()) add(app.get_require_subcommand_min() > 0 ? names : "[" + names + "]");
    return line;
}

std::string commandPath(const CLI::App& app) {
    const CLI::App* parent = app.get_parent();
    return parent ? commandPath(*parent) + " " + app.get_name() : app.get_name();
}

std::string textArgumentOrStdin(const std::string& text, std::istream& in) {
    if (text != "-") return text;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zarn::cli
