#include "base/SerialExecutor.h"

#include <pthread.h>

namespace zarn {

SerialExecutor::SerialExecutor(std::string name) {
    thread_ = std::thread([loop = loop_, name = std::move(name)] {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        loop->run();
    });
}

SerialExecutor::~SerialExecutor() {
    loop_->post([loop = loop_.get()] { loop->quit(); });
    if (isCurrent()) {
        // The last owner let go from inside one of our own tasks: the thread ends on its own.
        thread_.detach();
    } else {
        thread_.join();
    }
}

}  // namespace zarn
