#pragma once

// What the dictionary commands share: the --dictionary option and how they speak of the file.

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "base/Paths.h"
#include "cli/Command.h"
#include "dictionary/DictionaryStore.h"

namespace zarn::cli {

struct DictionaryFile {
    std::filesystem::path path;
    bool isExplicit = false;  // given with --dictionary
};

// Takes `--dictionary FILE` from args; the store's own file when absent. An explicit file
// that does not exist is an error for commands that only read (`mustExist`).
inline DictionaryFile takeDictionaryOption(std::vector<std::string>& args, bool mustExist = true) {
    std::string value;
    if (!takeOption(args, "--dictionary", value)) return {DictionaryStore::fileURL(), false};
    if (value.empty()) throw UsageError("--dictionary needs a file name");
    std::error_code ec;
    auto status = std::filesystem::status(value, ec);
    if (mustExist && !std::filesystem::exists(status)) throw std::runtime_error("no such file: " + value);
    // A FIFO would block the read and a device never end it.
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        struct stat st {};
        ::stat(value.c_str(), &st);
        throw std::runtime_error(paths::notRegularFile(value, st.st_mode));
    }
    return {value, true};
}

// Tells the user when the file exists but could not be read, and why (the dictionary is then empty).
inline void reportUnreadable(const DictionaryStore& store, const DictionaryFile&, std::ostream& err) {
    if (store.isFileUnreadable()) err << "warning: " << store.unreadableReason() << "; the dictionary is empty\n";
}

}  // namespace zarn::cli
