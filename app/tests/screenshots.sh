#!/usr/bin/env bash
# Screenshots of a login, a logout and a notice popup and of a stack of popups, taken
# from the real program for the README. Runs in a test slot (scripts/wine-slot.sh: a display and
# a Wine prefix); skips (77) without a display.
#   screenshots.sh TINDRA_EXE POKE_EXE OUT_DIR
set -uo pipefail
source "$(dirname "$0")/../../tools/wine_session.sh"
exe=$1 poke=$2 out=$3
[ -n "${DISPLAY:-}" ] && command -v import >/dev/null || { echo "no display: skipped"; exit 77; }
mkdir -p "$out"

trap 'tindra_stop "$poke"' EXIT

fail() { echo "FAIL: $*"; exit 1; }
# Pokes one text; a failure names it and tindra-poke's exit code (see the README).
poke_text() {
  wine "$poke" "$1" || fail "poke '$1': tindra-poke exited with $?"
}

# The popup column on a 1280 x 994-pixel work area: left 1094 px, 179 px wide, with
# room for three slots of 131 px at 133-px steps.
shoot() {  # name geometry
  import -window root "$out/screen.png" || fail "import"
  convert "$out/screen.png" -crop "$2" +repage "$out/$1.png" || fail "convert"
  shows_popup "$out/$1.png" || fail "$1.png shows no popup"
  echo "$out/$1.png"
}
# A popup is there: the picture is not one flat colour.
shows_popup() {
  local sd
  sd=$(convert "$1" -format '%[fx:standard_deviation]' info:)
  awk -v s="$sd" 'BEGIN { exit !(s > 0.02) }'
}
# Waits until the screen area GEOMETRY shows no popup (at most 10 s): the popup shot
# there has gone, and the next one starts alone in the slot.
wait_clear() {
  local _
  for _ in $(seq 1 50); do
    import -window root "$out/clear.png" || fail "import"
    convert "$out/clear.png" -crop "$1" +repage "$out/clear.png" || fail "convert"
    shows_popup "$out/clear.png" || return 0
    sleep 0.2
  done
  fail "a popup still shows at $1 after 10 s"
}
slot0="183x135+1092+861"

tindra_start "$exe"
wine "$poke" --wait 15 "" || fail "Tindra did not answer"

poke_text "0;사용자"
sleep 1.2
shoot login "$slot0"
wait_clear "$slot0"
poke_text "1;홍길동"
sleep 0.3
shoot logout "$slot0"
wait_clear "$slot0"
poke_text "2;새 공지가 도착했습니다"
sleep 1.2
shoot notice "$slot0"
wait_clear "$slot0"
poke_text "0;김민준"
poke_text "1;이서연"
poke_text "7;회의가 곧 시작됩니다"
sleep 1.2
shoot stack "183x400+1092+596"
rm -f "$out/screen.png" "$out/clear.png"

wine "$poke" end || fail "end was not taken"
tindra_wait_gone 5 || fail "Tindra still running after end"
echo "screenshots in $out"
