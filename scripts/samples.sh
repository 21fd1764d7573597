#!/usr/bin/env bash
# Copies the sample scripts fresh into FOLDER, which it empties first, and prints FOLDER: a first
# start opens on them rather than on anything a click could rewrite. The folder must lie outside
# the checkout. Usage: scripts/samples.sh FOLDER
set -euo pipefail
cd "$(dirname "$0")/.."

folder=$(realpath -m "${1:?folder}")
checkout=$(pwd -P)
case "$folder/" in
"$checkout"/*)
    echo "samples.sh: $folder está dentro del proyecto; elija una carpeta fuera de él." >&2
    exit 2
    ;;
esac
mkdir -p "$folder"
find "$folder" -mindepth 1 -delete
cp data/samples/*.txt "$folder"/
echo "$folder"
