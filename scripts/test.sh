#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: once as built for use, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

bash scripts/build.sh build/release
ctest --test-dir build/release --output-on-failure --timeout 600

bash scripts/build.sh build/sanitize -DDOVEZURAD_SANITIZE=ON
ctest --test-dir build/sanitize --output-on-failure --timeout 600
