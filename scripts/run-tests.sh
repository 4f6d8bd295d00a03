#!/usr/bin/env bash
# Runs every test: the native unit tests, the Windows tests under Wine and Xvfb, and
# a short fuzzing smoke run. Prints CTest's summary for each build; non-zero on any failure.
set -uo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winarch.sh"
WINARCH=$(winarch) || exit 1
export WINARCH
status=0

echo "== Formatting"
"$here/check-format.sh" || status=1

echo "== Native tests"
ctest --test-dir "$build/native" --output-on-failure -j2 || status=1

# Absolute: CTest reads the slots file after changing into the build folder.
win=$(cd "$(win_build_dir "$build")" && pwd) || exit 1
# Side by side, each in a test slot of its own (scripts/wine-slot.sh): as many at once as
# the build has slots (test-slots.json), which it sets by the machine's cores.
slots=$(grep -c '"id"' "$win/test-slots.json" 2>/dev/null || echo 1)
echo "== Windows tests (under Wine, the $WINARCH build, $slots side by side)"
# The build's Wine prefix, which every slot copies, is made once before CTest starts.
(cd "$win" && bash "$here/wine-slot.sh" true) || status=1
ctest --test-dir "$win" --output-on-failure -j "$slots" --resource-spec-file "$win/test-slots.json" ||
  status=1

if [ -x "$here/fuzz.sh" ]; then
  echo "== Fuzzing smoke run"
  "$here/fuzz.sh" "$build" "${TINDRA_FUZZ_SMOKE_SECONDS:-20}" || status=1
fi

if [ "$status" = 0 ]; then echo "== All tests passed"; else echo "== Some tests FAILED"; fi
exit $status
