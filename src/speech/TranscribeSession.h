#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Error.h"
#include "base/Reply.h"
#include "base/SerialExecutor.h"
#include "speech/StreamText.h"

struct transcribe_session;

namespace zarn {

// One loaded model and its single audio stream. An actor: every call into the runtime for
// this session runs on the session's own executor, one at a time. The operations answer
// through a Reply; the ...AndWait forms block the caller until the answer (never call them
// from a task of this session's executor... they detect it and run inline).
class TranscribeSession : public std::enable_shared_from_this<TranscribeSession> {
public:
    // Frees the runtime's session exactly once, when the last owner lets go.
    struct Handle {
        explicit Handle(transcribe_session* p) : pointer(p) {}
        ~Handle();
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;
        transcribe_session* pointer;
    };

    // Opens the model file (throws TranscribeError or the runtime's load error). `language`
    // is passed to every stream start; nullopt lets the runtime decide. Runs on `executor`, by
    // default a thread of its own.
    static std::shared_ptr<TranscribeSession> open(const std::string& modelPath, std::optional<std::string> language,
                                                   std::shared_ptr<Executor> executor = nullptr);

    void beginStream(Reply<std::exception_ptr> done);
    void feed(std::vector<float> samples, Reply<Result<StreamText>> done);
    void finalizeStream(Reply<Result<StreamText>> done);
    void resetStream(Reply<> done = {});

    void beginStreamAndWait();
    StreamText feedAndWait(std::vector<float> samples);
    StreamText finalizeStreamAndWait();
    void resetStreamAndWait();

    const std::optional<std::string>& language() const { return language_; }
    // True once the runtime refused the language; later streams start without one.
    bool languageRejected() const;

private:
    TranscribeSession(std::shared_ptr<Handle> handle, std::optional<std::string> language,
                      std::shared_ptr<Executor> executor);

    // On the executor.
    void beginNow();
    void startStream(const char* language);
    StreamText feedNow(const std::vector<float>& samples);
    StreamText finalizeNow();
    void resetNow();
    StreamText readText();

    template <class F>
    auto runAndWait(F fn) -> decltype(fn());

    std::shared_ptr<Handle> handle_;
    std::optional<std::string> language_;
    bool languageRejected_ = false;  // written on the executor only
    std::shared_ptr<Executor> executor_;
};

}  // namespace zarn
