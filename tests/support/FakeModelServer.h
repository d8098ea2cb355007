#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zarn::test {

// A tiny HTTP/1.1 server on 127.0.0.1 and an ephemeral port, standing in for a local
// language-model server or any other small HTTP service. Every connection carries one request and is answered by the
// handler, or held open without an answer until the client gives up or the server stops.
class FakeModelServer {
public:
    struct Request {
        std::string method;
        std::string path;
        std::string body;
    };
    struct Response {
        int status = 200;
        std::string body;
        bool hang = false;  // never answer
    };
    using Handler = std::function<Response(const Request&)>;

    explicit FakeModelServer(Handler handler);
    ~FakeModelServer();
    FakeModelServer(const FakeModelServer&) = delete;
    FakeModelServer& operator=(const FakeModelServer&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    std::vector<Request> requests() const;
    // Requests held without an answer whose client closed the connection.
    int abandonedByClient() const { return abandoned_; }
    // Waits (real time) until `count` held requests were abandoned; false after `seconds`.
    bool waitForAbandoned(int count, int seconds = 10);

    // Typical answers.
    static Response chat(const std::string& content, const std::string& finishReason = "stop");
    static Response models(const std::vector<std::string>& ids);
    static Response error(int status, const std::string& body = R"({"error":{"message":"boom"}})");
    // Lists "test-model" on GET /v1/models and answers chat requests with `chatAnswer`.
    static Handler modelServer(std::function<Response(const Request&)> chatAnswer);

private:
    void acceptLoop();
    void serve(int fd);

    Handler handler_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> connections_;
    std::vector<Request> requests_;
    std::atomic<int> abandoned_{0};
};

}  // namespace zarn::test
