// zarn correct: applies the user's dictionary corrections to a text.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <ostream>

#include "base/EventLoop.h"
#include "base/Unicode.h"
#include "cli/Command.h"
#include "cli/DictionaryOptions.h"
#include "dictionary/DictionaryStore.h"

namespace {

struct Options {
    bool json = false;
    std::string dictionary;
    std::string text = "-";
};

int runCorrect(const Options& options, zarn::cli::CommandContext& context) {
    auto file = zarn::cli::dictionaryFile(options.dictionary);
    std::string text = zarn::cli::textArgumentOrStdin(options.text, context.in);
    if (!zarn::unicode::isValidUtf8(text)) throw std::runtime_error("the text is not valid UTF-8");

    zarn::EventLoop loop;
    zarn::DictionaryStore store(file.path, loop, false);
    zarn::cli::reportUnreadable(store, file, context.err);
    auto result = store.corrector().apply(text);

    if (options.json) {
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

zarn::cli::Registration reg{{"correct", "Apply the dictionary's corrections to a text.", [](CLI::App& app) {
    auto o = std::make_shared<Options>();
    zarn::cli::addDictionaryOption(app, o->dictionary);
    app.add_flag("--json", o->json, "Print the text and the corrections applied as one JSON object.");
    app.add_option("TEXT", o->text, "The text; standard input when absent or -.");
    return zarn::cli::Runner([o](auto& context) { return runCorrect(*o, context); });
}}};

}  // namespace
