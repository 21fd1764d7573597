#!/usr/bin/env bash
# Builds the Qt that the Windows program is linked with: a minimal static Qt (Core, Gui, Widgets and
# the windows platform plugin) for x86_64 mingw-w64, from Debian's own qt6-base source, with the
# Linux Qt of the same version as host tools. Debian ships no Qt for mingw-w64, so this is built
# once per machine into a cache outside the source tree:
#   ${DOVEZURAD_QT_MINGW:-~/.cache/dovezurad/qt-<version>-mingw}
# A second run finds it and stops. The build needs about 2 GB of temporary space (beside the
# cache, removed at the end) and 30-40 minutes on two cores. JOBS sets the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
say() { printf '%s\n' "$*"; }
fail() {
    printf 'windows-qt.sh: %s\n' "$*" >&2
    exit 1
}
elapsed() {
    local s=$((SECONDS - started))
    printf '%d min %02d s' $((s / 60)) $((s % 60))
}

# --- Tools ------------------------------------------------------------------------------------
# The command each build step runs, and the Debian package that brings it.
declare -A package_of=(
    [cmake]=cmake
    [ninja]=ninja-build
    [perl]=perl
    [x86_64-w64-mingw32-gcc-posix]=gcc-mingw-w64-x86-64-posix
    [x86_64-w64-mingw32-g++-posix]=g++-mingw-w64-x86-64-posix
    [x86_64-w64-mingw32-windres]=binutils-mingw-w64-x86-64
    [dpkg-source]=dpkg-dev
    [dpkg-architecture]=dpkg-dev
    [apt-get]=apt
)
missing_packages() {
    local command
    for command in "${!package_of[@]}"; do
        command -v "$command" >/dev/null || echo "${package_of[$command]}"
    done
    # The host tools (moc, rcc, uic) and their CMake files come from the Linux Qt.
    [[ $(dpkg-query -W -f='${Status}' qt6-base-dev 2>/dev/null) == "install ok installed" ]] ||
        echo qt6-base-dev
}

say "[1/6] Comprobando las herramientas..."
missing=$(missing_packages | sort -u | xargs)
if [[ -n $missing ]]; then
    if ((EUID != 0)); then
        fail "faltan paquetes para compilar Qt para Windows. Instálelos como root con:
  apt-get update && apt-get install -y --no-install-recommends $missing"
    fi
    say "      Instalando: $missing"
    export DEBIAN_FRONTEND=noninteractive
    # shellcheck disable=SC2086 # one word per package
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends $missing >/dev/null; } ||
        fail "no se pudieron instalar los paquetes: $missing"
    missing=$(missing_packages | sort -u | xargs)
    [[ -z $missing ]] || fail "siguen faltando paquetes tras instalarlos: $missing"
fi

# The source is the one the host Qt was built from, so that the tools and the library agree.
source_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
qt_version=${source_version%%+*}
cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/dovezurad
prefix=${DOVEZURAD_QT_MINGW:-$cache_root/qt-$qt_version-mingw}
toolchain=cmake/mingw-w64-x86_64.cmake
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# Everything the build depends on, besides the source: when any of it changes, the cache is stale.
configure_options=(
    -G Ninja
    -DCMAKE_BUILD_TYPE=Release
    -DQT_HOST_PATH=/usr
    "-DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$multiarch/cmake"
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++
    -DBUILD_SHARED_LIBS=OFF
    # The C and C++ runtimes go into the program too: one .exe, no mingw DLLs beside it.
    -DFEATURE_static_runtime=ON
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_EXAMPLES=OFF
    -DFEATURE_network=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_testlib=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_vulkan=OFF
    # Off in all three places: dynamicgl follows the INPUT_opengl answer, not FEATURE_opengl,
    # and the windows plugin then needs OpenGL classes that were never built.
    -DFEATURE_opengl=OFF
    -DINPUT_opengl=no
    -DFEATURE_opengl_dynamic=OFF
    -DFEATURE_dynamicgl=OFF
    # Debian's tarball leaves out src/3rdparty/wintab, which the plugin's tablet code includes.
    -DFEATURE_tabletevent=OFF
    -DFEATURE_direct2d=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_icu=OFF
    -DFEATURE_zstd=OFF
    -DFEATURE_pkg_config=OFF
    # The Linux copies of these libraries are no use to a Windows program: Qt's bundled ones.
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_system_textmarkdownreader=OFF
)
# With direct2d off, Qt 6.4's Gui leaves out the DirectWrite font database, yet the windows plugin
# still creates one when directwrite3 is on: every program would fail to link. The plugin falls
# back to the GDI font database, 6.4's default anyway.
font_database_fix='s/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/'
font_database_file=src/plugins/platforms/windows/qwindowsintegration.cpp

recipe=$( (
    printf '%s\n' "qt6-base $source_version" "$font_database_fix" "${configure_options[@]}"
    grep -v '^[[:space:]]*\(#\|$\)' "$toolchain"
) | sha256sum | cut -d' ' -f1)
stamp=$prefix/dovezurad-qt.stamp

