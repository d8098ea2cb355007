#pragma once

#include <cstdlib>

// Points the binding at the runtime this test executable is built against (the real one or
// the scripted fake) before anything loads it; ZARN_TEST_RUNTIME comes from CMakeLists.txt.
namespace zarn::test {
inline const bool runtimeChosen = [] {
    ::setenv("ZARN_TRANSCRIBE_LIBRARY", ZARN_TEST_RUNTIME, 1);
    return true;
}();
}  // namespace zarn::test
