#!/usr/bin/env bash
# Regenerates docs/dovezurad.png, the README's screenshot: Dovezurad opened on a folder of
# example scripts, on a virtual X server (Xvfb) the size of the window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOVEZURAD_TESTS=ON >/dev/null
cmake --build build/release --parallel "$(nproc)" --target dovezurad dovezurad_screenshot

# A fixed path, so that the folder list looks the same every time; the samples a first start
# opens on.
example=$(bash scripts/samples.sh /tmp/dovezurad-ejemplo/guiones)
trap 'rm -rf /tmp/dovezurad-ejemplo' EXIT

mkdir -p docs
bash scripts/photograph.sh docs/dovezurad.png 361x233 "$example"
echo "docs/dovezurad.png"