if [[ -f $stamp && $(cat "$stamp") == "$recipe" ]]; then
    say "Qt $qt_version para Windows ya está compilado en $prefix; no hay nada que hacer."
    exit 0
fi
if [[ -e $prefix ]]; then
    # Only a folder this script made is removed: one that holds its toolchain copy.
    [[ -f $prefix/mingw-w64-x86_64.cmake ]] ||
        fail "$prefix ya existe y no es un Qt de este script; bórrelo o elija otra carpeta con DOVEZURAD_QT_MINGW"
    say "      $prefix está incompleto o se hizo con otras opciones: se compila de nuevo."
    rm -rf "$prefix"
fi

# --- A private work folder: the download, the source and the build tree -----------------------
mkdir -p "$(dirname "$prefix")"
work=$(mktemp -d "$(dirname "$prefix")/qt-build.XXXXXX")
log=$(dirname "$prefix")/qt-$qt_version-mingw.log
: >"$log"
finish() {
    local status=$?
    rm -rf "$work"
    if ((status != 0)); then
        [[ -f $stamp ]] || rm -rf "$prefix"
        printf 'windows-qt.sh: la compilación de Qt no terminó (%s); el registro está en %s\n' \
            "$(elapsed)" "$log" >&2
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

# The deb-src entries live in the work folder with apt's lists beside them, so the system's own
# apt configuration and lists are never touched, root is not needed, and the entries go with the
# folder however the script ends.
say "[2/6] Descargando el código de qt6-base $source_version de Debian..."
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts" "$apt_dir/cache"
# shellcheck disable=SC2016 # apt's own $(FIELD) placeholders
apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
    sort -u | while read -r uri suite component; do
    printf 'deb-src %s %s %s\n' "$uri" "$suite" "$component"
done >"$apt_dir/sources.list"
[[ -s $apt_dir/sources.list ]] || fail "apt no tiene ningún repositorio de Debian configurado"
apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/parts"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    # apt would hand the download to its own user, who may not reach a folder in a home.
    -o "APT::Sandbox::User=$(id -un)"
)
apt-get -q "${apt_options[@]}" update >>"$log" 2>&1 ||
    fail "no se pudo leer la lista de fuentes de Debian (¿hay conexión?); detalles en $log"
(cd "$apt_dir" && apt-get -q "${apt_options[@]}" source --download-only \
    "qt6-base=$source_version" >>"$log" 2>&1) ||
    fail "no se pudo descargar qt6-base $source_version; detalles en $log"

say "[3/6] Desempaquetando y aplicando los parches de Debian ($(elapsed))..."
dpkg-source -x "$apt_dir/qt6-base_$source_version.dsc" "$work/src" >>"$log" 2>&1 ||
    fail "dpkg-source no pudo desempaquetar el código; detalles en $log"
rm -rf "$apt_dir"
sed -i "$font_database_fix" "$work/src/$font_database_file"
grep -q 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' "$work/src/$font_database_file" ||
    fail "el arreglo de la base de fuentes ya no encaja en $font_database_file"

say "[4/6] Configurando ($(elapsed))..."
# Qt remembers the toolchain file by its path, and programs built later load it again through
# qt-cmake: a copy inside the install keeps the cache whole when this working copy goes away.
mkdir -p "$prefix"
cp "$toolchain" "$prefix/mingw-w64-x86_64.cmake"
cmake -S "$work/src" -B "$work/build" "${configure_options[@]}" \
    "-DCMAKE_TOOLCHAIN_FILE=$prefix/mingw-w64-x86_64.cmake" \
    "-DCMAKE_INSTALL_PREFIX=$prefix" >>"$log" 2>&1 ||
    fail "la configuración de Qt falló; detalles en $log"

jobs=${JOBS:-$(nproc)}
say "[5/6] Compilando con $jobs tareas; tarda 30-40 minutos con dos núcleos ($(elapsed))..."
# Ninja's "[done/total]" status becomes one line every tenth of the way.
NINJA_STATUS='[%f/%t] ' cmake --build "$work/build" --parallel "$jobs" 2>&1 |
    tee -a "$log" | while IFS= read -r line; do
    if [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
        tenth=$((BASH_REMATCH[1] * 10 / BASH_REMATCH[2]))
        if ((tenth > ${shown:-0})); then
            shown=$tenth
            say "      $((tenth * 10)) % (${BASH_REMATCH[1]} de ${BASH_REMATCH[2]} pasos, $(elapsed))"
        fi
    fi
done || fail "la compilación de Qt falló; detalles en $log"
peak_space=$(du -sh "$work" | cut -f1)

say "[6/6] Instalando en $prefix ($(elapsed))..."
cmake --install "$work/build" >>"$log" 2>&1 || fail "la instalación de Qt falló; detalles en $log"
printf '%s\n' "$recipe" >"$stamp"
rm -f "$log"

say "Qt $qt_version para Windows listo en $prefix ($(du -sh "$prefix" | cut -f1) instalados," \
    "$peak_space temporales ya borrados) en $(elapsed)."
