#include "ui/QtExecutor.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <chrono>

namespace zarn::ui {

QtExecutor::QtExecutor(QObject* context) : context_(context) {}

void QtExecutor::post(Task task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

TimerHandle QtExecutor::postAfter(Duration delay, Task task) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay);
    // Timers belong to the context's thread, so the timer is made there whoever asks.
    post([this, flag, milliseconds, task = std::move(task)]() mutable {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, context_, [flag, task = std::move(task)] {
            if (!flag->load()) task();
        });
    });
    return TimerHandle(flag);
}

bool QtExecutor::isCurrent() const {
    return QThread::currentThread() == context_->thread();
}

}  // namespace zarn::ui
