#include "ui/QtExecutor.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <chrono>

namespace zarn::ui {

QtExecutor::QtExecutor(QObject* context) : context_(context) {}

namespace {

// Qt copies the functors it queues; the task is moved out when it runs. One never run
// (its context went first) is dropped as a closing executor's.
struct QueuedTask {
    Task task;
    ~QueuedTask() {
        detail::DiscardScope scope;
        task = nullptr;
    }
};

}  // namespace

void QtExecutor::post(Task task) {
    auto queued = std::make_shared<QueuedTask>();
    queued->task = std::move(task);
    QMetaObject::invokeMethod(
        context_,
        [this, queued] {
            detail::CurrentExecutorScope current(this);
            Task run = std::move(queued->task);
            run();
        },
        Qt::QueuedConnection);
}

TimerHandle QtExecutor::postAfter(Duration delay, Task task) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay);
    // Timers belong to the context's thread, so the timer is made there whoever asks.
    post([this, flag, milliseconds, task = std::move(task)]() mutable {
        auto queued = std::make_shared<QueuedTask>();
        queued->task = std::move(task);
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, context_, [this, flag, queued] {
            if (flag->load()) return;
            detail::CurrentExecutorScope current(this);
            Task run = std::move(queued->task);
            run();
        });
    });
    return TimerHandle(flag);
}

bool QtExecutor::isCurrent() const {
    return QThread::currentThread() == context_->thread();
}

}  // namespace zarn::ui
