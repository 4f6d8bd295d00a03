#!/usr/bin/env bash
# Runs a command inside the Windows test environment: a private Xvfb display with a
# 1280 x 994 desktop work area, and a private Wine prefix under the build folder in a
# Korean locale (so the ANSI code page is 949). Stops only what it started.
#   scripts/test-env.sh BUILD_DIR -- COMMAND [ARGS...]
# With TINDRA_USE_DISPLAY=1 and a DISPLAY set, uses that display instead of Xvfb.
# WINARCH (scripts/winarch.sh) chooses the Wine: for i686 the 32-bit one in a win32
# prefix, for x86_64 the 64-bit one in a win64 prefix of its own. `wine` and
# `wineserver` on the PATH are then that Wine's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winarch.sh"
arch=$(winarch) || exit 1
export WINARCH=$arch

build=$(mkdir -p "$1" && cd "$1" && pwd)
shift
[ "${1:-}" = "--" ] && shift

if [ "$arch" = x86_64 ]; then
  export WINEPREFIX="$build/wineprefix-x86_64"
  export WINEARCH=win64
  # Debian's wine and wineserver scripts take the 32-bit Wine whenever it is
  # installed: the 64-bit loader and server are called by their own names.
  export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  if [ ! -x "$WINELOADER" ] || [ ! -x "$WINESERVER" ]; then
    echo "test-env: the 64-bit Wine is not installed (package wine64): run 'sudo scripts/setup.sh' with WINARCH=x86_64" >&2
    exit 1
  fi
  bin="$build/wine-x86_64-bin"
  mkdir -p "$bin"
  printf '#!/bin/sh\nexec %s "$@"\n' "$WINELOADER" >"$bin/wine"
  printf '#!/bin/sh\nexec %s "$@"\n' "$WINESERVER" >"$bin/wineserver"
  chmod 755 "$bin/wine" "$bin/wineserver"
  export PATH="$bin:$PATH"
else
  export WINEPREFIX="$build/wineprefix"
  export WINEARCH=win32
  if ! runs_32bit_code; then
    echo "test-env: this machine cannot run 32-bit programs; the Windows build for it is WINARCH=x86_64" >&2
    exit 1
  fi
  if [ ! -x /usr/lib/wine/wine ]; then
    echo "test-env: the 32-bit Wine is not installed (package wine32:i386): run 'sudo scripts/setup.sh'" >&2
    exit 1
  fi
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ko_KR.UTF-8
export LC_ALL=ko_KR.UTF-8

xvfb_pid=""
started_wineserver=0
cleanup() {
  if [ "$started_wineserver" = 1 ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "${TINDRA_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
  :
else
  # Xvfb picks a free display number itself and writes it to the pipe: a number can be
  # held through an abstract socket that leaves no file in /tmp/.X11-unix to look for.
  # Not xvfb-run -a: it picks the number by /tmp/.X*-lock files, which miss such a server.
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/tindra-xvfb.XXXXXX")
  mkfifo "$fifo" || { echo "test-env: cannot make $fifo" >&2; exit 1; }
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  display=""
  read -r -t 20 display <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "test-env: the private Xvfb did not start (no display number from it)" >&2
    exit 1
  fi
  export DISPLAY=":$display"
  xprop -root >/dev/null 2>&1 || { echo "test-env: cannot reach the private Xvfb on $DISPLAY" >&2; exit 1; }
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "test-env: the private Xvfb on $DISPLAY has ended" >&2; exit 1; }
  # A 1280 x 1024 screen with a 30-pixel taskbar at the bottom.
  xprop -root -format _NET_WORKAREA 32c -set _NET_WORKAREA 0,0,1280,994
fi
export TINDRA_TEST_DISPLAY="$DISPLAY"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test-env: creating the Wine prefix $WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver -p </dev/null >/dev/null 2>&1
started_wineserver=1
# Start Wine's own services now, detached from the caller's pipes: the first Windows
# program would otherwise start them holding its output open, and CTest would wait
# for that output to close.
wine cmd /c exit </dev/null >/dev/null 2>&1

"$@"
