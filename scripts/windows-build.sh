#!/usr/bin/env bash
# Cross-builds dovezurad.exe for 64-bit Windows (the window and the command line in one program,
# linked whole into one .exe) with the Qt that scripts/windows-qt.sh built, and packs it as a ZIP
# and an NSIS installer. Prints where they are.
# Usage: scripts/windows-build.sh [BUILD_DIR]     (build/windows by default)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build/windows}
started=$SECONDS
fail() {
    printf 'windows-build.sh: %s\n' "$*" >&2
    exit 1
}

bash scripts/setup.sh

qt_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
qt_version=${qt_version%%+*}
qt=${DOVEZURAD_QT_MINGW:-${XDG_CACHE_HOME:-$HOME/.cache}/dovezurad/qt-$qt_version-mingw}
if [[ ! -f $qt/dovezurad-qt.stamp ]]; then
    fail "no está el Qt para Windows en $qt.
Compílelo una vez en esta máquina con «bash scripts/windows-qt.sh» (30-40 minutos con dos
núcleos libres y 2,3 GB de espacio temporal); DOVEZURAD_QT_MINGW elige otra carpeta."
fi

echo "[1/3] Configurando con el Qt de $qt..."
mkdir -p "$build_dir"
# qt-cmake loads the toolchain file Qt was built with; the project's own, as it is now, is
# loaded instead, so that a change to it reaches the program without rebuilding Qt.
"$qt/bin/qt-cmake" -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DQT_CHAINLOAD_TOOLCHAIN_FILE=$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DDOVEZURAD_WINDOW=ON -DDOVEZURAD_TESTS=OFF >"$build_dir/configure.log" 2>&1 ||
    fail "la configuración falló; detalles en $build_dir/configure.log"

echo "[2/3] Compilando dovezurad.exe..."
cmake --build "$build_dir" --parallel "$(nproc)" --target dovezurad ||
    fail "no se pudo compilar dovezurad.exe (el error del compilador está arriba)"
exe=$build_dir/window/dovezurad.exe

# Only the system's own DLLs: nothing of mingw's or Qt's may be needed beside the program.
system_dlls='^(kernel32|user32|gdi32|gdiplus|shell32|shlwapi|ole32|oleaut32|uuid|comdlg32|advapi32|winmm|imm32|ws2_32|version|uxtheme|dwmapi|netapi32|userenv|winspool\.drv|setupapi|wtsapi32|authz|bcrypt|mpr|shcore|dwrite|d3d9|d3d11|dxgi|msvcrt|api-ms-win-[a-z0-9-]+)(\.dll)?$'
mapfile -t dlls < <(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}')
for dll in "${dlls[@]}"; do
    [[ $dll =~ $system_dlls ]] || fail "dovezurad.exe necesita $dll, que no es de Windows"
done

echo "[3/3] Empaquetando el ZIP y el instalador..."
(cd "$build_dir" && cpack -G "ZIP;NSIS" >cpack.log 2>&1) ||
    fail "CPack falló; detalles en $build_dir/cpack.log"

echo "Listo en $((SECONDS - started)) s. dovezurad.exe solo usa DLL de Windows: ${dlls[*]}"
for file in "$exe" "$build_dir"/dovezurad-*-windows-x86_64.{zip,exe}; do
    printf '  %s (%s)\n' "$file" "$(du -h "$file" | cut -f1)"
done
