#!/usr/bin/env bash
# Runs the popup's dpi test at another screen dpi: a copy of the test Wine prefix with
# HKCU\Control Panel\Desktop LogPixels set, its own wineserver, both removed at the end.
#   popup_dpi_test.sh TEST_EXE DPI WORK_DIR
set -euo pipefail
exe=$1
dpi=$2
work=$3
: "${WINEPREFIX:?run inside scripts/test-env.sh}"

prefix="$work/wineprefix-dpi$dpi"
rm -rf "$prefix"
mkdir -p "$work"
cp -a "$WINEPREFIX" "$prefix"
export WINEPREFIX="$prefix"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT

# The server and Wine's services start here, detached from CTest's output pipe.
wineserver -p </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
  </dev/null >/dev/null 2>&1
TINDRA_EXPECT_DPI="$dpi" wine "$exe" --gtest_filter=PopupWinTest.ScalesWithTheScreenDpi
