#include "support/FakeModelServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace zarn::test {
namespace {

std::string reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

bool writeAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Waits for input on `fd` or a stop; false on stop or after 10 s.
bool waitReadable(int fd, int stopFd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n = ::poll(fds, 2, 10'000);
    return n > 0 && !(fds[1].revents & POLLIN);
}

}  // namespace

FakeModelServer::FakeModelServer(Handler handler) : handler_(std::move(handler)) {
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 16) != 0) {
        throw std::runtime_error(std::string("bind/listen failed: ") + std::strerror(errno));
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

FakeModelServer::~FakeModelServer() {
    char byte = 1;
    [[maybe_unused]] auto ignored = ::write(stopPipe_[1], &byte, 1);
    acceptThread_.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& t : connections) t.join();
    ::close(listenFd_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

void FakeModelServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
        });
    }
}

void FakeModelServer::serve(int fd) {
    std::string data;
    char buffer[4096];
    std::size_t headerEnd = std::string::npos;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!waitReadable(fd, stopPipe_[0])) return;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    Request request;
    std::string head = data.substr(0, headerEnd);
    auto firstSpace = head.find(' ');
    auto secondSpace = head.find(' ', firstSpace + 1);
    request.method = head.substr(0, firstSpace);
    request.path = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    std::size_t contentLength = 0;
    std::string lowerHead = head;
    for (auto& c : lowerHead) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (auto at = lowerHead.find("\r\ncontent-length:"); at != std::string::npos) {
        contentLength = std::stoul(head.substr(at + 17));
    }
    if (lowerHead.find("\r\nexpect: 100-continue") != std::string::npos) writeAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
    std::string body = data.substr(headerEnd + 4);
    while (body.size() < contentLength) {
        if (!waitReadable(fd, stopPipe_[0])) return;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        body.append(buffer, static_cast<std::size_t>(n));
    }
    request.body = body;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    Response response = handler_(request);
    if (response.hang) {
        // Hold the connection until the client closes it or the server stops.
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno == EINTR) continue;
            if (fds[1].revents & POLLIN) return;
            if (::recv(fd, buffer, sizeof buffer, 0) <= 0) break;
        }
        std::lock_guard lock(mutex_);
        ++abandoned_;
        changed_.notify_all();
        return;
    }
    writeAll(fd, "HTTP/1.1 " + std::to_string(response.status) + " " + reason(response.status) +
                     "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(response.body.size()) +
                     "\r\nConnection: close\r\n\r\n" + response.body);
}

std::vector<FakeModelServer::Request> FakeModelServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool FakeModelServer::waitForAbandoned(int count, int seconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return abandoned_ >= count; });
}

FakeModelServer::Response FakeModelServer::chat(const std::string& content, const std::string& finishReason) {
    nlohmann::json body = {
        {"id", "chatcmpl-1"},
        {"object", "chat.completion"},
        {"choices", {{{"index", 0}, {"message", {{"role", "assistant"}, {"content", content}}}, {"finish_reason", finishReason}}}},
    };
    return {200, body.dump(), false};
}

FakeModelServer::Response FakeModelServer::models(const std::vector<std::string>& ids) {
    nlohmann::json data = nlohmann::json::array();
    for (const auto& id : ids) data.push_back({{"id", id}, {"object", "model"}});
    return {200, nlohmann::json{{"object", "list"}, {"data", data}}.dump(), false};
}

FakeModelServer::Response FakeModelServer::error(int status, const std::string& body) { return {status, body, false}; }

FakeModelServer::Handler FakeModelServer::modelServer(std::function<Response(const Request&)> chatAnswer) {
    return [chatAnswer = std::move(chatAnswer)](const Request& request) {
        if (request.method == "GET" && request.path == "/v1/models") return models({"test-model"});
        if (request.method == "POST" && request.path == "/v1/chat/completions") return chatAnswer(request);
        return error(404);
    };
}

}  // namespace zarn::test
