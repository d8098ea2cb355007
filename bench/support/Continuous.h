#pragma once

// pocketsphinx_continuous on a file, for the benchmarks that compare against it.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace zarn::bench {

struct ContinuousRun {
    std::string text;
    double wall = 0;  // seconds, model loading included
    double cpu = 0;   // seconds of the child's user and system time
};

// Its text, wall and CPU time (children's rusage); the text names the problem when the
// program is missing. `model` is the folder holding en-us/, en-us.lm.bin and the dictionary.
inline ContinuousRun continuous(const std::filesystem::path& file, const std::filesystem::path& model) {

    const std::string out = (std::filesystem::temp_directory_path() / "zarn-bench-continuous.txt").string();
    std::vector<std::string> args = {"pocketsphinx_continuous", "-infile", file.string(),
                                     "-hmm", (model / "en-us").string(), "-lm", (model / "en-us.lm.bin").string(),
                                     "-dict", (model / "cmudict-en-us.dict").string(), "-logfn", "/dev/null"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ContinuousRun outcome;
    const auto wall0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "pocketsphinx_continuous", &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        outcome.text = "<pocketsphinx_continuous not found>";
        return outcome;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    outcome.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    outcome.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) outcome.text += (outcome.text.empty() ? "" : " ") + line;
    }
    std::filesystem::remove(out);
    return outcome;
}


}  // namespace zarn::bench
