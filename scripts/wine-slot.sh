#!/usr/bin/env bash
# Runs one Windows test in a slot of its build's test environment (scripts/wine-env.sh:
# a display, a Wine prefix with its wineserver and a quiet update server of its own).
# CTest runs every Windows test through it: it is the Windows build's emulator and the
# launcher of its script tests.
#   scripts/wine-slot.sh COMMAND [ARGS...]   from a folder of a Windows build (CTest
#                                            runs each test in its own)
#   scripts/wine-slot.sh --check WIN_BUILD   makes every slot of that build and checks
#                                            that each runs a Windows program and
#                                            answers on its display and server
#   scripts/wine-slot.sh --stop WIN_BUILD    stops every slot of that build
# The slot is the one CTest gave the test (RESOURCE_GROUPS "slot:1" with the build's
# test-slots.json as the resource file); 0 when CTest gave none. Slots are
# made and checked before the first test (--check: the build's CTest fixture
# wine_slots, so that a slot that cannot be made is reported as such, and its tests do
# not run), made again when something of theirs died, and stay up for the next test in
# them until --stop (the same fixture, after the tests). A failing test leaves its
# evidence (scripts/test-evidence.sh).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winarch.sh"
. "$here/wine-env.sh"
. "$here/test-evidence.sh"

# wine_build_env WIN_BUILD: the Wine of that Windows build (its toolchain names the
# architecture); its base prefix lies beside it.
wine_build_env() {
  local arch=i686
  case "$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$1/CMakeCache.txt")" in
    *mingw-x86_64*) arch=x86_64 ;;
  esac
  export WINARCH=$arch
  wine_env "$arch" "$(dirname "$1")"
}

# slot_check STATE ID: makes the slot and tries each of its parts; a message naming the
# part that failed, and non-zero, when one does.
slot_check() {
  local state=$1 id=$2 answer
  slot_start "$state" || { echo "wine-slot: slot $id cannot be made (see above)" >&2; return 1; }
  slot_keep_desktop "$state" "$win_build" || return 1
  if ! timeout 120 wine cmd /c exit </dev/null >"$state/check.log" 2>&1; then
    echo "wine-slot: slot $id cannot run a Windows program (wine cmd /c exit; its output:" \
      "$(tr '\n' ' ' <"$state/check.log" | cut -c1-400))" >&2
    return 1
  fi
  python3 "$_wine_env_root/tools/park_pointer.py" 0 0 ||
    { echo "wine-slot: slot $id: its display $DISPLAY takes no pointer move" >&2; return 1; }
  answer=$(python3 -c 'import sys, urllib.request, urllib.parse
url = "http://%s/download/%s/Vantorel_lastver.txt" % (sys.argv[1], urllib.parse.quote("자동업데이트_v1"))
print(urllib.request.urlopen(url, timeout=10).read().decode())' "$TINDRA_TEST_UPDATE_HOST" 2>&1)
  if [ "$answer" != 0 ]; then
    echo "wine-slot: slot $id: its quiet update server does not answer: $answer" >&2
    return 1
  fi
  rm -f "$state/quiet.log"
}

# slot_keep_desktop STATE WIN_BUILD: runs the build's slot keeper in the slot unless it
# runs (tools/harness/slot_keeper.c: it keeps the slot's Wine desktop from ending and
# starting again between two tests); its pid in STATE/keeper.pid.
slot_keep_desktop() {
  local state=$1 keeper="$2/tools/harness/tindra-slot-keeper.exe"
  [ -f "$state/keeper.pid" ] &&
    grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$(cat "$state/keeper.pid")/environ" 2>/dev/null &&
    return 0
  if [ ! -f "$keeper" ]; then
    echo "wine-slot: $keeper is not built" >&2
    return 1
  fi
  setsid wine "$keeper" </dev/null >/dev/null 2>&1 8>&- &
  echo $! >"$state/keeper.pid"
}

if [ "${1:-}" = --check ]; then
  win_build=$(cd "${2:?--check needs the Windows build folder}" && pwd) || exit 1
  wine_build_env "$win_build" || exit 1
  status=0
  for id in $(sed -n 's/.*"id": *"\([0-9]*\)".*/\1/p' "$win_build/test-slots.json"); do
    (unset TINDRA_TEST_UPDATE_HOST && slot_check "$win_build/test-slots/$id" "$id") || status=1
  done
  [ "$status" = 0 ] && echo "wine-slot: every slot is ready"
  exit $status
fi

if [ "${1:-}" = --stop ]; then
  win_build=$(cd "${2:?--stop needs the Windows build folder}" && pwd) || exit 1
  wine_build_env "$win_build" || exit 1
  for state in "$win_build"/test-slots/*/; do
    [ -d "$state" ] && slot_stop "${state%/}"
  done
  exit 0
fi

# The Windows build this test belongs to: the nearest folder above with a CMakeCache.txt.
win_build=$PWD
while [ ! -f "$win_build/CMakeCache.txt" ]; do
  [ "$win_build" = / ] && { echo "wine-slot: $PWD is not inside a Windows build" >&2; exit 1; }
  win_build=$(dirname "$win_build")
done
wine_build_env "$win_build" || exit 1

# CTEST_RESOURCE_GROUP_0_SLOT is "id:N,slots:1".
slot=0
if [ "${CTEST_RESOURCE_GROUP_COUNT:-0}" -ge 1 ]; then
  given=${CTEST_RESOURCE_GROUP_0_SLOT:-}
  given=${given#id:}
  slot=${given%%,*}
fi
[[ "$slot" =~ ^[0-9]+$ ]] || { echo "wine-slot: CTest gave no slot number ($slot)" >&2; exit 1; }
state="$win_build/test-slots/$slot"
if ! slot_start "$state" || ! slot_keep_desktop "$state" "$win_build"; then
  echo "wine-slot: SLOT $slot COULD NOT BE MADE (see above); the test did not run" >&2
  exit 1
fi
# Listing a program's tests (CTest does it before running them) keeps nothing.
case " $* " in *" --gtest_list_tests "*) exec "$@" ;; esac
run_with_evidence "$win_build" "$state" "$@"
