#!/usr/bin/env bash
# Runs the rewrite benchmarks and the run through the window, then times the same work done by
# dd, tr and sed in the same sitting, on the same files. Usage: bench/compare.sh [work folder]
set -euo pipefail
cd "$(dirname "$0")/.."

export DOVEZURAD_BENCH_DIR=${1:-/var/tmp/dovezurad-bench}
mkdir -p "$DOVEZURAD_BENCH_DIR"

bash scripts/build.sh build/bench -DCMAKE_BUILD_TYPE=Release -DDOVEZURAD_BENCH=ON \
    -DDOVEZURAD_TESTS=OFF -DDOVEZURAD_WINDOW=ON >/dev/null

build/bench/bench/rewrite_bench --benchmark_filter='rewriteLargeScript/1024'
build/bench/bench/rewrite_bench --benchmark_filter='rewriteLargeScript/2048'
build/bench/bench/rewrite_bench --benchmark_filter='rewriteManyScripts'
echo
echo "The run through the window (offscreen), against the core alone:"
QT_QPA_PLATFORM=offscreen build/bench/bench/window_bench 2000 20000 40000

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
for count in 2000 20000 40000; do
    printf "sed -i 'y/{}/<>/', %5d files of the window run: " "$count"
    # Through xargs: 40,000 names do not fit on one command line.
    scripts=(find "$DOVEZURAD_BENCH_DIR/window-$count" -maxdepth 1 -name '*.txt' -print0)
    { time "${scripts[@]}" | xargs -0 sed -i 'y/{}/<>/'; } 2>&1
    "${scripts[@]}" | xargs -0 sed -i 'y/<>/{}/'
done
