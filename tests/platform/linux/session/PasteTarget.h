#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zarn::test {

// A plain X window with the keyboard focus and no accessibility at all. When it sees Ctrl+V
// it does what an application does on paste: it reads the clipboard as UTF-8 text.
class PasteTarget {
public:
    struct Paste {
        bool shift = false;                // Ctrl+Shift+V rather than Ctrl+V
        std::optional<std::string> text;   // the clipboard's UTF8_STRING at that moment
    };

    // With `copyOnPaste`, the window then copies that text itself, as a user who copies
    // something right after a dictation.
    explicit PasteTarget(const std::string& wmClass = "zarn-paste-target", std::string copyOnPaste = {});
    ~PasteTarget();
    PasteTarget(const PasteTarget&) = delete;
    PasteTarget& operator=(const PasteTarget&) = delete;

    std::optional<Paste> waitForPaste(std::chrono::milliseconds timeout);

private:
    void run(const std::string& wmClass, const std::string& copyOnPaste);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Paste> pastes_;
    bool ready_ = false;
    bool failed_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace zarn::test
