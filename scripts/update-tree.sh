#!/usr/bin/env bash
# Writes what an update server publishes for one release: the one place that lays out
# an update folder (the release, the tests, the demo and the benchmark all call it).
#   scripts/update-tree.sh PROGRAM_FOLDER REVISION OUT
# gives OUT/download/<update folder>/ holding Vantorel.exe, Pellmora.exe and Tindra.exe
# from PROGRAM_FOLDER, and Vantorel_lastver.txt and Tindra_lastver.txt announcing
# REVISION. Tindra sends the Korean folder name as raw CP949 bytes, and a web server on
# Linux looks for a directory of exactly those bytes, so the folder is named by them.
# OUT/download/ is written anew; nothing else under OUT is touched.
#   scripts/update-tree.sh --folder PROGRAM_FOLDER REVISION DIR
# writes the update folder itself as DIR (anew), for tools/update_server.py, which
# maps the request path to its root itself.
set -euo pipefail

folder_only=0
if [ "${1:-}" = --folder ]; then
  folder_only=1
  shift
fi
if [ "$#" != 3 ]; then
  echo "usage: $0 [--folder] PROGRAM_FOLDER REVISION OUT" >&2
  exit 2
fi
programs=$1
revision=$2
out=$3
[[ "$revision" =~ ^[0-9]{1,4}$ ]] || { echo "update-tree: revision must be 0 to 9999, not '$revision'" >&2; exit 2; }
revision=$((10#$revision))
for f in Vantorel.exe Pellmora.exe Tindra.exe; do
  [ -f "$programs/$f" ] || { echo "update-tree: $programs/$f is missing" >&2; exit 1; }
done

if [ "$folder_only" = 1 ]; then
  target=$out
  rm -rf "$target"
else
  folder=$(printf '%s' '자동업데이트_v1' | iconv -f utf-8 -t cp949)
  target="$out/download/$folder"
  rm -rf "$out/download"
fi
mkdir -p "$target"
cp "$programs/Vantorel.exe" "$programs/Pellmora.exe" "$programs/Tindra.exe" "$target/"
printf '%s\r\n' "$revision" > "$target/Vantorel_lastver.txt"
printf '%s\r\n' "$revision" > "$target/Tindra_lastver.txt"
