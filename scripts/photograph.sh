#!/usr/bin/env bash
# Starts the built program on a virtual X server (Xvfb) of the given size, photographs the
# screen once the window is up, and ends the program.
# Usage: scripts/photograph.sh OUTPUT.png WIDTHxHEIGHT [program arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

output=${1:?output file}
size=${2:?screen size}
shift 2
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
    output=$1
    shift
    build/release/window/dovezurad "$@" &
    program=$!
    sleep 3
    status=0
    build/release/window/dovezurad_screenshot "$output" || status=$?
    kill "$program"
    wait "$program" || true
    exit "$status"
' _ "$output" "$@"
