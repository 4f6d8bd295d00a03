#!/usr/bin/env bash
# The native tindra-verinfo (PE reader) and the Windows one (version.dll under Wine)
# print the same bytes, for the given fixtures and for DLLs and programs of Wine's
# system folder. Runs in a test slot (scripts/wine-slot.sh: WINEPREFIX, DISPLAY are set).
#   compare_verinfo.sh NATIVE_TOOL WINDOWS_TOOL [FILE...]
set -uo pipefail
native=$1
windows=$2
shift 2

if [ ! -x "$native" ]; then
  echo "SKIP: the native tool $native is not built (build the native tree first)"
  exit 77
fi
: "${WINEPREFIX:?run this in a test slot (scripts/wine-slot.sh)}"
system32="$WINEPREFIX/drive_c/windows/system32"
files=("$@")
for name in kernel32.dll user32.dll gdi32.dll shell32.dll comctl32.dll version.dll \
            wininet.dll urlmon.dll ole32.dll msvcrt.dll advapi32.dll \
            cmd.exe regedit.exe winver.exe notepad.exe; do
  [ -f "$system32/$name" ] && files+=("$system32/$name")
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
with_block=0
for f in "${files[@]}"; do
  "$native" "$f" >"$work/native.out" 2>"$work/native.err"
  native_rc=$?
  wine "$windows" "Z:$f" >"$work/windows.out" 2>"$work/windows.err" </dev/null
  windows_rc=$?
  if [ "$native_rc" != "$windows_rc" ] || ! cmp -s "$work/native.out" "$work/windows.out"; then
    echo "DIFFERENT: $f (exit $native_rc native, $windows_rc Windows)"
    diff "$work/native.out" "$work/windows.out" | head -20
    status=1
  else
    echo "same: $f (exit $native_rc)"
    [ "$native_rc" = 0 ] && with_block=$((with_block + 1))
  fi
done
if [ "$with_block" -lt 10 ]; then
  echo "too few files with a version block compared: $with_block"
  status=1
fi
exit $status
