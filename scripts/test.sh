#!/usr/bin/env bash
# Installs the dependencies, builds everything with warnings as errors under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test (the end-to-end
# tests start their own Xvfb, PulseAudio and session buses), with the debug checks of the
# thread discipline and of one-shot replies on.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=${ZARN_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_WERROR=ON -DZARN_SANITIZE=ON -DZARN_DCHECK=ON
cmake --build "$build" -j"$(nproc)"

# No strict string checks: xkbcommon, under every Qt window on X11, hands the C library
# strings that are not NUL-terminated, and the check would abort the widget tests there.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Tests never log to the journal of the machine they run on.
export ZARN_LOG_STDERR=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600

# The Debian package: a Release build of the programs and the runtime only, in build-package/,
# then lintian, its contents, its metadata and the installed programs in a throwaway root.
bash scripts/check-package.sh
