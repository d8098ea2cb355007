#include "support/FakeHttpServer.h"

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

FakeHttpServer::FakeHttpServer(Handler handler) : handler_(std::move(handler)) {
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

FakeHttpServer::~FakeHttpServer() {
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

void FakeHttpServer::acceptLoop() {
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

void FakeHttpServer::serve(int fd) {
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
        changed_.notify_all();
    }
    const Response response = handler_(request);
    using Ending = Response::Ending;
    if (response.ending == Ending::silent) return holdUntilClosed(fd);
    const bool cut = response.ending == Ending::reset || response.ending == Ending::stall;
    // Clients read the status code; any reason phrase will do.
    std::string answer =
        "HTTP/1.1 " + std::to_string(response.status) + " Fake\r\nContent-Type: " + response.contentType + "\r\n";
    if (response.ending != Ending::unsized) answer += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    answer += "Connection: close\r\n\r\n";
    answer += cut ? response.body.substr(0, response.cutAt) : response.body;
    if (!writeAll(fd, answer)) return;
    if (response.ending == Ending::stall) return holdUntilClosed(fd);
    if (response.ending == Ending::reset) {
        // An abortive close: the client sees a reset, not an orderly end.
        linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
}

void FakeHttpServer::holdUntilClosed(int fd) {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno == EINTR) continue;
        if (fds[1].revents & POLLIN) return;
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) break;
    }
    std::lock_guard lock(mutex_);
    ++abandoned_;
    changed_.notify_all();
}

std::vector<FakeHttpServer::Request> FakeHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool FakeHttpServer::waitForRequests(std::size_t count, int seconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return requests_.size() >= count; });
}

bool FakeHttpServer::waitForAbandoned(int count, int seconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return abandoned_ >= count; });
}

FakeHttpServer::Response FakeHttpServer::chat(const std::string& content, const std::string& finishReason) {
    nlohmann::json body = {
        {"id", "chatcmpl-1"},
        {"object", "chat.completion"},
        {"choices", {{{"index", 0}, {"message", {{"role", "assistant"}, {"content", content}}}, {"finish_reason", finishReason}}}},
    };
    return {200, body.dump()};
}

FakeHttpServer::Response FakeHttpServer::models(const std::vector<std::string>& ids) {
    nlohmann::json data = nlohmann::json::array();
    for (const auto& id : ids) data.push_back({{"id", id}, {"object", "model"}});
    return {200, nlohmann::json{{"object", "list"}, {"data", data}}.dump()};
}

FakeHttpServer::Response FakeHttpServer::error(int status, const std::string& body) { return {status, body}; }

FakeHttpServer::Handler FakeHttpServer::modelServer(std::function<Response(const Request&)> chatAnswer) {
    return [chatAnswer = std::move(chatAnswer)](const Request& request) {
        if (request.method == "GET" && request.path == "/v1/models") return models({"test-model"});
        if (request.method == "POST" && request.path == "/v1/chat/completions") return chatAnswer(request);
        return error(404);
    };
}

std::string FakeHttpServer::modelBody(std::size_t size, int salt) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((((i % 251) * 7 + 3) % 251) ^ static_cast<std::size_t>(salt));
    return out;
}

FakeHttpServer::Handler FakeHttpServer::modelHost() {
    return [](const Request& request) {
        const auto model = [](std::size_t size, int salt = 0, Response::Ending ending = Response::Ending::whole,
                              std::size_t cutAt = 0) {
            return Response{200, modelBody(size, salt), ending, cutAt, "application/octet-stream"};
        };
        const std::string& path = request.path;
        if (request.method != "GET") return error(400, "");
        if (path == "/big/model") return model(kBig);
        if (path == "/big/nolength") return model(kBig, 0, Response::Ending::unsized);
        if (path == "/big/short") return model(kBig - 1);
        if (path == "/big/wrong") return model(kBig, 0x55);
        if (path == "/big/reset") return model(kBig, 0, Response::Ending::reset, 3 * 1024 * 1024 / 2);
        if (path == "/trickle") return model(kSmall, 0, Response::Ending::stall);
        if (path == "/small/model" || path.ends_with(".gguf")) return model(kSmall);
        if (path == "/error") return Response{500, "server error\n", Response::Ending::whole, 0, "text/plain"};
        return error(404, "");
    };
}

}  // namespace zarn::test
