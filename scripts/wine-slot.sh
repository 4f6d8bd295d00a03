#!/usr/bin/env bash
# Runs one Windows test in a slot of its build's test environment (scripts/wine-env.sh:
# a display, a Wine prefix with its wineserver and a quiet update server of its own).
# CTest runs every Windows test through it: it is the Windows build's emulator and the
# launcher of its script tests.
#   scripts/wine-slot.sh COMMAND [ARGS...]   from a folder of a Windows build (CTest
#                                            runs each test in its own)
#   scripts/wine-slot.sh --stop WIN_BUILD    stops every slot of that build
# The slot is the one CTest gave the test (RESOURCE_GROUPS "slot:1" with the build's
# test-slots.json as the resource file); 0 when CTest gave none. Slots are
# started when first used and stay up for the next test in them, until --stop (the
# build's CTest fixture wine_slots stops them after the tests).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winarch.sh"
. "$here/wine-env.sh"

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
slot_start "$win_build/test-slots/$slot" || exit 1
exec "$@"
