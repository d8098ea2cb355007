#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/ManualExecutor.h"
#include "hotkey/HotkeyMonitor.h"
#include "platform/linux/evdev/EvdevEventHook.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace zarn::evdev {
namespace {

struct Forwarded {
    int keyboard;
    unsigned short type;
    unsigned short code;
    int value;
    bool operator==(const Forwarded&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Forwarded& f) {
    return out << "{kb" << f.keyboard << " " << f.type << ":" << f.code << "=" << f.value << "}";
}

// Keyboards made of pipes: the test writes input_event records into them, and whatever a
// grabbed keyboard passes on is recorded in place of a uinput device.
class PipeKeyboards final : public DeviceSource {
public:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Forwarded> forwarded;
        std::vector<int> writeEnds;
        std::vector<int> feedbackWriteEnds;
        std::vector<std::vector<int>> feedbackPipes;  // kept open for the test's lifetime
        std::vector<std::string> pumped;
        int plugged[2] = {-1, -1};
        std::set<std::string> openIdsSeen;
        int opens = 0;
        int released = 0;
        bool lastGrab = false;
        unsigned lastCode = 0;
        Outcome outcome = Outcome::ok;
        int count = 1;
        // Keyboards opened with keys down: their grab waits, answered by `deferredGrab`.
        bool keysDownAtOpen = false;
        Device::Grab deferredGrab = Device::Grab::keysDown;
        std::vector<std::thread::id> grabAttempts;
        Executor* wake = nullptr;  // nudged on every forwarded event, so waits on it re-check

        bool waitFor(const std::function<bool()>& done) {
            std::unique_lock lock(mutex);
            return changed.wait_for(lock, std::chrono::seconds(10), done);
        }
    };
    explicit PipeKeyboards(Shared& shared) : shared_(shared) {}

    Outcome open(unsigned code, bool grab, std::vector<Device>& devices) override {
        std::lock_guard lock(shared_.mutex);
        shared_.lastGrab = grab;
        shared_.lastCode = code;
        if (shared_.outcome != Outcome::ok) return shared_.outcome;
        ++shared_.opens;
        shared_.writeEnds.clear();
        shared_.feedbackWriteEnds.clear();
        for (int i = 0; i < shared_.count; ++i) {
            if (!addKeyboard(grab, devices)) return Outcome::noKeyboard;
        }
        return Outcome::ok;
    }

    // Plugging in: a byte on `plugged` asks for one more keyboard.
    int addedSignal() const override { return shared_.plugged[0]; }
    void openAdded(unsigned, bool grab, const std::set<std::string>& open, std::vector<Device>& devices) override {
        char byte;
        while (::read(shared_.plugged[0], &byte, 1) == 1) {
            std::lock_guard lock(shared_.mutex);
            shared_.openIdsSeen = open;
            addKeyboard(grab, devices);
            shared_.changed.notify_all();
        }
    }

private:
    // Called with the mutex held.
    bool addKeyboard(bool grab, std::vector<Device>& devices) {
        const int i = static_cast<int>(shared_.writeEnds.size());
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        shared_.writeEnds.push_back(fds[1]);
        std::function<void(const input_event&)> forward;
        if (grab) {
            forward = [this, i](const input_event& e) {
                std::lock_guard lock(shared_.mutex);
                shared_.forwarded.push_back({i, e.type, e.code, e.value});
                shared_.changed.notify_all();
                if (shared_.wake) shared_.wake->post([] {});
            };
        }
        devices.emplace_back(fds[0], "pipe keyboard", forward, [this] {
            std::lock_guard lock(shared_.mutex);
            ++shared_.released;
            shared_.changed.notify_all();
        });
        devices.back().setId("pipe " + std::to_string(fds[0]));
        if (grab && shared_.keysDownAtOpen) {
            devices.back().deferGrab([this] {
                std::lock_guard lock(shared_.mutex);
                shared_.grabAttempts.push_back(std::this_thread::get_id());
                shared_.changed.notify_all();
                return shared_.deferredGrab;
            });
        }
        int feedback[2];
        if (::pipe2(feedback, O_CLOEXEC | O_NONBLOCK) != 0) return false;
        shared_.feedbackWriteEnds.push_back(feedback[1]);
        shared_.feedbackPipes.push_back({feedback[0], feedback[1]});
        devices.back().setFeedback({feedback[0], [this, fd = feedback[0]] {
                                        char buffer[64];
                                        auto n = ::read(fd, buffer, sizeof buffer);
                                        std::lock_guard lock(shared_.mutex);
                                        if (n > 0) shared_.pumped.emplace_back(buffer, static_cast<std::size_t>(n));
                                        shared_.changed.notify_all();
                                    }});
        return true;
    }

