#!/usr/bin/env bash
# Tries the whole Windows program under Wine, against the Linux build of the same sources:
#  - the command line rewrites a folder, or tells what it would change, with the same bytes,
#    messages and status codes as on Linux;
#  - the window opens on a virtual X server and offers Wine's drives in Drive1 (screenshot);
#  - a run through the window, driven with xdotool, changes a folder's scripts;
#  - as root, a run and its undo from the command line once more as an ordinary user.
# Needs the Qt for Windows that scripts/windows-qt.sh builds once per machine; without it, it says
# so in one line and ends with status 0.
# Usage: scripts/test-windows-program.sh [SCREENSHOT.png]   (build/windows/dovezurad-windows.png)
set -euo pipefail
cd "$(dirname "$0")/.."

screenshot=${1:-build/windows/dovezurad-windows.png}
qt_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null || echo 6.4.2)
qt_version=${qt_version%%+*}
qt=${DOVEZURAD_QT_MINGW:-${XDG_CACHE_HOME:-$HOME/.cache}/dovezurad/qt-$qt_version-mingw}
if [[ ! -f $qt/dovezurad-qt.stamp ]]; then
    echo "Windows program tests skipped: no Qt for Windows in $qt (bash scripts/windows-qt.sh builds it)"
    exit 0
fi

passed=0
failed=0
check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "FAIL: $what" >&2
        failed=$((failed + 1))
    fi
}

bash scripts/windows-build.sh build/windows >/dev/null
exe=$PWD/build/windows/window/dovezurad.exe
# The Linux program, in the test command's own build folder and with its options.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOVEZURAD_TESTS=ON \
    -DDOVEZURAD_WINDOW=ON -DDOVEZURAD_WERROR=ON -DDOVEZURAD_SANITIZE=OFF >/dev/null
cmake --build build/release --parallel "$(nproc)" --target dovezurad dovezurad_screenshot >/dev/null
linux=$PWD/build/release/window/dovezurad

scratch=$(mktemp -d)
xvfb=
ordinary_home=
cleanup() {
    [[ -z $xvfb ]] || kill "$xvfb" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [[ -z $ordinary_home ]] || as_ordinary_user wineserver -k 2>/dev/null || true
    rm -rf "$scratch" "$ordinary_home"
}
trap cleanup EXIT

