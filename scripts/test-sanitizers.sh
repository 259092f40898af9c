#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer (g++) in
# build-sanitize/ and runs the whole test suite there. Any report fails the run: ASan
# aborts on its first finding, UBSan is made fatal by the build flags, LeakSanitizer is on.
# Extra arguments go to ctest (e.g. -R imaging_).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${PICTELLE_SANITIZE_BUILD_DIR:-build-sanitize}

if [ ! -f "$build_dir/build.ninja" ]; then
    # Debug info for readable reports; -O1 keeps the instrumented tests quick.
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DPICTELLE_SANITIZE=ON >/dev/null
fi
cmake --build "$build_dir"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Leaks inside the system's libraries (fontconfig, the X and GL stacks Qt loads) are not
# ours to fix; everything else fails the run.
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0
ctest --test-dir "$build_dir" --output-on-failure -j2 "$@"
