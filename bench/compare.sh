#!/usr/bin/env bash
# Runs the rewrite benchmarks, then times the same work done by dd, tr and sed in the same
# sitting, on the same files. Usage: bench/compare.sh [work folder]
set -euo pipefail
cd "$(dirname "$0")/.."

export DOVEZURAD_BENCH_DIR=${1:-/var/tmp/dovezurad-bench}
mkdir -p "$DOVEZURAD_BENCH_DIR"

bash scripts/build.sh build/bench -DCMAKE_BUILD_TYPE=Release -DDOVEZURAD_BENCH=ON \
    -DDOVEZURAD_TESTS=OFF -DDOVEZURAD_WINDOW=OFF >/dev/null

build/bench/bench/rewrite_bench --benchmark_filter='rewriteLargeScript/1024'
build/bench/bench/rewrite_bench --benchmark_filter='rewriteLargeScript/2048'
build/bench/bench/rewrite_bench --benchmark_filter='rewriteManyScripts'

large="$DOVEZURAD_BENCH_DIR/large/script-1024MiB.txt"
many="$DOVEZURAD_BENCH_DIR/many-20000"
copy="$DOVEZURAD_BENCH_DIR/large/copy.dat"
TIMEFORMAT=%R

echo
echo "Same work by other tools, seconds:"
sync
printf 'dd conv=fdatasync, 1 GiB:      '
{ time dd if="$large" of="$copy" bs=1M conv=fdatasync status=none; } 2>&1
rm -f "$copy"
printf "tr '{}' '<>', 1 GiB:            "
{ time tr '{}' '<>' <"$large" >"$copy"; } 2>&1
rm -f "$copy"
printf "sed -i 'y/{}/<>/', 1 GiB:       "
{ time sed -i 'y/{}/<>/' "$large"; } 2>&1
sed -i 'y/<>/{}/' "$large"
printf "sed -i 'y/{}/<>/', 20000 files: "
{ time sed -i 'y/{}/<>/' "$many"/*.txt; } 2>&1
sed -i 'y/<>/{}/' "$many"/*.txt
