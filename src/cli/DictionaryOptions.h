#pragma once

// What the dictionary commands share: the --dictionary option and how they speak of the file.

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>

#include <sys/stat.h>

#include "base/Paths.h"
#include "cli/Command.h"
#include "dictionary/DictionaryStore.h"

namespace zarn::cli {

struct DictionaryFile {
    std::filesystem::path path;
    bool isExplicit = false;  // given with --dictionary
};

// Declares `--dictionary FILE` on a command; `value` stays empty when it is not given.
inline CLI::Option* addDictionaryOption(CLI::App& app, std::string& value) {
    return app.add_option("--dictionary", value, "Use FILE instead of the user's dictionary.")
        ->type_name("FILE")
        ->check([](const std::string& file) { return file.empty() ? std::string("needs a file name") : std::string(); });
}

// The file `--dictionary` named, or the store's own file when absent. An explicit file that
// does not exist is an error for commands that only read (`mustExist`).
inline DictionaryFile dictionaryFile(const std::string& value, bool mustExist = true) {
    if (value.empty()) return {DictionaryStore::fileURL(), false};
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
