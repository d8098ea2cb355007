// zarn correct: applies the user's dictionary corrections to a text.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <ostream>

#include "base/EventLoop.h"
#include "base/Unicode.h"
#include "cli/Command.h"
#include "cli/DictionaryOptions.h"
#include "dictionary/DictionaryStore.h"

namespace {

int runCorrect(zarn::cli::CommandContext& context) {
    auto& args = context.args;
    bool json = zarn::cli::takeFlag(args, "--json");
    auto file = zarn::cli::takeDictionaryOption(args);
    std::string text = zarn::cli::textArgumentOrStdin(args, context.in);
    if (!zarn::unicode::isValidUtf8(text)) throw std::runtime_error("the text is not valid UTF-8");

    zarn::EventLoop loop;
    zarn::DictionaryStore store(file.path, loop, false);
    zarn::cli::reportUnreadable(store, file, context.err);
    auto result = store.corrector().apply(text);

    if (json) {
        nlohmann::ordered_json applied = nlohmann::ordered_json::array();
        for (const auto& correction : result.applied) {
            applied.push_back({{"from", correction.from}, {"to", correction.to}, {"count", correction.count}});
        }
        nlohmann::ordered_json object{{"text", result.text}, {"applied", std::move(applied)}};
        context.out << object.dump() << "\n";
    } else {
        context.out << result.text;
        if (result.text.empty() || result.text.back() != '\n') context.out << "\n";
    }
    return 0;
}

zarn::cli::Registration reg{{"correct", "correct [--dictionary FILE] [--json] [TEXT]",
                             "Apply the dictionary's corrections to TEXT (or standard input).", &runCorrect}};

}  // namespace
