#pragma once

#include <memory>
#include <string>

#include "base/ManualExecutor.h"
#include "dictation/DictationController.h"
#include "dictation/Fakes.h"
#include "support/TempDir.h"

namespace zarn::test {

// A controller over fakes on virtual time, driven into each state the views show.
struct FakeDictation {
    explicit FakeDictation(bool armKey = true) {
        auto keyOwned = std::make_unique<FakeKeyMonitor>();
        auto captureOwned = std::make_unique<FakeCapture>();
        key = keyOwned.get();
        capture = captureOwned.get();
        controller = std::make_unique<DictationController>(DictationController::Collaborators{
            .main = executor, .background = executor, .clock = executor, .settings = settings,
            .microphone = microphone, .hotkey = std::move(keyOwned), .capture = std::move(captureOwned),
            .makeEngine = [this] { return engine; }, .formatter = formatter, .makeFormatter = nullptr,
            .dictionary = dictionary, .recorder = recorder, .inserter = inserter, .sounds = sounds});
        if (armKey) controller->activate();
    }
    void listen() {
        key->press();
        executor.runUntilIdle();
    }
    void say(const std::string& text) {
        engine->emit(text);
        executor.runUntilIdle();
    }
    void level(float value) {
        capture->onLevel(value);
        executor.runUntilIdle();
    }
    // Released, with the engine's last text still to come.
    void finishing() {
        engine->endStreamOnFinish = false;
        key->release();
        executor.runUntilIdle();
    }
    void fail() {
        microphone.granted = false;
        key->press();
        executor.runUntilIdle();
    }

    ManualExecutor executor;
    TempDir dir;
    bool systemSpeech = true;
    Settings settings{std::make_shared<DefaultsStore>(dir / "defaults.json"), [this] { return systemSpeech; },
                      [] { return std::vector<std::string>{"en"}; }};
    FakeMicrophone microphone;
    FakeDictionary dictionary;
    FakeRecorder recorder;
    FakeInserter inserter;
    FakeSounds sounds;
    FakeKeyMonitor* key = nullptr;
    FakeCapture* capture = nullptr;
    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::shared_ptr<FakeFormatter> formatter = std::make_shared<FakeFormatter>();
    std::unique_ptr<DictationController> controller;
};

}  // namespace zarn::test
