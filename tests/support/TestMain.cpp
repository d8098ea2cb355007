#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/inotify/InotifyFileWatcher.h"
#include "support/MainExecutor.h"

namespace zarn::test {

ManualExecutor& mainExecutor() {
    // Made before any shared service, so destroyed after them.
    static ManualExecutor executor;
    return executor;
}

}  // namespace zarn::test

// Every test binary knows where the sources and the build are, whoever starts it.
int main(int argc, char** argv) {
    setenv("ZARN_TEST_SOURCE_DIR", ZARN_TEST_SOURCE_DIR, 0);
    setenv("ZARN_BINARY_DIR", ZARN_BINARY_DIR, 0);
    zarn::inotify::install();
    zarn::setMainExecutor(zarn::test::mainExecutor());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
