#!/usr/bin/env bash
# Runs a command inside the Windows test environment: a private Xvfb display with a
# 1280 x 994 desktop work area, and a private Wine prefix under the build folder in a
# Korean locale (so the ANSI code page is 949). Stops only what it started.
#   scripts/test-env.sh BUILD_DIR -- COMMAND [ARGS...]
# With TINDRA_USE_DISPLAY=1 and a DISPLAY set, uses that display instead of Xvfb.
# WINARCH (scripts/winarch.sh) chooses the Wine: for i686 the 32-bit one in a win32
# prefix, for x86_64 the 64-bit one in a win64 prefix of its own. `wine` and
# `wineserver` on the PATH are then that Wine's. For the demo, the benchmark and
# commands of one's own; the Windows tests set up their own environment
# (scripts/wine-slot.sh).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winarch.sh"
. "$here/wine-env.sh"
arch=$(winarch) || exit 1
export WINARCH=$arch

build=$(mkdir -p "$1" && cd "$1" && pwd)
shift
[ "${1:-}" = "--" ] && shift
wine_env "$arch" "$build" || exit 1
export WINEPREFIX=$WINE_BASE_PREFIX

state=""
started_wineserver=0
cleanup() {
  if [ "$started_wineserver" = 1 ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$state" ]; then
    [ -f "$state/xvfb.pid" ] && kill "$(cat "$state/xvfb.pid")" 2>/dev/null
    rm -rf "$state"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "${TINDRA_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
  :
else
  state=$(mktemp -d "${TMPDIR:-/tmp}/tindra-test-env.XXXXXX") || exit 1
  xvfb_start "$state" || exit 1
  export DISPLAY=":$(cat "$state/display")"
fi
export TINDRA_TEST_DISPLAY="$DISPLAY"

wine_prefix_make "$WINEPREFIX" || exit 1
wineserver -p </dev/null >/dev/null 2>&1
started_wineserver=1
# Start Wine's own services now, detached from the caller's pipes: the first Windows
# program would otherwise start them holding its output open, and CTest would wait
# for that output to close.
wine cmd /c exit </dev/null >/dev/null 2>&1

"$@"
