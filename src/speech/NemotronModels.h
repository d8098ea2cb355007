#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Error.h"
#include "base/Reply.h"
#include "base/SerialExecutor.h"
#include "speech/ModelStore.h"
#include "speech/TranscribeSession.h"

namespace zarn {

// The process-wide owner of the loaded speech model: loading is slow, so it happens once
// and the same session serves every dictation. Also the application's way to the model
// store. An actor: loading runs on its own executor; downloads on another.
class NemotronModels {
public:
    using SessionOpener = std::function<std::shared_ptr<TranscribeSession>(const std::string& modelPath,
                                                                           const std::optional<std::string>& language)>;

    // Models from the store; `language` (BCP 47) is passed to the runtime at every stream.
    // Loading runs on `executor`, downloads on `downloads`; by default threads of their own.
    NemotronModels(ModelStore store, std::optional<std::string> language, SessionOpener opener = defaultOpener(),
                   std::shared_ptr<Executor> executor = nullptr, std::shared_ptr<Executor> downloads = nullptr);
    // The user's store (ModelStore::shared()) and the user's locale; made once.
    static const std::shared_ptr<NemotronModels>& shared();
    // A holder bound to one model file of any size, outside the store (the command line's
    // `--model FILE`). It cannot download.
    static std::shared_ptr<NemotronModels> forModelFile(std::filesystem::path modelPath,
                                                        std::optional<std::string> language,
                                                        SessionOpener opener = defaultOpener(),
                                                        std::shared_ptr<Executor> executor = nullptr);
    // Opens the runtime session on `executor`, or on a thread of its own.
    static SessionOpener defaultOpener(std::shared_ptr<Executor> executor);
    static SessionOpener defaultOpener() { return defaultOpener(nullptr); }
    // The command line has no menu: from this call on, "not downloaded" names the command
    // that downloads the model instead. Called once, at the start of the program.
    static void useCommandLineTexts();

    ~NemotronModels();
    NemotronModels(const NemotronModels&) = delete;
    NemotronModels& operator=(const NemotronModels&) = delete;

    bool isDownloaded() const;
    std::filesystem::path modelPath() const;
    const std::optional<std::string>& language() const { return language_; }

    // The loaded session, loading it on first use. Not downloaded: TranscriptionError
    // engineUnavailable with the "model not downloaded" text; open errors as they come.
    void session(Reply<Result<std::shared_ptr<TranscribeSession>>> reply);
    // The same, blocking the caller until the answer.
    std::shared_ptr<TranscribeSession> sessionAndWait();
    // Loads ahead of the first dictation; errors are ignored (the first dictation retries).
    void preload();
    // Fetches the model through the store on the download executor; `progress` is called
    // there (a user interface must hop to its own thread), then `done`.
    void download(ModelStore::Progress progress, Reply<std::exception_ptr> done);

private:
    NemotronModels(std::optional<ModelStore> store, std::filesystem::path modelPath, std::optional<std::string> language,
                   SessionOpener opener, std::shared_ptr<Executor> executor, std::shared_ptr<Executor> downloads);
    std::shared_ptr<TranscribeSession> loadNow();

    std::optional<ModelStore> store_;
    std::filesystem::path modelPath_;
    std::optional<std::string> language_;
    SessionOpener opener_;
    std::shared_ptr<TranscribeSession> loaded_;  // on executor_ only; never cleared once set
    std::shared_ptr<Executor> downloads_;
    std::shared_ptr<Executor> executor_;
};

}  // namespace zarn
