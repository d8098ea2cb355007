#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zarn::test {

// The tests' one HTTP/1.1 server, on 127.0.0.1 and an ephemeral port, in the test's own
// process: a local language-model server, a model host, an update feed. Every connection
// carries one request, answered by the handler on a thread of the connection's own.
class FakeHttpServer {
public:
    struct Request {
        std::string method;
        std::string path;
        std::string body;
    };
    struct Response {
        enum class Ending {
            whole,    // with a Content-Length
            unsized,  // without one: the close ends the body
            reset,    // the head and the first `cutAt` bytes of the body, then a reset
            stall,    // the head and the first `cutAt` bytes, then nothing until the client gives up
            silent,   // no answer at all until the client gives up
        };
        int status = 200;
        std::string body;
        Ending ending = Ending::whole;
        std::size_t cutAt = 0;
        std::string contentType = "application/json";
    };
    using Handler = std::function<Response(const Request&)>;

    explicit FakeHttpServer(Handler handler);
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return baseUrl() + path; }

    std::vector<Request> requests() const;
    // Wait (real time) until `count` requests arrived, or `count` unanswered ones were given up
    // by their clients; false after `seconds`.
    bool waitForRequests(std::size_t count, int seconds = 10);
    bool waitForAbandoned(int count, int seconds = 10);

    // Typical answers.
    static Response chat(const std::string& content, const std::string& finishReason = "stop");
    static Response models(const std::vector<std::string>& ids);
    static Response error(int status, const std::string& body = R"({"error":{"message":"boom"}})");
    static Response silent() { return {.ending = Response::Ending::silent}; }
    // Lists "test-model" on GET /v1/models and answers chat requests with `chatAnswer`.
    static Handler modelServer(std::function<Response(const Request&)> chatAnswer);

    // A model host for downloads. Its bodies are modelBody(kBig) at /big/model, the same
    // without a Content-Length at /big/nolength, a byte short at /big/short, with `salt` 0x55 at
    // /big/wrong, cut by a reset halfway at /big/reset; modelBody(kSmall) at /small/model and
    // any *.gguf path, stalled after its head at /trickle; HTTP 500 at /error.
    static constexpr std::size_t kBig = 3 * 1024 * 1024 + 12345, kSmall = 300000;
    static std::string modelBody(std::size_t size, int salt = 0);
    static Handler modelHost();

private:
    void acceptLoop();
    void serve(int fd);
    void holdUntilClosed(int fd);

    Handler handler_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> connections_;
    std::vector<Request> requests_;
    int abandoned_ = 0;
};

}  // namespace zarn::test
