#!/usr/bin/env bash
# One sanitizer build (clang, AddressSanitizer + UndefinedBehaviorSanitizer) serves both the
# tests and the fuzz targets: builds everything, runs all tests, then runs each fuzz target
# for a short while on its corpus. Any failure, sanitizer report, leak or hang fails it.
# FUZZ_SECONDS (default 20) sets the time per fuzz target; 0 skips the fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DQUARNEL_SANITIZE=ON -DQUARNEL_FUZZ=ON >/dev/null
cmake --build build-test -j2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir build-test --output-on-failure -j2
if [ "${FUZZ_SECONDS:-20}" != 0 ]; then
    fuzz/run.sh --build build-test --time "${FUZZ_SECONDS:-20}"
fi
