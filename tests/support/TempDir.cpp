#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zarn::test {

TempDir::TempDir() {
    auto pattern = (std::filesystem::temp_directory_path() / "zarn-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {
const char* const kVars[3] = {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"};
}

ScopedXdgHome::ScopedXdgHome() {
    for (int i = 0; i < 3; ++i) {
        if (const char* v = std::getenv(kVars[i])) {
            had_[i] = true;
            saved_[i] = v;
        }
    }
    setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
    setenv("HOME", (root() / "home").c_str(), 1);
}

ScopedXdgHome::~ScopedXdgHome() {
    for (int i = 0; i < 3; ++i) {
        if (had_[i]) {
            setenv(kVars[i], saved_[i].c_str(), 1);
        } else {
            unsetenv(kVars[i]);
        }
    }
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace zarn::test
