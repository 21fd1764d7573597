#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [seconds]
# Fuzzes the chunk-fed script transform against its whole-text reference, with libFuzzer from
# Debian's clang, for the given time (600 s unless told), and then the recovery of dead runs
# over made-up records and recovery files, and undo over made-up undo records, each for a
# quarter of it (5 s at least). The test command runs them briefly. New inputs collect in
# build/fuzz/transform-corpus, recovery-corpus and undo-corpus; a failing one is left as
# build/fuzz/crash-*, and is worth adding to the committed corpus (tests/fuzz/transform-corpus,
# recovery-corpus or undo-corpus) once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
build=build/fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DDOVEZURAD_WINDOW=OFF -DDOVEZURAD_TESTS=OFF -DDOVEZURAD_SANITIZE=OFF \
    -DDOVEZURAD_FUZZ=ON -DDOVEZURAD_WERROR=ON >/dev/null
# The rewrite library too, so that Clang's warnings are errors there as well.
cmake --build "$build" --parallel "$(nproc)" --target dovezurad_rewrite scripttransform_fuzz \
    recovery_fuzz undo_fuzz

mkdir -p "$build/transform-corpus"
# New inputs go to the first folder only: the committed corpus is read, never written.
"$build/tests/fuzz/scripttransform_fuzz" -max_total_time="$seconds" -max_len=8192 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$build/" \
    "$build/transform-corpus" tests/fuzz/transform-corpus

recovery_seconds=$((seconds / 4 > 5 ? seconds / 4 : 5))
mkdir -p "$build/recovery-corpus"
"$build/tests/fuzz/recovery_fuzz" -max_total_time="$recovery_seconds" -max_len=16384 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$build/" \
    "$build/recovery-corpus" tests/fuzz/recovery-corpus

# Undo and the next run over made-up undo records, for as long: a record's numbers must make
# neither much memory (a quarter of a GiB at most) nor long work (10 s an input).
mkdir -p "$build/undo-corpus"
"$build/tests/fuzz/undo_fuzz" -max_total_time="$recovery_seconds" -max_len=4096 \
    -timeout=10 -rss_limit_mb=256 -print_final_stats=1 -artifact_prefix="$build/" \
    "$build/undo-corpus" tests/fuzz/undo-corpus
