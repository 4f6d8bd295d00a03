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

echo "== Windows tests (under Wine, the $WINARCH build)"
# One at a time: the programs under test are single-instance and share one desktop.
"$here/test-env.sh" "$build" -- ctest --test-dir "$(win_build_dir "$build")" --output-on-failure || status=1

if [ -x "$here/fuzz.sh" ]; then
  echo "== Fuzzing smoke run"
  "$here/fuzz.sh" "$build" "${TINDRA_FUZZ_SMOKE_SECONDS:-20}" || status=1
fi

if [ "$status" = 0 ]; then echo "== All tests passed"; else echo "== Some tests FAILED"; fi
exit $status
