#!/usr/bin/env bash
# Writes the tree to publish on an update server for one release:
#   scripts/update-tree.sh PROGRAM_FOLDER REVISION OUT
# gives OUT/download/<update folder>/ holding Vantorel.exe, Pellmora.exe and Tindra.exe
# from PROGRAM_FOLDER, and Vantorel_lastver.txt and Tindra_lastver.txt announcing
# REVISION. Tindra sends the Korean folder name as raw CP949 bytes, and a web server on
# Linux looks for a directory of exactly those bytes, so the folder is named by them.
# OUT/download/ is written anew; nothing else under OUT is touched.
set -euo pipefail

if [ "$#" != 3 ]; then
  echo "usage: $0 PROGRAM_FOLDER REVISION OUT" >&2
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

folder=$(printf '%s' '자동업데이트_v1' | iconv -f utf-8 -t cp949)
target="$out/download/$folder"
rm -rf "$out/download"
mkdir -p "$target"
cp "$programs/Vantorel.exe" "$programs/Pellmora.exe" "$programs/Tindra.exe" "$target/"
printf '%s\r\n' "$revision" > "$target/Vantorel_lastver.txt"
printf '%s\r\n' "$revision" > "$target/Tindra_lastver.txt"
