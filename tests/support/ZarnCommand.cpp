#include "support/ZarnCommand.h"

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace zarn::test {

namespace {

std::vector<std::string> zarnArgv(const std::vector<std::string>& args) {
    const char* binaryDir = std::getenv("ZARN_BINARY_DIR");  // set by the test main
    std::vector<std::string> argv{std::string(binaryDir ? binaryDir : ".") + "/src/cli/zarn"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

ChildProcess::Options zarnOptions(const std::filesystem::path& home, const CommandOptions& options) {
    ChildProcess::Options child{.input = options.input, .outPath = options.stdoutPath};
    for (char** e = environ; *e; ++e) {
        const std::string name(*e, std::strchr(*e, '=') ? std::strchr(*e, '=') - *e : 0);
        if (name.starts_with("ZARN_") || name.starts_with("XDG_") || name.starts_with("LC_")) child.env[name] = std::nullopt;
    }
    child.env["HOME"] = home.string();
    child.env["XDG_CONFIG_HOME"] = (home / "config").string();
    child.env["XDG_DATA_HOME"] = (home / "data").string();
    child.env["LANG"] = "en_US.UTF-8";
    child.env["ZARN_LOG_STDERR"] = "1";
    for (const auto& [name, value] : options.env) child.env[name] = value;
    return child;
}

}  // namespace

CommandResult runZarn(const std::filesystem::path& home, const std::vector<std::string>& args,
                      const CommandOptions& options) {
    return ChildProcess::run(zarnArgv(args), zarnOptions(home, options), std::chrono::minutes(5));
}

std::unique_ptr<ChildProcess> startZarn(const std::filesystem::path& home, const std::vector<std::string>& args,
                                        const CommandOptions& options) {
    return std::make_unique<ChildProcess>(zarnArgv(args), zarnOptions(home, options));
}

}  // namespace zarn::test
