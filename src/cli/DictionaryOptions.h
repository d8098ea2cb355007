#pragma once

// What the dictionary commands share: the --dictionary option and how they speak of the file.

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

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
    if (mustExist && !std::filesystem::exists(value, ec)) throw std::runtime_error("no such file: " + value);
    return {value, true};
}

// Tells the user when the file exists but could not be read (the dictionary is then empty).
inline void reportUnreadable(const DictionaryStore& store, const DictionaryFile& file, std::ostream& err) {
    if (store.isFileUnreadable()) {
        err << "warning: " << file.path.string() << " is not readable as UTF-8 text; the dictionary is empty\n";
    }
}

}  // namespace zarn::cli
