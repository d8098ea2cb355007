#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

const std::string kGoForward = "/usr/share/pocketsphinx/test/data/goforward.raw";
const std::string kClip = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";

using Outcome = test::CommandResult;

Outcome runZarn(const test::TempDir& home, const std::vector<std::string>& args) {
    return test::runZarn(home.path(), args);
}

TEST(CmdTranscribe, RecognisesARecordingWithCleanupAndDictionary) {
    test::TempDir home;
    // The system engine by default, rule-based cleanup on.
    Outcome plain = runZarn(home, {"transcribe", "--engine", "apple", "--raw-rate", "16000", kGoForward});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "Go forward ten meters.\n");
    EXPECT_EQ(plain.err.find("biasing"), std::string::npos);  // an empty dictionary: no biasing

    Outcome raw = runZarn(home, {"transcribe", "--engine", "apple", "--no-cleanup", "--raw-rate", "16000", kGoForward});
    EXPECT_EQ(raw.out, "go forward ten meters\n");

    // Corrections run after cleanup; the written sides of both entries bias the engine.
    test::writeFile(home / "dict.txt", "forward ten -> forward 10\nPostgreSQL\n");
    Outcome corrected = runZarn(home, {"transcribe", "--engine", "apple", "--dictionary", (home / "dict.txt").string(),
                                   "--json", "--record", "--raw-rate", "16000", kGoForward});
    ASSERT_EQ(corrected.status, 0) << corrected.err;
    EXPECT_NE(corrected.err.find("biasing with 2 dictionary phrase(s)"), std::string::npos) << corrected.err;
    const auto json = nlohmann::json::parse(corrected.out);
    EXPECT_EQ(json["text"], "Go forward 10 meters.");
    EXPECT_EQ(json["engine"], "Apple (streaming)");
    EXPECT_DOUBLE_EQ(json["audioSeconds"].get<double>(), 89160 / 2 / 16000.0);
    EXPECT_GE(json["processSeconds"].get<double>(), 0.0);
    ASSERT_EQ(json["corrections"].size(), 1u);
    EXPECT_EQ(json["corrections"][0]["to"], "forward 10");
    EXPECT_EQ(json["corrections"][0]["count"], 1);
    // --record appended the same line to the history.
    EXPECT_EQ(test::readFile(home / "data" / "Zarn" / "runs.jsonl"), corrected.out);
}

TEST(CmdTranscribe, ReadsShippedWavFilesInTheEngineFormat) {
    test::TempDir home;
    Outcome run = runZarn(home, {"transcribe", "--engine", "apple", "--no-cleanup", kClip});
    ASSERT_EQ(run.status, 0) << run.err;
    // "he was not an ill disposed young man": most words come through.
    int hits = 0;
    for (const char* word : {"he", "was", "not", "an", "ill", "disposed", "young", "man"}) {
        if ((" " + run.out).find(std::string(" ") + word) != std::string::npos) ++hits;
    }
    EXPECT_GE(hits, 6) << run.out;
    EXPECT_NE(run.err.find("capture started"), std::string::npos);
}

TEST(CmdTranscribe, WordsOutliveAnUnrecordableHistoryAndSilenceHasItsOwnStatus) {
    test::TempDir home;
    std::filesystem::create_directories(home / "data" / "Zarn" / "runs.jsonl");  // a folder: no record possible
    Outcome unrecorded = runZarn(home, {"transcribe", "--engine", "system", "--record", "--raw-rate", "16000", kGoForward});
    EXPECT_EQ(unrecorded.out, "Go forward ten meters.\n");
    EXPECT_EQ(unrecorded.status, 1);
    EXPECT_NE(unrecorded.err.find("the run was not recorded"), std::string::npos) << unrecorded.err;

    test::writeFile(home / "silence.raw", std::string(32000, '\0'));
    Outcome silence = runZarn(home, {"transcribe", "--raw-rate", "16000", (home / "silence.raw").string()});
    EXPECT_EQ(silence.status, 3);
    EXPECT_EQ(silence.out, "");
    EXPECT_NE(silence.err.find("No speech recognised in"), std::string::npos) << silence.err;
}

TEST(CmdTranscribe, ErrorsAreDescribedWithANonZeroExit) {
    test::TempDir home;
    test::writeFile(home / "bad.wav", "RIFF\x10\0\0\0WAVEjunk");
    const std::string nothing = (home / "nothing.wav").string(), bad = (home / "bad.wav").string();
    const std::string noModel = (home / "none.gguf").string(), folder = home.path().string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{nothing}, "Can't read the audio file " + nothing + ": no such file.\n"},
        {{bad}, bad},
        {{kGoForward}, "not a WAV file"},
        {{"--model", noModel, kClip}, "Can't read the model file " + noModel + ": no such file.\n"},
        {{"--model", folder, kClip}, "Can't read the model file " + folder + ": it is a folder.\n"},
        {{"--model", "/dev/null", kClip}, "Can't read the model file /dev/null: not a regular file.\n"},
    };
    for (auto [args, error] : cases) {
        args.insert(args.begin(), "transcribe");
        Outcome run = runZarn(home, args);
        EXPECT_EQ(run.status, 1) << error;
        EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
    }
    EXPECT_EQ(runZarn(home, {"transcribe", "--engine", "siri", kClip}).status, 2);
    EXPECT_EQ(runZarn(home, {"transcribe", "--engine", "apple", "--model", "x.gguf", kClip}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(home / "data" / "Zarn" / "runs.jsonl"));
}

}  // namespace
}  // namespace zarn
