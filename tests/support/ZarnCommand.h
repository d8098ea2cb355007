#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace zarn::test {

struct CommandResult {
    int status = -1;  // exit status; -1 when it did not exit normally or could not start
    std::string out;
    std::string err;
};

struct CommandOptions {
    std::string input;                       // standard input
    std::map<std::string, std::string> env;  // set last, over the defaults below
    std::string stdoutPath;                  // an existing file or device for standard output
};

// Runs the built `zarn` with `args`. HOME and the XDG folders point inside `home`,
// LANG=en_US.UTF-8 and ZARN_LOG_STDERR=1; the caller's HOME, XDG_*, ZARN_*, LANG and LC_*
// are not passed on, so the command never sees the real home or a developer's settings.
CommandResult runZarn(const std::filesystem::path& home, const std::vector<std::string>& args,
                      const CommandOptions& options = {});

}  // namespace zarn::test