    Shared& shared_;
};

input_event record(unsigned short type, unsigned short code, int value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

class EvdevEventHookTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::signal(SIGPIPE, SIG_IGN);  // writing to a keyboard the hook closed must fail, not kill
        shared.wake = &executor;
        ASSERT_EQ(::pipe2(shared.plugged, O_CLOEXEC | O_NONBLOCK), 0);
        monitor.setOnPress([this] { edges.push_back("press"); });
        monitor.setOnRelease([this] { edges.push_back("release"); });
    }
    void TearDown() override {
        monitor.stop();
        for (int fd : closeLater) ::close(fd);
        for (int fd : shared.plugged) ::close(fd);
        for (const auto& pipe : shared.feedbackPipes) {
            for (int fd : pipe) ::close(fd);
        }
    }

    int writeEnd(int keyboard) {
        std::lock_guard lock(shared.mutex);
        int fd = shared.writeEnds.at(static_cast<std::size_t>(keyboard));
        if (std::find(closeLater.begin(), closeLater.end(), fd) == closeLater.end()) closeLater.push_back(fd);
        return fd;
    }
    bool write(int keyboard, const std::vector<input_event>& events) {
        auto bytes = events.size() * sizeof(input_event);
        return ::write(writeEnd(keyboard), events.data(), bytes) == static_cast<ssize_t>(bytes);
    }
    void key(int keyboard, unsigned short code, int value) {
        ASSERT_TRUE(write(keyboard, {record(EV_KEY, code, value), record(EV_SYN, SYN_REPORT, 0)}));
    }
    bool waitForEdges(std::size_t count) {
        return executor.runUntil([&] { return edges.size() >= count; }, std::chrono::seconds(10));
    }
    bool waitForForwarded(const Forwarded& last) {
        // The hook's verdicts need the main executor, so it runs while we wait.
        return executor.runUntil(
            [&] {
                std::lock_guard lock(shared.mutex);
                return std::find(shared.forwarded.begin(), shared.forwarded.end(), last) != shared.forwarded.end();
            },
            std::chrono::seconds(10));
    }
    std::vector<Forwarded> forwarded() {
        std::lock_guard lock(shared.mutex);
        return shared.forwarded;
    }

    ManualExecutor executor;
    PipeKeyboards::Shared shared;
    HotkeyMonitor monitor{executor, std::make_unique<EvdevEventHook>(std::make_unique<PipeKeyboards>(shared))};
    std::vector<std::string> edges;
    std::vector<int> closeLater;
    test::LogCapture logs;
};

