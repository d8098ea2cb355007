#include "platform/linux/desktop/Programs.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace zarn::desktop {

std::optional<std::filesystem::path> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty()) continue;
        std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (access(candidate.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(candidate)) return candidate;
    }
    return std::nullopt;
}

bool launchDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    auto program = findProgram(argv[0]);
    if (!program) return false;
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0) return false;
    const pid_t child = fork();
    if (child < 0) {
        close(status[0]);
        close(status[1]);
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls until exec. The grandchild is adopted by init.
        setsid();
        if (fork() != 0) _exit(0);
        execv(program->c_str(), args.data());
        const char failed = 1;
        [[maybe_unused]] auto n = write(status[1], &failed, 1);
        _exit(127);
    }
    close(status[1]);
    int ignored = 0;
    waitpid(child, &ignored, 0);
    // The pipe closes on a successful exec; a byte means exec failed.
    char failed = 0;
    const bool started = read(status[0], &failed, 1) == 0;
    close(status[0]);
    return started;
}

bool launchFirstInstalled(const std::vector<std::vector<std::string>>& candidates) {
    for (const auto& argv : candidates) {
        if (!argv.empty() && findProgram(argv[0]) && launchDetached(argv)) return true;
    }
    return false;
}

}  // namespace zarn::desktop
