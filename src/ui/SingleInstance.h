#pragma once

#include <QLocalServer>
#include <QObject>

#include <functional>
#include <string>
#include <vector>

namespace zarn::ui {

// One zarn-app per user session. The first process holds a lock and listens on a private
// socket; a later one hands its arguments over and leaves.
class SingleInstance final : public QObject {
public:
    enum class Role { primary, handedOver, failed };
    using OnMessage = std::function<void(const std::vector<std::string>& arguments)>;

    explicit SingleInstance(OnMessage onMessage);
    ~SingleInstance() override;

    // Becomes the running instance, or gives `arguments` to the one already running.
    Role start(const std::vector<std::string>& arguments, std::string* error);

private:
    bool listen(const QString& path, std::string* error);
    void accept();

    OnMessage onMessage_;
    QLocalServer server_;
    int lockFd_ = -1;
};

}  // namespace zarn::ui
