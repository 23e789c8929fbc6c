#!/usr/bin/env bash
# Builds the whole program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan and runs every test there. Leak detection is on; the suppressions name only
# code outside this project (scripts/lsan.supp).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTERO_SANITIZE=ON ${CMAKE_ARGS:-} >/dev/null
cmake --build build-asan
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0:strict_string_checks=0"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# QtWebEngine's own code (Chromium) frees objects with a mismatching size, which the sanitizer
# cannot be told per library; that check is off only for the tests that load web pages (directly
# or through a program they start).
web_tests='^tst_ui_(vendor|browser|program|helpers|words)$'
ctest --test-dir build-asan --output-on-failure -j2 -E "$web_tests" "$@"
ASAN_OPTIONS="$ASAN_OPTIONS:new_delete_type_mismatch=0" ctest --test-dir build-asan --output-on-failure -R "$web_tests"
