#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: once as built for use with GCC, once built
# with clang under AddressSanitizer and UndefinedBehaviorSanitizer, so that both compilers stay
# clean.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Options named in full, so that a folder configured otherwise before still builds every test.
options=(-DDOVEZURAD_TESTS=ON -DDOVEZURAD_WINDOW=ON -DDOVEZURAD_WERROR=ON)

# The benchmarks are built too, never run: they must not fall behind the code they measure.
bash scripts/build.sh build/release "${options[@]}" -DDOVEZURAD_SANITIZE=OFF -DDOVEZURAD_BENCH=ON
ctest --test-dir build/release --output-on-failure --timeout 600

bash scripts/build.sh build/sanitize-clang "${options[@]}" -DDOVEZURAD_SANITIZE=ON \
    -DCMAKE_CXX_COMPILER=clang++
ctest --test-dir build/sanitize-clang --output-on-failure --timeout 600

# The chunk-fed script transform against its whole-text reference, briefly, in a Clang build;
# scripts/fuzz.sh runs it for longer.
bash scripts/fuzz.sh 20

# The part without Qt on Windows: cross-built with mingw-w64, its tests run under Wine.
bash scripts/test-windows.sh
