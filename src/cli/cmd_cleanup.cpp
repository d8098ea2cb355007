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

int runCleanup(zarn::cli::CommandContext& context) {
    auto args = context.args;
    bool smart = zarn::cli::takeFlag(args, "--smart");
    std::string text = zarn::cli::textArgumentOrStdin(args, context.in);
    if (!smart) {
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

zarn::cli::Registration reg{{"cleanup", "cleanup [--smart] [TEXT]",
                             "Clean up TEXT (or standard input) by the rules; with --smart by the local language "
                             "model server (ZARN_LLM_URL, ZARN_LLM_MODEL or the settings llmURL, llmModel), falling back to the rules.",
                             &runCleanup}};

}  // namespace
