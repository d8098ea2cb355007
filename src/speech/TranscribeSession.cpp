#include "speech/TranscribeSession.h"

#include <future>

#include "base/Unicode.h"
#include "speech/TranscribeError.h"
#include "speech/TranscribeLibrary.h"

namespace zarn {

TranscribeSession::Handle::~Handle() {
    if (pointer) TranscribeLibrary::api().session_free(pointer);
}

std::shared_ptr<TranscribeSession> TranscribeSession::open(const std::string& modelPath,
                                                          std::optional<std::string> language,
                                                          std::shared_ptr<Executor> executor) {
    TranscribeLibrary::initializeBackends();
    const auto& api = TranscribeLibrary::api();
    transcribe_model_load_params load{};
    transcribe_session_params params{};
    api.model_load_params_init(&load);
    api.session_params_init(&params);
    transcribe_session* pointer = nullptr;
    TranscribeError::check(api.open(modelPath.c_str(), &load, &params, &pointer), "opening model at " + modelPath);
    if (!pointer) throw TranscribeError(-1, "transcribe_open returned no session");
    auto handle = std::make_shared<Handle>(pointer);
    return std::shared_ptr<TranscribeSession>(new TranscribeSession(std::move(handle), std::move(language), std::move(executor)));
}

TranscribeSession::TranscribeSession(std::shared_ptr<Handle> handle, std::optional<std::string> language,
                                     std::shared_ptr<Executor> executor)
    : handle_(std::move(handle)),
      language_(std::move(language)),
      executor_(executor ? std::move(executor) : std::make_shared<SerialExecutor>("zarn-transcribe")) {}

bool TranscribeSession::languageRejected() const {
    return const_cast<TranscribeSession*>(this)->runAndWait([this] { return languageRejected_; });
}

template <class F>
auto TranscribeSession::runAndWait(F fn) -> decltype(fn()) {
    using R = decltype(fn());
    if (executor_->isCurrent()) return fn();
    std::promise<R> promise;
    auto future = promise.get_future();
    executor_->post([&] {
        try {
            if constexpr (std::is_void_v<R>) {
                fn();
                promise.set_value();
            } else {
                promise.set_value(fn());
            }
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    });
    return future.get();
}

void TranscribeSession::beginStream(Reply<std::exception_ptr> done) {
    executor_->post([self = shared_from_this(), done = std::move(done)]() mutable {
        try {
            self->beginNow();
            done(nullptr);
        } catch (...) {
            done(std::current_exception());
        }
    });
}

void TranscribeSession::feed(std::vector<float> samples, Reply<Result<StreamText>> done) {
    executor_->post([self = shared_from_this(), samples = std::move(samples), done = std::move(done)]() mutable {
        try {
            done(self->feedNow(samples));
        } catch (...) {
            done(std::current_exception());
        }
    });
}

void TranscribeSession::finalizeStream(Reply<Result<StreamText>> done) {
    executor_->post([self = shared_from_this(), done = std::move(done)]() mutable {
        try {
            done(self->finalizeNow());
        } catch (...) {
            done(std::current_exception());
        }
    });
}

void TranscribeSession::resetStream(Reply<> done) {
    executor_->post([self = shared_from_this(), done = std::move(done)]() mutable {
        self->resetNow();
        done();
    });
}

void TranscribeSession::beginStreamAndWait() { runAndWait([this] { beginNow(); }); }
StreamText TranscribeSession::feedAndWait(std::vector<float> samples) {
    return runAndWait([this, &samples] { return feedNow(samples); });
}
StreamText TranscribeSession::finalizeStreamAndWait() { return runAndWait([this] { return finalizeNow(); }); }
void TranscribeSession::resetStreamAndWait() { runAndWait([this] { resetNow(); }); }

void TranscribeSession::beginNow() {
    if (language_ && !languageRejected_) {
        try {
            startStream(language_->c_str());
            return;
        } catch (const TranscribeError& e) {
            if (e.status() != 10) throw;
            languageRejected_ = true;
        }
    }
    startStream(nullptr);
}

void TranscribeSession::startStream(const char* language) {
    const auto& api = TranscribeLibrary::api();
    transcribe_run_params run{};
    transcribe_stream_params stream{};
    api.run_params_init(&run);
    api.stream_params_init(&stream);
    if (language) run.language = language;  // valid for the duration of the call only
    TranscribeError::check(api.stream_begin(handle_->pointer, &run, &stream), "beginning stream");
}

StreamText TranscribeSession::feedNow(const std::vector<float>& samples) {
    if (!samples.empty()) {
        // A chunk never holds more than 2^31 - 1 samples; a larger one is fed in parts.
        constexpr std::size_t kMax = 0x7fffffff;
        for (std::size_t pos = 0; pos < samples.size(); pos += kMax) {
            const auto n = static_cast<std::int32_t>(std::min(kMax, samples.size() - pos));
            TranscribeError::check(TranscribeLibrary::api().stream_feed(handle_->pointer, samples.data() + pos, n, nullptr),
                                   "feeding audio");
        }
    }
    return readText();
}

StreamText TranscribeSession::finalizeNow() {
    TranscribeError::check(TranscribeLibrary::api().stream_finalize(handle_->pointer, nullptr), "finalizing stream");
    return readText();
}

void TranscribeSession::resetNow() { TranscribeLibrary::api().stream_reset(handle_->pointer); }

namespace {

std::string textOf(const char* bytes, std::uint64_t length) {
    if (!bytes || length == 0) return {};
    std::string text(bytes, static_cast<std::size_t>(length));
    // Invalid UTF-8 gives nothing rather than a partial text.
    return unicode::isValidUtf8(text) ? text : std::string();
}

}  // namespace

StreamText TranscribeSession::readText() {
    const auto& api = TranscribeLibrary::api();
    transcribe_stream_text text{};
    api.stream_text_init(&text);
    TranscribeError::check(api.stream_get_text(handle_->pointer, &text), "reading stream text");
    return {textOf(text.committed, text.committed_len), textOf(text.tentative, text.tentative_len)};
}

}  // namespace zarn
