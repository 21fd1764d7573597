#!/usr/bin/env bash
# The folder a first start opens on: fresh sample scripts outside the checkout, a UTF-16 one and
# a CRLF one among them, and never a folder of the checkout itself.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd -P)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "{viejo}" >"$scratch/resto.txt"
folder=$(bash "$top/scripts/samples.sh" "$scratch/ejemplos")
[[ "$folder" == "$scratch/ejemplos" ]] || { echo "printed $folder"; exit 1; }
[[ $(ls "$folder" | wc -l) -eq 4 ]] || { ls "$folder"; exit 1; }
[[ $(head -c 2 "$folder/despedida (UTF-16).txt" | od -An -tx1 | tr -d ' ') == fffe ]] || exit 1
grep -q $'\r$' "$folder/bienvenida.txt" || exit 1
# Fresh at each start: what was left there goes.
echo "{cambiado}" >"$folder/extra.txt"
bash "$top/scripts/samples.sh" "$folder" >/dev/null
[[ ! -e "$folder/extra.txt" ]] || exit 1

if bash "$top/scripts/samples.sh" "$top/build" 2>/dev/null; then
    echo "accepted a folder of the checkout"
    exit 1
fi
[[ ! -e "$top/build/bienvenida.txt" ]] || exit 1
echo "samples: fresh, outside the checkout, UTF-16 and CRLF among them"