# The X server first: Wine's desktop process, started once per prefix, keeps the display it
# found, and without one no window of any later program can show.
display=90
while [[ -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:$display
sleep 1

# A prefix of its own; its server is started first, with no pipe of ours to hold open.
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine wineboot -i >/dev/null 2>&1 </dev/null
# The test command's offscreen platform is not in the Windows program: it uses its own.
windows() { env -u QT_QPA_PLATFORM wine "$exe" "$@"; }

# --- The command line ---------------------------------------------------------------------------
scripts_like_users() {
    local folder=$1
    mkdir -p "$folder/carpeta.txt"
    printf '  {hola}, {nombre}.\r\nAdiós {x}  \r\n' >"$folder/uno.txt"
    printf '{A}{B}' >"$folder/Dos.TXT"
    printf '\xff\xfe{\0a\0}\0 \0' >"$folder/utf16.txt"
    printf '{cp1252 \xe1\xe9}' >"$folder/capítulo ñ 日本.txt"
    printf '{oculto}' >"$folder/.oculto.txt"
    printf '{no es un script}' >"$folder/notas.text"
    head -c 3000000 /dev/zero | tr '\0' '{' >"$folder/grande.txt"
}

# Names and bytes of every file under a folder; undo's record names each system's own file ids.
contents() {
    [[ ! -d $1 ]] || (cd "$1" && find . -type f ! -path ./.dovezurad.deshacer/MANIFIESTO -print0 |
        sort -z | xargs -0 sha256sum)
}

# Runs one command line on a Linux copy and a Windows copy of the same folder and compares the
# status, the messages (without Windows' CR) and every file's name and bytes afterwards.
same_as_linux() {
    local name=$1 prepare=$2
    shift 2
    local linux_folder=$scratch/$name/linux windows_folder=$scratch/$name/windows
    mkdir -p "$linux_folder" "$windows_folder"
    "$prepare" "$linux_folder"
    "$prepare" "$windows_folder"
    local linux_status=0 windows_status=0
    local windows_path
    windows_path=$(winepath -w "$windows_folder")
    "$linux" "$@" "$linux_folder" </dev/null >"$scratch/$name/linux.raw" 2>&1 || linux_status=$?
    windows "$@" "$windows_path" </dev/null >"$scratch/$name/windows.crlf" \
        2>&1 || windows_status=$?
    # A message that names the folder names it in each system's own way.
    local linux_text windows_text
    linux_text=$(<"$scratch/$name/linux.raw")
    windows_text=$(tr -d '\r' <"$scratch/$name/windows.crlf")
    printf '%s\n' "${linux_text//"$linux_folder"/CARPETA}" >"$scratch/$name/linux.out"
    printf '%s\n' "${windows_text//"$windows_path"/CARPETA}" >"$scratch/$name/windows.out"
    if [[ $linux_status != "$windows_status" ]]; then
        echo "$name: status $windows_status on Windows, $linux_status on Linux" >&2
        return 1
    fi
    if ! cmp -s "$scratch/$name/linux.out" "$scratch/$name/windows.out"; then
        echo "$name: the messages differ" >&2
        diff "$scratch/$name/linux.out" "$scratch/$name/windows.out" >&2 || true
        return 1
    fi
    if [[ $(contents "$linux_folder") != "$(contents "$windows_folder")" ]]; then
        echo "$name: the folders differ afterwards" >&2
        diff <(contents "$linux_folder") <(contents "$windows_folder") >&2 || true
        return 1
    fi
}

one_read_only() {
    printf '{a}' >"$1/a.txt"
    printf '{b}' >"$1/b.txt"
    printf '{c}' >"$1/c.txt"
    chmod a-w "$1/b.txt"
}
nothing() { :; }
gone() { rmdir "$1"; }

check "a folder of scripts" same_as_linux scripts scripts_like_users --cambiar '{}' --por '<>' --si
check "a read-only script" same_as_linux read-only one_read_only --cambiar '{}' --por '[]' --si
# Undo of those runs, in the folders they left.
check "undo of a folder of scripts" same_as_linux scripts nothing --deshacer --si
check "undo of a run stopped by a read-only script" same_as_linux read-only nothing --deshacer --si
check "a folder that is not there" same_as_linux missing gone --cambiar '{}' --por '<>' --si
check "no confirmation without a terminal" same_as_linux unconfirmed scripts_like_users \
    --cambiar '{}' --por '<>'
check "a refused delimiter" same_as_linux refused scripts_like_users --cambiar '{}' --por 'a>' --si
check "a dry run" same_as_linux dry-run scripts_like_users --simular --cambiar '{}' --por '<>'
check "help" same_as_linux help nothing --help

# Windows hides by attribute, not by name: a hidden or system script is not a script of the
# folder's (Wine also gives dot files the hidden attribute, which the folder above checked).
hidden_by_attribute() {
    local folder=$scratch/attributes
    mkdir -p "$folder"
    printf '{a}' >"$folder/visible.txt"
    printf '{h}' >"$folder/oculto.txt"
    printf '{s}' >"$folder/sistema.txt"
    wine attrib +h "$(winepath -w "$folder/oculto.txt")" >/dev/null
    wine attrib +s "$(winepath -w "$folder/sistema.txt")" >/dev/null
    windows --cambiar '{}' --por '<>' --si "$(winepath -w "$folder")" >/dev/null 2>&1 </dev/null
    [[ $(cat "$folder/visible.txt") == "<a>" && $(cat "$folder/oculto.txt") == "{h}" &&
        $(cat "$folder/sistema.txt") == "{s}" ]]
}
check "hidden and system scripts are left alone" hidden_by_attribute

# --- An ordinary user ---------------------------------------------------------------------------
# Root's access passes any mode, so the undo area's own permissions are tried as an unprivileged
# user, with a Wine prefix of that user's.
ordinary_uid=65534
as_ordinary_user() {
    setpriv --reuid="$ordinary_uid" --regid="$ordinary_uid" --clear-groups \
        env -u QT_QPA_PLATFORM HOME="$ordinary_home" WINEPREFIX="$ordinary_home/wine" "$@"
}
# Name, bytes, file id and modification time of every script.
identities() {
    (cd "$1" && for file in *.txt; do
        printf '%s %s\n' "$(stat -c '%n %i %.9Y' "$file")" "$(sha256sum <"$file")"
    done)
}
run_and_undo_as_ordinary_user() {
    ordinary_home=$(mktemp -d /tmp/dovezurad-usuario.XXXXXX)
    local folder=$ordinary_home/guiones before path
    mkdir -p "$folder"
    printf '  {uno}\r\n{dos}  ' >"$folder/uno.txt"
    printf '{tres}' >"$folder/dos.txt"
    printf 'sin etiquetas' >"$folder/tres.txt"
    cp "$exe" "$ordinary_home/dovezurad.exe"
    chmod 755 "$ordinary_home"
    chown -R "$ordinary_uid:$ordinary_uid" "$ordinary_home"
    before=$(identities "$folder")
    path="Z:${folder//\//\\}"
    as_ordinary_user wine wineboot -i >/dev/null 2>&1 </dev/null
    as_ordinary_user wine "$ordinary_home/dovezurad.exe" --cambiar '{}' --por '<>' --si "$path" \
        </dev/null >"$ordinary_home/run.out" 2>&1 || return 1
    if grep -q Aviso "$ordinary_home/run.out"; then
        echo "the run as an ordinary user kept no original" >&2
        return 1
    fi
    # The user's, and nobody else's; Wine maps an entry for a SID of the token to the group's
    # bits as well as the user's.
    [[ $(stat -c %a "$folder/.dovezurad.deshacer") == 7?0 && $(cat "$folder/dos.txt") == "<tres>" ]] ||
        return 1
    as_ordinary_user wine "$ordinary_home/dovezurad.exe" --deshacer --si "$path" \
        </dev/null >"$ordinary_home/undo.out" 2>&1 || return 1
    [[ $(identities "$folder") == "$before" ]]
}
if ((EUID == 0)); then
    check "a run and its undo as an ordinary user" run_and_undo_as_ordinary_user
fi

# --- The installer ----------------------------------------------------------------------------
installs_and_uninstalls() {
    local installer folder="$WINEPREFIX/drive_c/dovezurad-prueba" menu
    installer=$(ls build/windows/dovezurad-*-windows-x86_64.exe)
    # NSIS: /S without questions, /D the folder, last and unquoted (so without spaces here).
    wine "$installer" /S '/D=C:\dovezurad-prueba' >/dev/null 2>&1
    menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name Dovezurad.lnk | head -1)
    [[ -f $folder/bin/dovezurad.exe && -f $folder/Desinstalar.exe && -n $menu ]] || return 1
    cmp -s "$folder/bin/dovezurad.exe" "$exe" && return 1 # installed stripped
    wine "$folder/Desinstalar.exe" /S >/dev/null 2>&1
    # The uninstaller goes on from a copy of itself, after the first one has ended.
    for _ in $(seq 30); do
        [[ -e $folder || -e $menu ]] || return 0
        sleep 1
    done
    return 1
}
check "the installer puts the program and its Start-menu entry, the uninstaller takes them" \
    installs_and_uninstalls

# --- The window --------------------------------------------------------------------------------

window_folder=$scratch/ventana/guiones
mkdir -p "$window_folder"
for name in "bienvenida" "capítulo 1" "capítulo 2" "capítulo 10" "despedida"; do
    printf 'Hola, {nombre}. Hoy es {día}.\r\n' >"$window_folder/$name.txt"
done
expected=$(printf 'Hola, <nombre>. Hoy es <día>.\r\n' | sha256sum | cut -d' ' -f1)

windows "$(winepath -w "$window_folder")" >/dev/null 2>&1 &
program=$!
window=
for _ in $(seq 60); do
    window=$(xdotool search --onlyvisible --name '^Dovezurad$' 2>/dev/null | head -1) || true
    [[ -n $window ]] && break
    sleep 1
done
check "the window opens" test -n "$window"

if [[ -n $window ]]; then
    sleep 2
    # Drive1's list, opened, for the screenshot: Wine offers C: and Z:.
    xdotool mousemove --window "$window" 96 34 click 1
    sleep 2
    # The window alone, as Wine placed it.
    read -r x y width height < <(xwininfo -id "$window" |
        awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
             /Width/ {w=$NF} /Height/ {h=$NF} END {print x, y, w, h}')
    QT_QPA_PLATFORM=xcb build/release/window/dovezurad_screenshot "$screenshot" \
        "$x" "$y" "$width" "$height"
    xdotool key Escape
    sleep 1

    # Cambiar Etiquetas with the fields as they start ({} by <>), then Enter on the question
    # (Sí is its default) and on the closing message.
    xdotool mousemove --window "$window" 292 184 click 1
    sleep 3
    xdotool key Return
    sleep 3
    xdotool key Return
    sleep 1
    rewritten() {
        local file
        for file in "$window_folder"/*.txt; do
            [[ $(sha256sum <"$file" | cut -d' ' -f1) == "$expected" ]] || return 1
        done
    }
    check "a run through the window changes the scripts" rewritten
fi
kill "$program" 2>/dev/null || true

echo "$passed passed, $failed failed"
((failed == 0))
