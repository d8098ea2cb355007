#include "speech/NemotronModels.h"

#include <atomic>
#include <chrono>
#include <future>

#include "base/Log.h"
#include "contracts/Speech.h"
#include "strings/Locale.h"
#include "speech/TranscribeError.h"
#include "strings/CurrentStrings.h"

namespace zarn {

NemotronModels::NemotronModels(ModelStore store, std::optional<std::string> language, SessionOpener opener,
                               std::shared_ptr<Executor> executor, std::shared_ptr<Executor> downloads)
    : NemotronModels(std::optional<ModelStore>(store), store.modelURL(), std::move(language), std::move(opener),
                     std::move(executor), std::move(downloads)) {}

NemotronModels::NemotronModels(std::optional<ModelStore> store, std::filesystem::path modelPath,
                               std::optional<std::string> language, SessionOpener opener,
                               std::shared_ptr<Executor> executor, std::shared_ptr<Executor> downloads)
    : store_(std::move(store)),
      modelPath_(std::move(modelPath)),
      language_(std::move(language)),
      opener_(std::move(opener)),
      downloads_(downloads ? std::move(downloads) : std::make_shared<SerialExecutor>("zarn-model-download")),
      executor_(executor ? std::move(executor) : std::make_shared<SerialExecutor>("zarn-models")) {}

NemotronModels::~NemotronModels() = default;

const std::shared_ptr<NemotronModels>& NemotronModels::shared() {
    static const std::shared_ptr<NemotronModels> models =
        std::make_shared<NemotronModels>(ModelStore::shared(), messagesLanguageTag());
    return models;
}

std::shared_ptr<NemotronModels> NemotronModels::forModelFile(std::filesystem::path modelPath,
                                                             std::optional<std::string> language, SessionOpener opener,
                                                             std::shared_ptr<Executor> executor) {
    return std::shared_ptr<NemotronModels>(new NemotronModels(std::nullopt, std::move(modelPath), std::move(language),
                                                              std::move(opener), std::move(executor), nullptr));
}

NemotronModels::SessionOpener NemotronModels::defaultOpener(std::shared_ptr<Executor> executor) {
    return [executor](const std::string& path, const std::optional<std::string>& language) {
        return TranscribeSession::open(path, language, executor);
    };
}

namespace {
std::atomic<bool> commandLineTexts{false};
}  // namespace

void NemotronModels::useCommandLineTexts() { commandLineTexts = true; }

bool NemotronModels::isDownloaded() const {
    if (store_) return store_->isInstalled();
    std::error_code ec;
    return std::filesystem::is_regular_file(modelPath_, ec);
}

std::filesystem::path NemotronModels::modelPath() const { return modelPath_; }

std::shared_ptr<TranscribeSession> NemotronModels::loadNow() {
    if (loaded_) return loaded_;
    if (!isDownloaded()) {
        throw TranscriptionError::engineUnavailable(
            commandLineTexts ? "The speech model isn't downloaded yet — run “zarn model download”."
                             : CurrentStrings::value().errors.modelNotDownloaded);
    }
    Log::speech().info("Nemotron: loading model…");
    const auto start = std::chrono::steady_clock::now();
    auto session = opener_(modelPath_.string(), language_);
    if (!session) throw TranscribeError(-1, "opening model at " + modelPath_.string());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Log::speech().info("Nemotron: ready in %.1fs", seconds);
    loaded_ = std::move(session);
    return loaded_;
}

void NemotronModels::session(Reply<Result<std::shared_ptr<TranscribeSession>>> reply) {
    executor_->post([this, reply = std::move(reply)]() mutable {
        try {
            reply(loadNow());
        } catch (...) {
            reply(std::current_exception());
        }
    });
}

std::shared_ptr<TranscribeSession> NemotronModels::sessionAndWait() {
    if (executor_->isCurrent()) return loadNow();
    std::promise<std::shared_ptr<TranscribeSession>> promise;
    auto future = promise.get_future();
    executor_->post([&] {
        try {
            promise.set_value(loadNow());
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    });
    return future.get();
}

void NemotronModels::preload() {
    executor_->post([this] {
        try {
            loadNow();
        } catch (const std::exception&) {
            // The first dictation loads it again and shows the error.
        }
    });
}

void NemotronModels::download(ModelStore::Progress progress, Reply<std::exception_ptr> done) {
    downloads_->post([this, progress = std::move(progress), done = std::move(done)]() mutable {
        try {
            if (!store_) throw MessageError("this model file cannot be downloaded");
            store_->download(progress);
            done(nullptr);
        } catch (...) {
            done(std::current_exception());
        }
    });
}

}  // namespace zarn
