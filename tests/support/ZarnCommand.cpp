#include "support/ZarnCommand.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/TempDir.h"

extern char** environ;

namespace zarn::test {

CommandResult runZarn(const std::filesystem::path& home, const std::vector<std::string>& args,
                      const CommandOptions& options) {
    const char* binaryDir = std::getenv("ZARN_BINARY_DIR");  // set by the test main
    const std::string binary = std::string(binaryDir ? binaryDir : ".") + "/src/cli/zarn";

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        if (name.rfind("ZARN_", 0) == 0 || name.rfind("XDG_", 0) == 0 || name == "HOME" || name.rfind("LC_", 0) == 0 ||
            name == "LANG") {
            continue;
        }
        env[name] = entry.substr(eq + 1);
    }
    env["HOME"] = home.string();
    env["XDG_CONFIG_HOME"] = (home / "config").string();
    env["XDG_DATA_HOME"] = (home / "data").string();
    env["LANG"] = "en_US.UTF-8";
    env["ZARN_LOG_STDERR"] = "1";
    for (const auto& [name, value] : options.env) env[name] = value;

    std::vector<std::string> envStrings;
    for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{binary};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    // Files rather than pipes: nothing can deadlock on a full pipe.
    TempDir io;
    writeFile(io / "in", options.input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (io / "in").c_str(), O_RDONLY, 0);
    if (options.stdoutPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, (io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(), O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    CommandResult result;
    pid_t pid = 0;
    int rc = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = "cannot start " + binary + ": " + std::strerror(rc);
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (options.stdoutPath.empty()) result.out = readFile(io / "out");
    result.err = readFile(io / "err");
    return result;
}

}  // namespace zarn::test
