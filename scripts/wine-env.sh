# Sourced by scripts/test-env.sh and scripts/wine-slot.sh: the pieces of a Windows test
# environment. A "slot" is one such environment in a folder of its own: a private Xvfb
# display with a 1280 x 994 work area, a copy of the build's Wine prefix with its own
# wineserver, and a quiet update server (it announces revision 0, so that a start-up
# update passes at once). Slots share nothing, so tests in different slots run side by
# side; every server a slot starts is recorded in its folder and stopped only by
# slot_stop, so nothing of another run or checkout is ever touched.
# Needs winarch.sh sourced first.

_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# wine_env ARCH BUILD: exports what runs the Windows build of ARCH under Wine (loader,
# locale, quiet Wine) and sets WINE_BASE_PREFIX, the build's own prefix under BUILD
# (the top build folder). Fails with a message when that Wine is not installed.
wine_env() {
  local arch=$1 build=$2
  if [ "$arch" = x86_64 ]; then
    WINE_BASE_PREFIX="$build/wineprefix-x86_64"
    export WINEARCH=win64
    # Debian's wine and wineserver scripts take the 32-bit Wine whenever it is
    # installed: the 64-bit loader and server are called by their own names.
    export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
    if [ ! -x "$WINELOADER" ] || [ ! -x "$WINESERVER" ]; then
      echo "wine-env: the 64-bit Wine is not installed (package wine64): run 'sudo WINARCH=x86_64 scripts/setup.sh --wine'" >&2
      return 1
    fi
    local bin="$build/wine-x86_64-bin" name target
    mkdir -p "$bin"
    # Written whole under another name and renamed: tests in other slots may be
    # starting these very scripts, and one caught open for writing fails to start.
    for name in wine wineserver; do
      target=$WINELOADER
      [ "$name" = wineserver ] && target=$WINESERVER
      if ! grep -qsF "exec $target " "$bin/$name"; then
        printf '#!/bin/sh\nexec %s "$@"\n' "$target" >"$bin/$name.$$"
        chmod 755 "$bin/$name.$$"
        mv -f "$bin/$name.$$" "$bin/$name"
      fi
    done
    case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
  else
    WINE_BASE_PREFIX="$build/wineprefix"
    export WINEARCH=win32
    if ! runs_32bit_code; then
      echo "wine-env: this machine cannot run 32-bit programs; the Windows build for it is WINARCH=x86_64" >&2
      return 1
    fi
    if [ ! -x /usr/lib/wine/wine ]; then
      echo "wine-env: the 32-bit Wine is not installed (package wine32:i386): run 'sudo scripts/setup.sh --wine'" >&2
      return 1
    fi
  fi
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LANG=ko_KR.UTF-8
  export LC_ALL=ko_KR.UTF-8
}

# wine_prefix_make PREFIX: creates the Wine prefix PREFIX unless it is there (about
# 15 s), under a lock, so that runs side by side make it once.
wine_prefix_make() {
  mkdir -p "$(dirname "$1")"
  (
    flock 9
    if [ ! -f "$1/system.reg" ]; then
      echo "wine-env: creating the Wine prefix $1" >&2
      WINEPREFIX=$1 wine wineboot -i </dev/null >/dev/null 2>&1 9>&-
      WINEPREFIX=$1 wineserver -w 9>&-
    fi
  ) 9>"$1.lock"
}

# xvfb_start STATE: a private Xvfb, detached (its own session, no output of ours held
# open), its pid in STATE/xvfb.pid and display number in STATE/display. Xvfb picks a
# free number itself and writes it to the pipe: a number can be held through an
# abstract socket that leaves no file in /tmp/.X11-unix to look for.
xvfb_start() {
  local state=$1 fifo display=""
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/tindra-xvfb.XXXXXX")
  mkfifo "$fifo" || { echo "wine-env: cannot make $fifo" >&2; return 1; }
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp \
    3>"$fifo" </dev/null >/dev/null 2>&1 8>&- &
  echo $! >"$state/xvfb.pid"
  read -r -t 20 display <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$display" ] || ! kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    echo "wine-env: the private Xvfb did not start (no display number from it)" >&2
    return 1
  fi
  echo "$display" >"$state/display"
  # A 1280 x 1024 screen with a 30-pixel taskbar at the bottom.
  DISPLAY=":$display" xprop -root -format _NET_WORKAREA 32c -set _NET_WORKAREA 0,0,1280,994 ||
    { echo "wine-env: cannot reach the private Xvfb on :$display" >&2; return 1; }
}

