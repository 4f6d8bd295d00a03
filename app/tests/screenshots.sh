#!/usr/bin/env bash
# Screenshots of a login, a logout and a notice popup and of a stack of popups, taken
# from the real program for the README. Runs under scripts/test-env.sh (a display and
# a Wine prefix); skips (77) without a display.
#   screenshots.sh TINDRA_EXE POKE_EXE OUT_DIR
set -uo pipefail
exe=$1 poke=$2 out=$3
[ -n "${DISPLAY:-}" ] && command -v import >/dev/null || { echo "no display: skipped"; exit 77; }
mkdir -p "$out"

tindra_pid=""
finish() {
  if [ -n "$tindra_pid" ] && kill -0 "$tindra_pid" 2>/dev/null; then
    wine "$poke" --wait 2 end >/dev/null 2>&1
    sleep 1
    kill "$tindra_pid" 2>/dev/null
    wait "$tindra_pid" 2>/dev/null
  fi
}
trap finish EXIT

fail() { echo "FAIL: $*"; exit 1; }

# The popup column on a 1280 x 994-pixel work area: left 1094 px, 179 px wide, with
# room for three slots of 131 px at 133-px steps.
shoot() {  # name geometry
  import -window root "$out/screen.png" || fail "import"
  convert "$out/screen.png" -crop "$2" +repage "$out/$1.png" || fail "convert"
  # A popup is there: the cut-out is not one flat colour.
  local sd
  sd=$(convert "$out/$1.png" -format '%[fx:standard_deviation]' info:)
  awk -v s="$sd" 'BEGIN { exit !(s > 0.02) }' || fail "$1.png shows no popup"
  echo "$out/$1.png"
}
slot0="183x135+1092+861"

wine "$exe" </dev/null >/dev/null 2>&1 &
tindra_pid=$!
wine "$poke" --wait 15 "" || fail "Tindra did not answer"

wine "$poke" "0;사용자" || fail "poke"
sleep 1.2
shoot login "$slot0"
sleep 3.5
wine "$poke" "1;홍길동" || fail "poke"
sleep 0.3
shoot logout "$slot0"
sleep 3.5
wine "$poke" "2;새 공지가 도착했습니다" || fail "poke"
sleep 1.2
shoot notice "$slot0"
sleep 3.5
wine "$poke" "0;김민준" && wine "$poke" "1;이서연" && wine "$poke" "7;회의가 곧 시작됩니다" || fail "poke"
sleep 1.2
shoot stack "183x400+1092+596"
rm -f "$out/screen.png"

wine "$poke" end || fail "end was not taken"
for _ in $(seq 1 50); do kill -0 "$tindra_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$tindra_pid" 2>/dev/null && fail "Tindra still running after end"
wait "$tindra_pid" 2>/dev/null
tindra_pid=""
echo "screenshots in $out"
