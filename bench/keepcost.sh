#!/usr/bin/env bash
# What keeping the originals adds to a run over 20,000 scripts, measured in pairs: a pass without
# keeping beside a pass keeping, in the order A B B A, so that a drift of the disk over the sitting
# weighs on both sides alike. A pass varies by 5 to 25 % on a small machine, more than keeping
# costs, and passes taken far apart compare the drift as much as the runs.
# Usage: bench/keepcost.sh [work folder] [rounds]   (each round is two pairs, about 40 s)
set -euo pipefail
cd "$(dirname "$0")/.."

export DOVEZURAD_BENCH_DIR=${1:-/var/tmp/dovezurad-bench}
rounds=${2:-6}
mkdir -p "$DOVEZURAD_BENCH_DIR"
bench=build/bench/bench/rewrite_bench
if [[ ! -x $bench ]]; then
    bash scripts/build.sh build/bench -DCMAKE_BUILD_TYPE=Release -DDOVEZURAD_BENCH=ON \
        -DDOVEZURAD_TESTS=OFF -DDOVEZURAD_WINDOW=OFF >/dev/null
fi

# Milliseconds of one pass (two runs), keeping (1) or not (0).
pass() {
    "$bench" --benchmark_filter="keepOriginals/20000/$1/" --benchmark_format=csv 2>/dev/null |
        awk -F, '/keepOriginals/ { printf "%.0f\n", $3 }'
}

pass 1 >/dev/null # makes the scripts and a record to replace, outside the count
for ((round = 1; round <= rounds; ++round)); do
    for order in "0 1" "1 0"; do
        declare -A took=()
        for keep in $order; do
            took[$keep]=$(pass "$keep")
        done
        echo "${took[0]} ${took[1]}"
    done
done | awk '
    { without[NR] = $1; with[NR] = $2; extra[NR] = ($2 / $1 - 1) * 100
      printf "pair %2d: %5d ms without keeping, %5d ms keeping, %+6.1f %%\n", NR, $1, $2, extra[NR] }
    function median(values, count,    sorted, i, j, swap) {
        for (i = 1; i <= count; ++i) sorted[i] = values[i]
        for (i = 2; i <= count; ++i)
            for (j = i; j > 1 && sorted[j - 1] > sorted[j]; --j) {
                swap = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = swap
            }
        return count % 2 ? sorted[(count + 1) / 2] : (sorted[count / 2] + sorted[count / 2 + 1]) / 2
    }
    END {
        for (i = 1; i <= NR; ++i) sum += extra[i]
        mean = sum / NR
        for (i = 1; i <= NR; ++i) squares += (extra[i] - mean) ^ 2
        error = NR > 1 ? sqrt(squares / (NR - 1) / NR) : 0
        printf "keeping adds %+.1f %% (median of %d pairs), %+.1f %% +- %.1f (mean, standard error)\n",
            median(extra, NR), NR, mean, error
        printf "medians of the passes: %.0f ms without keeping, %.0f ms keeping\n",
            median(without, NR), median(with, NR)
    }'
