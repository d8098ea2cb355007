#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zarn::desktop {

// The program's path when it is on PATH and executable.
std::optional<std::filesystem::path> findProgram(const std::string& name);

// Starts `argv` detached from us (its own session, reaped at once), so it outlives Zarn and
// never becomes a zombie. False when it could not be started.
bool launchDetached(const std::vector<std::string>& argv);

// Starts the first of `candidates` whose program is installed; false when none is.
bool launchFirstInstalled(const std::vector<std::vector<std::string>>& candidates);

}  // namespace zarn::desktop
