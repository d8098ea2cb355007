#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/TempDir.h"

extern char** environ;

namespace zarn {
namespace {

const std::string kGoForward = "/usr/share/pocketsphinx/test/data/goforward.raw";
const std::string kClip = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built `zarn` with XDG folders and HOME inside `home`.
Outcome runZarn(const test::TempDir& home, const std::vector<std::string>& args) {
    const char* binaryDir = std::getenv("ZARN_BINARY_DIR");
    const std::string binary = std::string(binaryDir ? binaryDir : ".") + "/src/cli/zarn";
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        if (name.rfind("ZARN_", 0) == 0 || name.rfind("XDG_", 0) == 0 || name == "HOME" || name.rfind("LC_", 0) == 0 ||
            name == "LANG") {
            continue;
        }
        env[name] = entry.substr(eq + 1);
    }
    env["HOME"] = home.path().string();
    env["XDG_CONFIG_HOME"] = (home / "config").string();
    env["XDG_DATA_HOME"] = (home / "data").string();
    env["LANG"] = "en_US.UTF-8";
    env["ZARN_LOG_STDERR"] = "1";
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{binary};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    const std::string outPath = (home / "stdout").string(), errPath = (home / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    Outcome run;
    if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = test::readFile(outPath);
    run.err = test::readFile(errPath);
    return run;
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

TEST(CmdTranscribe, ErrorsAreDescribedWithANonZeroExit) {
    test::TempDir home;
    Outcome missing = runZarn(home, {"transcribe", (home / "nothing.wav").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Can't read the audio file " + (home / "nothing.wav").string() + ": no such file.\n");

    test::writeFile(home / "bad.wav", "RIFF\x10\0\0\0WAVEjunk");
    Outcome damaged = runZarn(home, {"transcribe", (home / "bad.wav").string()});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find((home / "bad.wav").string()), std::string::npos);

    Outcome raw = runZarn(home, {"transcribe", kGoForward});
    EXPECT_EQ(raw.status, 1);
    EXPECT_NE(raw.err.find("not a WAV file"), std::string::npos);

    Outcome nemotron = runZarn(home, {"transcribe", "--engine", "nemotron", kClip});
    EXPECT_EQ(nemotron.status, 1);
    EXPECT_NE(nemotron.err.find("The Nemotron model isn't downloaded yet"), std::string::npos) << nemotron.err;

    Outcome noModel = runZarn(home, {"transcribe", "--model", (home / "none.gguf").string(), kClip});
    EXPECT_EQ(noModel.status, 1);
    EXPECT_NE(noModel.err.find("none.gguf: no such file"), std::string::npos);

    EXPECT_EQ(runZarn(home, {"transcribe", "--engine", "siri", kClip}).status, 2);
    EXPECT_EQ(runZarn(home, {"transcribe", "--engine", "apple", "--model", "x.gguf", kClip}).status, 2);
    EXPECT_EQ(runZarn(home, {"transcribe", "--bogus", kClip}).status, 2);
    EXPECT_EQ(runZarn(home, {"transcribe"}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(home / "data" / "Zarn" / "runs.jsonl"));
}

}  // namespace
}  // namespace zarn
