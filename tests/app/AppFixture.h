#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "app/Application.h"
#include "base/ManualExecutor.h"
#include "dictation/DictationController.h"
#include "dictation/FakeDictation.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace zarn::test {

class FakePermissions final : public Permissions {
public:
    bool accessibility = true;
    bool microphone = true;
    std::optional<std::string> help;
    int prompts = 0;
    int openedAccessibility = 0;

    bool hasAccessibility() override { return accessibility; }
    bool hasMicrophone() override { return microphone; }
    bool promptForAccessibility() override {
        ++prompts;
        return accessibility;
    }
    std::optional<std::string> accessibilityHelp() override { return std::exchange(help, std::nullopt); }
    std::optional<std::string> openAccessibilitySettings() override {
        ++openedAccessibility;
        return "how to grant";
    }
    std::optional<std::string> openMicrophoneSettings() override { return std::nullopt; }
};

class FakeHud final : public HudPresenter {
public:
    std::vector<std::string> calls;
    void present() override { calls.push_back("present"); }
    void dismiss() override { calls.push_back("dismiss"); }
};

// The application's collaborators on virtual time, with a controller over fakes.
class AppFixture : public ::testing::Test {
protected:
    int logCount(const std::string& message) const {
        const auto records = log.records();
        return static_cast<int>(std::count_if(records.begin(), records.end(), [&](const auto& r) { return r.message == message; }));
    }

    // The launch arms the key itself.
    FakeDictation rig{false};
    ManualExecutor& executor = rig.executor;
    TempDir& dir = rig.dir;
    bool& systemSpeech = rig.systemSpeech;
    Settings& settings = rig.settings;
    FakeMicrophone& microphoneAnswer = rig.microphone;
    FakeKeyMonitor*& hotkey = rig.key;
    std::unique_ptr<DictationController>& controller = rig.controller;
    FakePermissions permissions;
    LogCapture log;
};

}  // namespace zarn::test
