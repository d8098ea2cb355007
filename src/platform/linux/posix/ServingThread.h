#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "base/Error.h"

namespace zarn::posix {

// A thread that owns a connection which must keep being served (a clipboard owner answers
// other clients while our main thread sleeps). Other threads hand it commands and wait for
// their results; between commands it runs `serve`, which waits in poll() on the connection
// and on the wake descriptor it is given.
class ServingThread {
public:
    explicit ServingThread(std::function<void(int wakeFd)> serve) : serve_(std::move(serve)) {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw MessageError("cannot create a pipe");
        thread_ = std::thread([this] { run(); });
    }
    ~ServingThread() {
        stop();
        close(wake_[0]);
        close(wake_[1]);
    }
    ServingThread(const ServingThread&) = delete;
    ServingThread& operator=(const ServingThread&) = delete;

    // Runs `fn` on the thread and returns its result (or throws its exception) once done.
    template <class F>
    auto call(F fn) -> decltype(fn()) {
        std::packaged_task<decltype(fn())()> task(std::move(fn));
        auto result = task.get_future();
        {
            std::lock_guard lock(mutex_);
            commands_.push_back([&task] { task(); });
        }
        wake();
        return result.get();
    }

    // Ends the serving and waits for the thread; later calls are not allowed.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake();
        if (thread_.joinable()) thread_.join();
    }

private:
    void wake() { [[maybe_unused]] auto n = write(wake_[1], "x", 1); }

    void run() {
        while (true) {
            std::deque<std::function<void()>> commands;
            {
                std::lock_guard lock(mutex_);
                if (stop_) return;
                commands.swap(commands_);
            }
            for (auto& command : commands) command();
            serve_(wake_[0]);
            char buffer[64];
            while (read(wake_[0], buffer, sizeof buffer) > 0) {
            }
        }
    }

    std::function<void(int)> serve_;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<std::function<void()>> commands_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace zarn::posix
