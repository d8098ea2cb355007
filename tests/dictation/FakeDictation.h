#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/ManualExecutor.h"
#include "dictation/DictationController.h"
#include "dictation/Fakes.h"
#include "support/TempDir.h"

namespace zarn::test {

// A controller over fakes on virtual time, driven into each state the views show.
struct FakeDictation {
    explicit FakeDictation(bool armKey = true) {
        remake();
        if (armKey) controller->activate();
    }
    // A new controller; `fixed` serves every dictation instead of the formatter picked per dictation.
    void remake(std::shared_ptr<TextFormatter> fixed = nullptr, RunRecorder* runs = nullptr,
                Executor* background = nullptr) {
        controller.reset();
        auto keyOwned = std::make_unique<FakeKeyMonitor>();
        auto captureOwned = std::make_unique<FakeCapture>();
        key = keyOwned.get();
        capture = captureOwned.get();
        controller = std::make_unique<DictationController>(DictationController::Collaborators{
            .main = executor, .background = background ? *background : executor, .clock = executor,
            .settings = settings, .microphone = microphone, .hotkey = std::move(keyOwned),
            .capture = std::move(captureOwned), .makeEngine = [this] { return nextEngine(); },
            .formatter = std::move(fixed),
            .makeFormatter = [this](bool smart) { formatterRequests.push_back(smart); return formatter; },
            .dictionary = dictionary, .recorder = runs ? *runs : recorder, .inserter = inserter, .sounds = sounds});
    }
    void listen() {
        key->press();
        executor.runUntilIdle();
    }
    void say(const std::string& text) {
        engine->emit(text);
        executor.runUntilIdle();
    }
    void release() {
        key->release();
        executor.runUntilIdle();
    }
    void level(float value) {
        capture->onLevel(value);
        executor.runUntilIdle();
    }
    // Released, with the engine's last text still to come.
    void finishing() {
        engine->endStreamOnFinish = false;
        release();
    }
    void fail() {
        microphone.granted = false;
        listen();
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
    // The engine of the current dictation: the first press gets this one, every later one a
    // new engine; `setupEngine` scripts each as it is handed out.
    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::vector<std::shared_ptr<FakeEngine>> engines;
    std::function<void(FakeEngine&)> setupEngine;
    std::shared_ptr<FakeFormatter> formatter = std::make_shared<FakeFormatter>();
    std::vector<bool> formatterRequests;
    std::unique_ptr<DictationController> controller;

private:
    std::shared_ptr<FakeEngine> nextEngine() {
        if (!engines.empty()) engine = std::make_shared<FakeEngine>();
        if (setupEngine) setupEngine(*engine);
        engines.push_back(engine);
        return engine;
    }
};

}  // namespace zarn::test
