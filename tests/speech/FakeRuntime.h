#pragma once

#include <cstdint>
#include <string>

#include "speech/TestRuntime.h"
#include "speech/TranscribeLibrary.h"

namespace zarn::test {

// The controls of the fake runtime (tests/speech/FakeTranscribe.cpp), which the test
// executables load through ZARN_TRANSCRIBE_LIBRARY in place of the real one.
struct FakeRuntime {
    template <class F>
    static F get(const char* name) {
        return reinterpret_cast<F>(TranscribeLibrary::symbol(name));
    }
    static bool loaded() { return TranscribeLibrary::symbol("fake_reset") != nullptr; }
    static void reset() {
        get<void (*)()>("fake_reset")();
        TranscribeLibrary::resetForTesting();
    }
    static void setStatus(const char* function, std::int32_t status, int times = 1) {
        get<void (*)(const char*, std::int32_t, int)>("fake_set_status")(function, status, times);
    }
    static void setText(const char* committed, std::uint64_t committedLen, const char* tentative, std::uint64_t tentativeLen) {
        get<void (*)(const char*, std::uint64_t, const char*, std::uint64_t)>("fake_set_text")(committed, committedLen,
                                                                                              tentative, tentativeLen);
    }
    static void setText(const std::string& committed, const std::string& tentative) {
        setText(committed.data(), committed.size(), tentative.data(), tentative.size());
    }
    static void openGivesNoSession(bool on) { get<void (*)(int)>("fake_open_gives_no_session")(on ? 1 : 0); }
    static int calls(const char* function) { return get<int (*)(const char*)>("fake_calls")(function); }
    static std::string language(int index) {
        const char* l = get<const char* (*)(int)>("fake_language")(index);
        return l ? l : "<no call>";
    }
    static std::size_t fedCount() { return get<std::size_t (*)()>("fake_fed_count")(); }
    static float fedSample(std::size_t i) { return get<float (*)(std::size_t)>("fake_fed_sample")(i); }
    static bool extraArgumentsNull() { return get<int (*)()>("fake_extra_arguments_null")() != 0; }
    static int liveSessions() { return get<int (*)()>("fake_live_sessions")(); }
    static int freedSessions() { return get<int (*)()>("fake_freed_sessions")(); }
};

}  // namespace zarn::test