TEST_F(EvdevEventHookTest, ConsumedKeyIsWithheldWhileEveryOtherEventPassesInOrder) {
    ASSERT_TRUE(monitor.start());
    EXPECT_TRUE(shared.lastGrab);
    EXPECT_EQ(shared.lastCode, KEY_RIGHTALT);

    ASSERT_TRUE(write(0, {
                             record(EV_MSC, MSC_SCAN, 0x1e), record(EV_KEY, KEY_A, 1), record(EV_SYN, SYN_REPORT, 0),
                             record(EV_KEY, KEY_RIGHTALT, 1), record(EV_SYN, SYN_REPORT, 0),
                             record(EV_KEY, KEY_RIGHTALT, 2), record(EV_SYN, SYN_REPORT, 0),
                             record(EV_KEY, KEY_LEFTALT, 1), record(EV_SYN, SYN_REPORT, 0),
                             record(EV_KEY, KEY_LEFTALT, 0), record(EV_SYN, SYN_REPORT, 0),
                             record(EV_KEY, KEY_RIGHTALT, 0), record(EV_SYN, SYN_REPORT, 0),
                             record(EV_KEY, KEY_A, 0), record(EV_SYN, SYN_REPORT, 0),
                         }));
    ASSERT_TRUE(waitForEdges(2));
    ASSERT_TRUE(shared.waitFor([&] { return shared.forwarded.size() == 12; }));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release"}));
    const Forwarded syn{0, EV_SYN, SYN_REPORT, 0};
    EXPECT_EQ(forwarded(), (std::vector<Forwarded>{{0, EV_MSC, MSC_SCAN, 0x1e},
                                                   {0, EV_KEY, KEY_A, 1},
                                                   syn,
                                                   syn,  // the right Alt press, its repeat and
                                                   syn,  // its release are gone; their frames stay
                                                   {0, EV_KEY, KEY_LEFTALT, 1},
                                                   syn,
                                                   {0, EV_KEY, KEY_LEFTALT, 0},
                                                   syn,
                                                   syn,
                                                   {0, EV_KEY, KEY_A, 0},
                                                   syn}));
}

TEST_F(EvdevEventHookTest, FnIsObservedWithoutGrabbing) {
    monitor.setKey(PushToTalkKey::fn);
    ASSERT_TRUE(monitor.start());
    EXPECT_FALSE(shared.lastGrab);
    EXPECT_EQ(shared.lastCode, KEY_FN);
    key(0, KEY_B, 1);
    key(0, KEY_FN, 1);
    key(0, KEY_FN, 2);
    key(0, KEY_FN, 2);
    key(0, KEY_LEFTMETA, 1);
    key(0, KEY_LEFTMETA, 0);
    key(0, KEY_FN, 0);
    key(0, KEY_B, 0);
    ASSERT_TRUE(waitForEdges(2));
    // Everything written is read before the next edge, so a third edge would show up here.
    key(0, KEY_FN, 1);
    ASSERT_TRUE(waitForEdges(3));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release", "press"}));
    EXPECT_TRUE(forwarded().empty());
}

TEST_F(EvdevEventHookTest, RecordsSplitAcrossReadsAreReassembled) {
    ASSERT_TRUE(monitor.start());
    input_event press = record(EV_KEY, KEY_RIGHTALT, 1);
    const char* bytes = reinterpret_cast<const char*>(&press);
    ASSERT_EQ(::write(writeEnd(0), bytes, 5), 5);
    ASSERT_EQ(::write(writeEnd(0), bytes + 5, sizeof press - 5), static_cast<ssize_t>(sizeof press - 5));
    ASSERT_TRUE(waitForEdges(1));
    EXPECT_EQ(edges, (std::vector<std::string>{"press"}));
}

TEST_F(EvdevEventHookTest, KeyboardThatDisappearsWhileHeldReportsTheReleaseAndIsLetGo) {
    shared.count = 2;
    ASSERT_TRUE(monitor.start());
    key(0, KEY_RIGHTALT, 1);
    ASSERT_TRUE(waitForEdges(1));
    ::close(writeEnd(0));
    closeLater.erase(std::find(closeLater.begin(), closeLater.end(), shared.writeEnds[0]));
    ASSERT_TRUE(waitForEdges(2));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release"}));
    EXPECT_TRUE(shared.waitFor([&] { return shared.released == 1; }));

    // The other keyboard still works.
    key(1, KEY_RIGHTALT, 1);
    key(1, KEY_RIGHTALT, 0);
    ASSERT_TRUE(waitForEdges(4));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release", "press", "release"}));

    // Without keyboards the hook dies: the monitor stops, says why once, and can start again.
    int failures = 0;
    monitor.setOnFailure([&] { ++failures; });
    const int last = writeEnd(1);
    ::close(last);
    std::erase(closeLater, last);
    ASSERT_TRUE(executor.runUntil([&] { return failures == 1; }));
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(logs.errors(), std::vector<std::string>{"stopped watching Right Alt: every keyboard is gone"});
    EXPECT_TRUE(monitor.start());
}

