#!/usr/bin/env bash
# Usage: scripts/build.sh [BUILD_DIR [extra cmake options...]]; build/release when none is given.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build/release}
shift || true
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
