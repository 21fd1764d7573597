#!/usr/bin/env bash
# Installs the Debian packages the build, the program and its tests need.
# As root it installs what is missing; otherwise it prints the command to run and stops.
set -euo pipefail

packages=(
    cmake
    g++
    make
    pkg-config
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    qt6-base-dev
    libqt6svg6
    qt6-translations-l10n
    fonts-dejavu-core
    xvfb
    xauth
    x11-utils
    clang
    libclang-rt-14-dev
    acl
    attr
    strace
    dpkg-dev
    file
    desktop-file-utils
    appstream
    lintian
    g++-mingw-w64-x86-64-posix
    wine
    wine64
    googletest
    # The Windows program (scripts/windows-build.sh, scripts/test-windows-program.sh): its
    # build, its icon, its installer and the scripted run through its window.
    ninja-build
    librsvg2-bin
    icoutils
    nsis
    xdotool
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

if ((EUID != 0)); then
    echo "Faltan paquetes. Instálelos como root con:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
fi

echo "Instalando: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y "${missing[@]}"