// What comes back through the pass-through side (LEDs) is carried over, for the later one too.
TEST_F(EvdevEventHookTest, KeyboardPluggedInLaterIsWatchedToo) {
    ASSERT_TRUE(monitor.start());
    ASSERT_EQ(::write(shared.plugged[1], "+", 1), 1);
    ASSERT_TRUE(shared.waitFor([&] { return shared.writeEnds.size() == 2; }));
    ASSERT_EQ(::write(shared.feedbackWriteEnds[1], "led", 3), 3);
    EXPECT_TRUE(shared.waitFor([&] { return shared.pumped == std::vector<std::string>{"led"}; }));
    EXPECT_EQ(shared.openIdsSeen.size(), 1u);  // the hook told which keyboard it already had
    key(1, KEY_RIGHTALT, 1);
    key(1, KEY_RIGHTALT, 0);
    ASSERT_TRUE(waitForEdges(2));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release"}));
    monitor.stop();
    EXPECT_EQ(shared.released, 2);
}

TEST_F(EvdevEventHookTest, FailedStartLogsOneLineNamingTheCause) {
    const std::pair<DeviceSource::Outcome, const char*> cases[] = {
        {DeviceSource::Outcome::permissionDenied, "no permission to read the keyboards under /dev/input"},
        {DeviceSource::Outcome::uinputDenied, "/dev/uinput is not writable, so the other keys could not be passed on"},
        {DeviceSource::Outcome::grabbedElsewhere, "another program has grabbed the keyboard"},
        {DeviceSource::Outcome::noKeyboard, "no keyboard has the Right Alt key"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        shared.outcome = cases[i].first;
        EXPECT_FALSE(monitor.start());
        EXPECT_FALSE(monitor.isRunning());
        ASSERT_EQ(logs.errors().size(), i + 1);
        EXPECT_EQ(logs.errors().back(), std::string("cannot watch Right Alt: ") + cases[i].second);
    }
}

TEST_F(EvdevEventHookTest, KeysDownAtStartDeferTheGrabToTheHookThreadUntilTheyAreUp) {
    shared.keysDownAtOpen = true;
    ASSERT_TRUE(monitor.start());  // at once, keys down or not
    // Not grabbed yet: the system sees the keyboard itself, so nothing is passed on or withheld.
    key(0, KEY_RIGHTALT, 1);
    ASSERT_TRUE(waitForEdges(1));
    ASSERT_TRUE(shared.waitFor([&] { return shared.grabAttempts.size() == 1; }));
    {
        std::lock_guard lock(shared.mutex);
        shared.deferredGrab = Device::Grab::taken;
    }
    key(0, KEY_RIGHTALT, 0);
    ASSERT_TRUE(waitForEdges(2));
    ASSERT_TRUE(shared.waitFor([&] { return shared.grabAttempts.size() == 2; }));
    EXPECT_TRUE(forwarded().empty());
    for (auto thread : shared.grabAttempts) EXPECT_NE(thread, std::this_thread::get_id());
    // Grabbed now: the key is withheld and the rest passed on.
    key(0, KEY_RIGHTALT, 1);
    key(0, KEY_B, 1);
    ASSERT_TRUE(waitForForwarded({0, EV_KEY, KEY_B, 1}));
    auto all = forwarded();
    EXPECT_EQ(std::count(all.begin(), all.end(), Forwarded{0, EV_KEY, KEY_RIGHTALT, 1}), 0);
}

TEST_F(EvdevEventHookTest, GrabRefusedOnceTheKeysAreUpStopsTheMonitorWithTheReason) {
    int failures = 0;
    monitor.setOnFailure([&] { ++failures; });
    shared.keysDownAtOpen = true;
    shared.deferredGrab = Device::Grab::refused;
    ASSERT_TRUE(monitor.start());
    key(0, KEY_A, 0);
    ASSERT_TRUE(executor.runUntil([&] { return failures == 1; }));
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(logs.errors(),
              std::vector<std::string>{"stopped watching Right Alt: another program has grabbed pipe keyboard"});
}

TEST_F(EvdevEventHookTest, StopAndRestartReleaseEveryKeyboard) {
    shared.count = 2;
    ASSERT_TRUE(monitor.start());
    int firstWriteEnd = writeEnd(0);
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(shared.opens, 2);
    EXPECT_EQ(shared.released, 2);  // the first pair, before the second was opened
    // The first keyboards are closed: nothing reads what is written to them.
    input_event e = record(EV_KEY, KEY_RIGHTALT, 1);
    EXPECT_EQ(::write(firstWriteEnd, &e, sizeof e), -1);
    EXPECT_EQ(errno, EPIPE);

    key(0, KEY_RIGHTALT, 1);
    ASSERT_TRUE(waitForEdges(1));
    monitor.stop();
    EXPECT_EQ(shared.released, 4);
    EXPECT_FALSE(monitor.isPressed());
}

TEST_F(EvdevEventHookTest, StalledVerdictLetsTheKeyThroughInOrderAndDisablesUntilReEnabled) {
    ASSERT_TRUE(monitor.start());
    // The main executor does not run: the held press waits for its verdict, then goes on.
    ASSERT_TRUE(write(0, {record(EV_KEY, KEY_RIGHTALT, 1), record(EV_SYN, SYN_REPORT, 0), record(EV_KEY, KEY_B, 1)}));
    ASSERT_TRUE(shared.waitFor([&] { return shared.forwarded.size() == 3; }));
    EXPECT_EQ(forwarded(), (std::vector<Forwarded>{
                               {0, EV_KEY, KEY_RIGHTALT, 1}, {0, EV_SYN, SYN_REPORT, 0}, {0, EV_KEY, KEY_B, 1}}));
    // The late press still reaches the monitor, which re-enables the hook.
    ASSERT_TRUE(waitForEdges(1));
    // The press went on, so its release follows it (else the key would stick) and is reported.
    key(0, KEY_RIGHTALT, 0);
    ASSERT_TRUE(waitForEdges(2));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release"}));
    ASSERT_TRUE(waitForForwarded({0, EV_KEY, KEY_RIGHTALT, 0}));
    // And the next press is withheld again.
    key(0, KEY_RIGHTALT, 1);
    key(0, KEY_C, 1);
    ASSERT_TRUE(waitForForwarded({0, EV_KEY, KEY_C, 1}));
    auto all = forwarded();
    EXPECT_EQ(std::count(all.begin(), all.end(), Forwarded{0, EV_KEY, KEY_RIGHTALT, 1}), 1);
    EXPECT_EQ(edges.size(), 3u);
}

TEST(InputDeviceSourceTest, FolderWithoutKeyboardsFailsTheStart) {
    test::TempDir folder;
    test::writeFile(folder / "event0", "not a device");
    test::writeFile(folder / "mouse0", "");
    ManualExecutor executor;
    HotkeyMonitor monitor(executor, std::make_unique<EvdevEventHook>(std::make_unique<InputDeviceSource>(folder.path())));
    EXPECT_FALSE(monitor.start());
    EXPECT_FALSE(monitor.isRunning());
}

}  // namespace
}  // namespace zarn::evdev
