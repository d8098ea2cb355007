#pragma once

#include <filesystem>
#include <string>

#include "support/ScopedEnv.h"

namespace zarn::test {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Points XDG_DATA_HOME, XDG_CONFIG_HOME and HOME at a temporary folder for the lifetime
// of the object, so no test reads or writes the real home.
class ScopedXdgHome {
public:
    ScopedXdgHome();
    const std::filesystem::path& root() const { return dir_.path(); }
    std::filesystem::path dataHome() const { return dir_.path() / "data"; }
    std::filesystem::path configHome() const { return dir_.path() / "config"; }

private:
    TempDir dir_;
    ScopedEnv env_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace zarn::test
