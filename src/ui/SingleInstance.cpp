#include "ui/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <memory>

#include "app/InstanceMessage.h"
#include "base/Log.h"

namespace zarn::ui {

namespace {

constexpr int kClientWaitMs = 3000;
constexpr int kServerPatienceMs = 5000;

bool handOver(const QString& path, const std::vector<std::string>& arguments, std::string* error) {
    // The running instance may hold the lock but not listen yet: try for a few seconds.
    QDeadlineTimer deadline(kClientWaitMs);
    QLocalSocket socket;
    while (true) {
        socket.connectToServer(path);
        if (socket.waitForConnected(500)) break;
        if (deadline.hasExpired()) {
            *error = "the running Zarn does not answer on " + path.toStdString() + ": " +
                     socket.errorString().toStdString();
            return false;
        }
        QThread::msleep(50);
    }
    const std::string message = instance::encode(arguments);
    socket.write(message.data(), static_cast<qint64>(message.size()));
    QByteArray answer;
    while (answer.size() < static_cast<qsizetype>(instance::acknowledgement.size()) &&
           socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        answer += socket.readAll();
    }
    if (answer.toStdString() != instance::acknowledgement) {
        *error = "the running Zarn did not confirm the message";
        return false;
    }
    return true;
}

}  // namespace

SingleInstance::SingleInstance(OnMessage onMessage) : onMessage_(std::move(onMessage)) {}

SingleInstance::~SingleInstance() {
    server_.close();
    if (lockFd_ >= 0) close(lockFd_);
}

SingleInstance::Role SingleInstance::start(const std::vector<std::string>& arguments, std::string* error) {
    auto folder = instance::socketFolder(error);
    if (!folder) return Role::failed;
    const std::string lockPath = *folder + "/instance.lock";
    const QString socketPath = QString::fromStdString(*folder + "/instance.socket");

    lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
        *error = lockPath + ": " + std::strerror(errno);
        return Role::failed;
    }
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        close(lockFd_);
        lockFd_ = -1;
        return handOver(socketPath, arguments, error) ? Role::handedOver : Role::failed;
    }
    return listen(socketPath, error) ? Role::primary : Role::failed;
}

bool SingleInstance::listen(const QString& path, std::string* error) {
    // We hold the lock, so a socket file left here belongs to a process that is gone.
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(path)) {
        *error = path.toStdString() + ": " + server_.errorString().toStdString();
        return false;
    }
    chmod(path.toLocal8Bit().constData(), 0600);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        auto decoder = std::make_shared<instance::Decoder>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that connects and says nothing is not kept forever.
        QTimer::singleShot(kServerPatienceMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, decoder] {
            const QByteArray bytes = socket->read(static_cast<qint64>(instance::maxPayload + instance::headerSize + 1));
            switch (decoder->feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
            case instance::Decoder::Status::needMore:
                return;
            case instance::Decoder::Status::malformed:
                Log::app().error("message from another zarn-app dropped: %{public}s", decoder->error());
                socket->abort();
                return;
            case instance::Decoder::Status::message:
                socket->write(instance::acknowledgement.data(), static_cast<qint64>(instance::acknowledgement.size()));
                socket->disconnectFromServer();
                if (onMessage_) onMessage_(decoder->arguments());
                return;
            }
        });
    }
}

}  // namespace zarn::ui
