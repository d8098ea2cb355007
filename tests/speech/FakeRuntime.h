#pragma once

#include <cstdint>
#include <string>

#include "speech/TranscribeLibrary.h"

namespace zarn::test {

// A stand-in for the transcribe runtime, made of plain functions (tests/speech/FakeTranscribe.cpp)
// and handed to the binding as its table when the test program starts: statuses and texts are
// scripted, calls counted, records checked.
struct FakeRuntime {
    static const TranscribeLibrary::Api& api();
    static bool loaded();  // the binding uses the fake
    static void reset();
    // The next `times` calls of `function` ("open", "begin", "feed", ...; -1: all) answer `status`.
    static void setStatus(const char* function, std::int32_t status, int times = 1);
    // Pointers may be null; lengths are reported as given, even beyond the bytes.
    static void setText(const char* committed, std::uint64_t committedLen, const char* tentative, std::uint64_t tentativeLen);
    static void setText(const std::string& committed, const std::string& tentative) {
        setText(committed.data(), committed.size(), tentative.data(), tentative.size());
    }
    static void openGivesNoSession(bool on);
    static int calls(const char* function);
    static std::string language(int index);  // of the index-th begin; "(none)" for NULL
    static std::size_t fedCount();
    static float fedSample(std::size_t i);
    static bool extraArgumentsNull();  // the last feed and finalize asked for no text record
    static int liveSessions();
    static int freedSessions();
};

}  // namespace zarn::test
