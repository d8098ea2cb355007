#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zarn::test {

// The python model host, on 127.0.0.1 with a port of the system's choosing.
class TestServer {
public:
    TestServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            const char* script = ZARN_TEST_SERVER;
            ::execlp("python3", "python3", script, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The first line is the port: the server is listening once it is printed.
        std::string line;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(fds[0]);
        port_ = std::atoi(line.c_str());
    }
    ~TestServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace zarn::test
