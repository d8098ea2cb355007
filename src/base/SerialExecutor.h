#pragma once

#include <memory>
#include <string>
#include <thread>

#include "base/EventLoop.h"

namespace zarn {

// An actor's executor: one thread of its own running tasks in order. Destruction runs
// the tasks already posted, drops pending delayed tasks and joins the thread.
class SerialExecutor final : public Executor {
public:
    explicit SerialExecutor(std::string name = "zarn-serial");
    ~SerialExecutor() override;
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    void post(Task task) override { loop_->post(std::move(task)); }
    TimerHandle postAfter(Duration delay, Task task) override { return loop_->postAfter(delay, std::move(task)); }
    bool isCurrent() const override { return std::this_thread::get_id() == thread_.get_id(); }

private:
    // Shared with the thread, which may outlive this object when released from its own task.
    std::shared_ptr<EventLoop> loop_ = std::make_shared<EventLoop>(this);
    std::thread thread_;
};

}  // namespace zarn
