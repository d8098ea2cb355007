#include "cli/Command.h"

#include <algorithm>
#include <istream>
#include <iterator>

namespace zarn::cli {

std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}

Registration::Registration(Command command) { registry().push_back(std::move(command)); }

bool takeFlag(std::vector<std::string>& args, const std::string& flag) {
    auto it = std::find(args.begin(), args.end(), flag);
    if (it == args.end()) return false;
    args.erase(it);
    return true;
}

bool takeOption(std::vector<std::string>& args, const std::string& option, std::string& value) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it == option) {
            if (std::next(it) == args.end()) throw UsageError(option + " needs a value");
            value = *std::next(it);
            args.erase(it, it + 2);
            return true;
        }
        if (it->rfind(option + "=", 0) == 0) {
            value = it->substr(option.size() + 1);
            args.erase(it);
            return true;
        }
    }
    return false;
}

std::string textArgumentOrStdin(const std::vector<std::string>& args, std::istream& in) {
    if (args.size() > 1) throw UsageError("expected one TEXT argument (quote it)");
    if (!args.empty() && args[0] != "-") return args[0];
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zarn::cli
