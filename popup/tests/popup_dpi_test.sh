#!/usr/bin/env bash
# Runs the popup's dpi test, its click zones and its pictures at another screen dpi:
# a copy of the test Wine prefix with HKCU\Control Panel\Desktop LogPixels set, with
# its own wineserver and its own Xvfb display (a second Wine desktop on the shared
# display would take the desktop over from the first one), all stopped and removed at
# the end.
#   popup_dpi_test.sh TEST_EXE DPI WORK_DIR
set -euo pipefail
exe=$1
dpi=$2
work=$3
: "${WINEPREFIX:?run inside a test slot (scripts/wine-slot.sh)}"
root=$(cd "$(dirname "$0")/../.." && pwd)

dir="$work/dpi$dpi"
rm -rf "$dir"
mkdir -p "$dir"
# The name scripts/test-env.sh gives the prefix of the build folder $dir.
if [ "${WINEARCH:-}" = win64 ]; then prefix="$dir/wineprefix-x86_64"; else prefix="$dir/wineprefix"; fi
cp -a "$WINEPREFIX" "$prefix"
trap 'rm -rf "$dir"' EXIT

export TINDRA_DPI_EXE="$exe" TINDRA_EXPECT_DPI="$dpi"
export TINDRA_DPI_TESTS="PopupWinTest.ScalesWithTheScreenDpi:PopupWinTest.ClickZones*:PopupWinTest.EachKind*"
unset TINDRA_USE_DISPLAY
"$root/scripts/test-env.sh" "$dir" -- bash -c '
  wine reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$TINDRA_EXPECT_DPI" /f \
    </dev/null >/dev/null 2>&1
  wine "$TINDRA_DPI_EXE" --gtest_filter="$TINDRA_DPI_TESTS"'
