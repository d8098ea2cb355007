#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace zarn::test {

using CommandResult = ChildProcess::Result;

struct CommandOptions {
    std::string input;                       // standard input
    std::map<std::string, std::string> env;  // set last, over the defaults below
    std::string stdoutPath;                  // an existing file or device for standard output
};

// Runs the built `zarn` with `args` to its end. HOME and the XDG folders point inside `home`,
// LANG=en_US.UTF-8 and ZARN_LOG_STDERR=1; the caller's XDG_*, ZARN_* and LC_* are not passed
// on, so the command never sees the real home or a developer's settings.
CommandResult runZarn(const std::filesystem::path& home, const std::vector<std::string>& args,
                      const CommandOptions& options = {});
// The same, left running.
std::unique_ptr<ChildProcess> startZarn(const std::filesystem::path& home, const std::vector<std::string>& args,
                                        const CommandOptions& options = {});

}  // namespace zarn::test
