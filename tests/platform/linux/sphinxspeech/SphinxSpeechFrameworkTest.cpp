#include <gtest/gtest.h>

#include <filesystem>

#include <pocketsphinx.h>

#include "sphinx/PhraseBias.h"
#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"
#include "support/EngineDriver.h"
#include "support/TempDir.h"
#include "support/TestAudio.h"
#include "systemspeech/AppleSpeechEngine.h"

namespace zarn::sphinx {
namespace {

namespace fs = std::filesystem;
const fs::path kSystemModels = "/usr/share/pocketsphinx/model";

void makeModel(const fs::path& folder, bool complete = true) {
    fs::create_directories(folder / "acoustic");
    test::writeFile(folder / "acoustic" / "mdef", "x");
    test::writeFile(folder / "words.dict", "x");
    if (complete) test::writeFile(folder / "words.lm.bin", "x");
    test::writeFile(folder / "words-phone.lm.bin", "x");
}

TEST(SphinxLocaleModels, FindsCompleteModelsAndPrefersTheUserFolder) {
    test::TempDir user, system;
    makeModel(user.path() / "de-de");
    makeModel(user.path() / "fr-fr", false);  // no language model: not a model
    makeModel(system.path() / "de-DE");
    makeModel(system.path() / "en-us");
    makeModel(system.path() / "not a locale");
    fs::create_directories(system.path() / "ru-ru");

    const auto models = findLocaleModels({user.path(), system.path(), user.path() / "missing"});
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0].identifier, "de-DE");
    EXPECT_EQ(models[0].folder, user.path() / "de-de");
    EXPECT_EQ(models[0].languageModel, user.path() / "de-de" / "words.lm.bin");
    EXPECT_EQ(models[0].acousticModel, user.path() / "de-de" / "acoustic");
    EXPECT_EQ(models[1].identifier, "en-US");

    SphinxSpeechFramework framework({user.path(), system.path()});
    EXPECT_TRUE(framework.isAvailable());
    EXPECT_EQ(framework.installedLocales(), (std::vector<std::string>{"de-DE", "en-US"}));
    EXPECT_EQ(framework.supportedLocale("en_US.UTF-8"), "en-US");
    EXPECT_EQ(framework.supportedLocale("en-GB"), "en-US");
    EXPECT_EQ(framework.supportedLocale("de"), "de-DE");
    EXPECT_EQ(framework.supportedLocale("ja-JP"), std::nullopt);

    // A locale without a model cannot be installed from anywhere: the error says where to put it.
    auto transcriber = framework.makeTranscriber("ja-JP");
    try {
        framework.assetInstallationRequest(*transcriber);
        FAIL() << "expected an error";
    } catch (const MessageError& e) {
        EXPECT_NE(e.errorDescription().find("no speech model for ja-JP is installed"), std::string::npos);
        EXPECT_NE(e.errorDescription().find((user.path() / "ja-JP").string()), std::string::npos);
    }

    test::TempDir empty;
    SphinxSpeechFramework none({empty.path()});
    EXPECT_FALSE(none.isAvailable());
}

// Biasing adds unknown words to the decoder and keeps plain speech intact; the next dictation
// on the same decoder starts from nothing.
TEST(SphinxRecognition, BiasedDictationThenAFreshOneOnTheSameDecoder) {
    DecoderConfig config;
    config.acousticModelDir = (kSystemModels / "en-us" / "en-us").string();
    config.dictionaryPath = (kSystemModels / "en-us" / "cmudict-en-us.dict").string();
    config.languageModelPath = (kSystemModels / "en-us" / "en-us.lm.bin").string();
    std::string error;
    auto decoder = StreamingDecoder::open(config, error);
    ASSERT_TRUE(decoder) << error;
    EXPECT_EQ(decoder->lookupWord("Zarnify"), "");
    ASSERT_TRUE(applyPhraseBias(*decoder, {"Zarnify the PostgreSQL cluster", "meters"}, 0.2f, error)) << error;
    EXPECT_NE(decoder->lookupWord("Zarnify"), "");
    EXPECT_NE(decoder->lookupWord("PostgreSQL"), "");
    // The same phrases again reuse the biased model; other phrases build a new one.
    ngram_model_t* built = ps_get_lm(decoder->rawDecoder(), "zarn-bias");
    clearPhraseBias(*decoder);
    ASSERT_TRUE(applyPhraseBias(*decoder, {"Zarnify the PostgreSQL cluster", "meters"}, 0.2f, error)) << error;
    EXPECT_EQ(ps_get_lm(decoder->rawDecoder(), "zarn-bias"), built);
    ASSERT_TRUE(applyPhraseBias(*decoder, {"Zarnify the PostgreSQL cluster"}, 0.2f, error)) << error;
    EXPECT_NE(ps_get_lm(decoder->rawDecoder(), "zarn-bias"), built);
    // Nothing usable in the phrases: the decoder keeps its plain model.
    EXPECT_FALSE(applyPhraseBias(*decoder, {"...", "!!"}, 0.2f, error));
    EXPECT_EQ(error, "no usable words in the phrases");

    ManualExecutor main;
    auto framework = std::make_shared<SphinxSpeechFramework>(std::vector<fs::path>{kSystemModels});
    auto biased = std::make_shared<AppleSpeechEngine>(
        framework, "en-US", [](Reply<std::vector<std::string>> reply) { reply({"Kubernetes", "Zarn dictation"}); });
    test::EngineDriver first(*biased, main, std::chrono::seconds(120));
    EXPECT_EQ(first.preferredFormat(), AudioFormat::monoFloat(16000));
    ASSERT_EQ(first.start(), nullptr);
    first.feedAll(test::rawSpeech());
    EXPECT_EQ(first.finish(), "go forward ten meters");
    EXPECT_FALSE(first.error);
    ASSERT_GE(first.chunks.size(), 2u);
    for (std::size_t i = 0; i < first.chunks.size(); ++i) EXPECT_EQ(first.chunks[i].isFinal, i + 1 == first.chunks.size());

    auto plain = std::make_shared<AppleSpeechEngine>(framework, "en_US.UTF-8");
    test::EngineDriver next(*plain, main, std::chrono::seconds(120));
    ASSERT_EQ(next.start(), nullptr);
    next.feed(test::constantAudio(AudioFormat::monoFloat(16000), 16000, {0.0f}));
    EXPECT_EQ(next.finish(), "");
}

TEST(SphinxRecognition, PhraseModelIsWellFormed) {
    const std::string arpa = phraseLanguageModel({{"Zarn", "dictation"}, {"Zarn"}});
    EXPECT_NE(arpa.find("ngram 1=4\nngram 2=4\n"), std::string::npos) << arpa;
    EXPECT_NE(arpa.find(" <s> Zarn\n"), std::string::npos);
    EXPECT_NE(arpa.find(" Zarn dictation\n"), std::string::npos);
    EXPECT_NE(arpa.find(" Zarn </s>\n"), std::string::npos);
    EXPECT_NE(arpa.find(" dictation </s>\n"), std::string::npos);
    EXPECT_EQ(phraseWords("  «Node.js», (don't) -- GPT-4! "), (std::vector<std::string>{"Node.js", "don't", "GPT-4"}));
}

}  // namespace
}  // namespace zarn::sphinx
