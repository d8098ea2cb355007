// zarn cleanup [--smart] [TEXT]: the cleanup a dictation gets, on any text.
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "base/EventLoop.h"
#include "cleanup/FoundationModelFormatter.h"
#include "cleanup/RuleBasedFormatter.h"
#include "cli/Command.h"
#include "platform/linux/llm/OpenAICompatibleModel.h"

namespace {

struct Options {
    bool smart = false;
    std::string text = "-";
};

int runCleanup(const Options& options, zarn::cli::CommandContext& context) {
    std::string text = zarn::cli::textArgumentOrStdin(options.text, context.in);
    if (!options.smart) {
        context.out << zarn::RuleBasedFormatter::formatted(text) << "\n";
        return 0;
    }
    zarn::EventLoop loop;
    auto model = std::make_shared<zarn::llm::OpenAICompatibleModel>(zarn::llm::LlmServerConfig::forThisUser());
    std::optional<std::string> result;
    zarn::FoundationModelFormatter formatter(model, loop);
    formatter.format(text, zarn::Reply<std::string>(loop, [&](std::string cleaned) {
                         result = std::move(cleaned);
                         loop.quit();
                     }));
    loop.run();
    context.out << result.value_or(zarn::RuleBasedFormatter::formatted(text)) << "\n";
    return 0;
}

zarn::cli::Registration reg{{"cleanup", "Clean up a text as a dictation's text is cleaned up.", [](CLI::App& app) {
    auto o = std::make_shared<Options>();
    app.add_flag("--smart", o->smart,
                 "Clean up by the local language-model server (ZARN_LLM_URL, ZARN_LLM_MODEL or the settings llmURL, "
                 "llmModel), falling back to the rules.");
    app.add_option("TEXT", o->text, "The text; standard input when absent or -.");
    return zarn::cli::Runner([o](auto& context) { return runCleanup(*o, context); });
}}};

}  // namespace
