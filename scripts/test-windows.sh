#!/usr/bin/env bash
# Cross-builds with mingw-w64 what of Dovezurad builds without Qt, with its tests, and runs the
# tests under Wine. Ends with CTest's summary line.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build/windows-tests # not build/windows: the Windows program is built there, with Qt
# A Wine prefix of the tests' own, kept between runs: making one takes a good part of a minute.
export WINEPREFIX="$PWD/build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko to offer installing

# The toolchain counts only when the folder is first configured; later runs keep it.
bash scripts/build.sh "$build" --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DDOVEZURAD_WINDOW=OFF \
    -DDOVEZURAD_TESTS=ON -DDOVEZURAD_WERROR=ON

# Wine's services start with the first program the prefix runs, and keep its output open: were
# that a test, ctest would wait for them forever. wineboot starts them here, with no output.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
started=$SECONDS
wine wineboot --init </dev/null >/dev/null 2>&1
echo "Wine listo en $((SECONDS - started)) s"

# ---- The Qt-dependent Windows checks (the program itself under Wine) go here. ----
if [[ -f scripts/test-windows-program.sh ]]; then
    bash scripts/test-windows-program.sh
fi

log="$build/ctest.log"
status=0
ctest --test-dir "$build" --output-on-failure --timeout 300 --parallel "$(nproc)" \
    2>&1 | tee "$log" || status=$?
# Skipped tests are listed after the summary; the summary is the last word.
grep -E '^[0-9]+% tests passed' "$log" || true
exit "$status"
