#pragma once

#include <cstdlib>

// Points the binding at the runtime library built here before anything loads it (the scripted
// fake is handed in as a table instead: FakeRuntime.h); ZARN_TEST_RUNTIME comes from CMakeLists.txt.
namespace zarn::test {
inline const bool runtimeChosen = [] {
    ::setenv("ZARN_TRANSCRIBE_LIBRARY", ZARN_TEST_RUNTIME, 1);
    return true;
}();
}  // namespace zarn::test