# xvfb_alive STATE: true when the Xvfb of STATE runs and answers.
xvfb_alive() {
  [ -f "$1/xvfb.pid" ] && [ -f "$1/display" ] && kill -0 "$(cat "$1/xvfb.pid")" 2>/dev/null &&
    DISPLAY=":$(cat "$1/display")" xprop -root _NET_WORKAREA >/dev/null 2>&1
}

# quiet_server_start STATE: tools/update_server.py on a free port, announcing revision
# 0; its pid in STATE/quiet.pid, its port in STATE/quiet.port, its requests in
# STATE/quiet.log.
quiet_server_start() {
  local state=$1 _
  mkdir -p "$state/quiet-root"
  printf '0' >"$state/quiet-root/Vantorel_lastver.txt"
  rm -f "$state/quiet.port"
  setsid python3 "$_wine_env_root/tools/update_server.py" --root "$state/quiet-root" --port 0 \
    --log "$state/quiet.log" </dev/null >"$state/quiet.port" 2>"$state/quiet.err" 8>&- &
  echo $! >"$state/quiet.pid"
  for _ in $(seq 100); do
    [ -s "$state/quiet.port" ] && return 0
    kill -0 "$(cat "$state/quiet.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-env: the quiet update server did not start (see $state/quiet.err)" >&2
  return 1
}

quiet_server_alive() {
  [ -f "$1/quiet.pid" ] && [ -s "$1/quiet.port" ] && kill -0 "$(cat "$1/quiet.pid")" 2>/dev/null
}

# slot_start STATE: makes the slot in folder STATE ready, under its lock (fd 8, which
# nothing it starts may keep: a lock held by a server would hold the slot for good),
# starting what is not running, and exports its environment: WINEPREFIX, DISPLAY (and TINDRA_TEST_DISPLAY), and
# TINDRA_TEST_UPDATE_HOST, the quiet server, unless the caller set one. wine_env
# first.
slot_start() {
  local state=$1
  mkdir -p "$state"
  exec 8>"$state/lock"
  flock 8
  if ! xvfb_alive "$state"; then
    xvfb_start "$state" || { exec 8>&-; return 1; }
  fi
  export DISPLAY=":$(cat "$state/display")" TINDRA_TEST_DISPLAY=":$(cat "$state/display")"
  export WINEPREFIX="$state/prefix"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine_prefix_make "$WINE_BASE_PREFIX" || { exec 8>&-; return 1; }
    rm -rf "$WINEPREFIX"
    cp -a "$WINE_BASE_PREFIX" "$WINEPREFIX"
  fi
  if ! quiet_server_alive "$state"; then
    quiet_server_start "$state" || { exec 8>&-; return 1; }
  fi
  export TINDRA_TEST_UPDATE_HOST=${TINDRA_TEST_UPDATE_HOST:-127.0.0.1:$(cat "$state/quiet.port")}
  # A persistent wineserver for the slot, and Wine's own services started now, detached
  # from the caller's pipes: the first Windows program would otherwise start them
  # holding its output open, and CTest would wait for that output to close.
  setsid wineserver -p </dev/null >/dev/null 2>&1 8>&-
  setsid wine cmd /c exit </dev/null >/dev/null 2>&1 8>&-
  exec 8>&-
}

# slot_stop STATE: stops what slot_start started there: its wineserver (and every
# Windows program of its prefix), its Xvfb and its quiet server.
slot_stop() {
  local state=$1 pid
  [ -d "$state" ] || return 0
  if [ -f "$state/prefix/system.reg" ]; then
    WINEPREFIX="$state/prefix" wineserver -k >/dev/null 2>&1 || true
  fi
  rm -f "$state/keeper.pid"  # the slot keeper ended with the wineserver
  for pid in "$state/quiet.pid" "$state/xvfb.pid"; do
    [ -f "$pid" ] || continue
    kill "$(cat "$pid")" 2>/dev/null || true
    rm -f "$pid"
  done
}
