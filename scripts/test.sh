#!/usr/bin/env bash
# Sets up a Debian 12 machine for Quorvex and runs the whole test suite:
# a normal build, then the same tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh --with-tests
jobs=$(nproc)

echo "== release build"
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build/release && ctest --output-on-failure -j "$jobs" --timeout 900)

echo "== unit tests once more, in random order"
for binary in build/release/tests/tests_* build/release/tests/gui/tests_gui_*; do
    [ -f "$binary" ] && [ -x "$binary" ] || continue
    QT_QPA_PLATFORM=offscreen "$binary" --gtest_shuffle --gtest_brief=1
done

echo "== pictures of the administration windows (Xvfb)"
rm -rf build/release/screenshots
bash scripts/screenshots.sh build/release/screenshots

echo "== sanitizer build (ASan + UBSan)"
bash scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build/asan && ctest --output-on-failure -j "$jobs" --timeout 900)
