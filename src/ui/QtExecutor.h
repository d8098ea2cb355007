#pragma once

#include <QObject>

#include "base/Executor.h"

namespace zarn::ui {

// The Qt event loop as the application's main executor: tasks run on the thread of the
// context object, in posting order; delayed tasks on Qt timers.
class QtExecutor final : public Executor {
public:
    explicit QtExecutor(QObject* context);
    void post(Task task) override;
    TimerHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

private:
    QObject* context_;
};

}  // namespace zarn::ui
