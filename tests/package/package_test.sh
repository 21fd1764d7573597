#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it as a user's machine would get it:
# what it holds, its desktop entry and metainfo, lintian's verdict, and the program installed
# from it starting and showing its window on an X server.
# Usage: package_test.sh BUILD_DIR VERSION
set -euo pipefail

build_dir=$1
version=$2

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli lintian xvfb-run xwininfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "package test skipped: $tool is missing (bash scripts/setup.sh installs it)"
        exit 77
    fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$scratch/package" >/dev/null
deb="$scratch/package/dovezurad_${version}_$(dpkg --print-architecture).deb"
[[ -f "$deb" ]] || fail "no $(basename "$deb") in $(ls "$scratch/package")"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in \
    ./usr/bin/dovezurad \
    ./usr/share/applications/org.dovezurad.Dovezurad.desktop \
    ./usr/share/icons/hicolor/scalable/apps/dovezurad.svg \
    ./usr/share/metainfo/org.dovezurad.Dovezurad.metainfo.xml \
    ./usr/share/man/man1/dovezurad.1.gz \
    ./usr/share/doc/dovezurad/copyright \
    ./usr/share/doc/dovezurad/changelog.gz; do
    grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
# Only the program and its data: no tests, libraries or headers of the build.
unexpected=$(grep -v -e '/$' <<<"$contents" | grep -vE '^\./usr/(bin/dovezurad|share/(applications|icons|metainfo|man|doc)/|share/lintian/overrides/dovezurad$)' || true)
[[ -z "$unexpected" ]] || fail "the package holds more than it should: $unexpected"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks Qt Widgets: $depends"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/org.dovezurad.Dovezurad.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.dovezurad.Dovezurad.metainfo.xml"
lintian_report=$(lintian --fail-on error --display-info "$deb" 2>&1) || fail "lintian reports errors: $lintian_report"
# Built with the usual hardening: lintian finds nothing unprotected in the program.
if grep -q 'hardening-' <<<"$lintian_report"; then
    fail "lintian finds the program unhardened: $(grep 'hardening-' <<<"$lintian_report")"
fi

[[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/dovezurad" --version)" == "dovezurad $version" ]] ||
    fail "--version does not print dovezurad $version"

# The installed program, on an X server, opens its window on a folder of scripts, with its icon.
mkdir "$scratch/scripts"
printf '{a}' >"$scratch/scripts/uno.txt"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 640x480x24" bash -c '
    "$1" "$2" &
    program=$!
    for _ in $(seq 100); do
        if xwininfo -root -tree | grep -q "\"Dovezurad\""; then
            xwininfo -name Dovezurad | grep -q "Map State: IsViewable" || break
            xprop -name Dovezurad _NET_WM_ICON | grep -q "Icon (" || { echo "the window has no icon"; kill "$program"; exit 1; }
            kill "$program"
            wait "$program" || true
            exit 0
        fi
        kill -0 "$program" 2>/dev/null || { echo "the program ended without a window"; exit 1; }
        sleep 0.1
    done
    echo "no window named Dovezurad was shown"
    kill "$program" 2>/dev/null || true
    exit 1
' _ "$root/usr/bin/dovezurad" "$scratch/scripts" || fail "the installed program showed no window"

echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, contents, desktop entry, metainfo, lintian, hardening, window and icon all good"
