#!/usr/bin/env bash
# Sets everything up, builds the program and starts it on a folder of sample scripts, copied
# fresh outside the checkout at each start. Where there is no display, it starts it under Xvfb
# instead, saves a screenshot of it and says where.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The folder and options of the test run, so that the two share one build; only the program
# and the screenshot tool are built here.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOVEZURAD_TESTS=ON >/dev/null
cmake --build build/release --parallel "$(nproc)" --target dovezurad dovezurad_screenshot

samples=$(bash scripts/samples.sh "${TMPDIR:-/tmp}/dovezurad-ejemplos")
echo "Scripts de ejemplo en $samples"
program=build/release/window/dovezurad
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    exec "$program" "$samples"
fi

screenshot=build/release/dovezurad.png
echo "No hay pantalla: Dovezurad se inicia en una pantalla virtual (Xvfb) para fotografiarlo."
bash scripts/photograph.sh "$screenshot" 640x480 "$samples"
echo "Captura de pantalla guardada en $screenshot"
