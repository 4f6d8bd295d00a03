#!/usr/bin/env bash
# Shows Tindra at work: starts dist/Tindra/Tindra.exe under Wine and plays a
# messenger's notifications into it with dist/tools/tindra-poke.exe at a human pace
# (logins that stack up, a logout, notices, Korean names and texts, a busy burst
# that wraps the stack), then closes it with "end".
#   scripts/demo.sh [BUILD] [DIST]          (what `make run` runs)
# On a private Xvfb display (the default) it saves screenshots of the key moments
# into out/ and prints their paths. With TINDRA_USE_DISPLAY=1 and DISPLAY set it
# shows everything on that display instead. TINDRA_DEMO_EXE runs another copy of
# the program. Leaves nothing running.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
source "$root/tools/wine_session.sh"
source "$here/winarch.sh"

if [ "${1:-}" != "--inside" ]; then
  build=${1:-build}
  dist=${2:-$root/dist}
  on_user_display=0
  [ "${TINDRA_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ] && on_user_display=1
  export TINDRA_DEMO_ON_USER_DISPLAY=$on_user_display
  exec "$here/test-env.sh" "$build" -- bash "$0" --inside "$build" "$dist"
fi
build=$2
dist=$(cd "$3" 2>/dev/null && pwd) || { echo "demo: no dist folder $3 (run make first)" >&2; exit 1; }
exe=${TINDRA_DEMO_EXE:-$dist/Tindra/Tindra.exe}
poke=$dist/tools/tindra-poke.exe
out=$root/out
for f in "$exe" "$poke"; do
  [ -f "$f" ] || { echo "demo: $f is missing (run make first)" >&2; exit 1; }
done

shots=0
if [ "${TINDRA_DEMO_ON_USER_DISPLAY:-0}" != 1 ] && command -v import >/dev/null; then
  shots=1
  mkdir -p "$out"
  rm -f "$out"/startup-*.png
fi

# The update server of the embedded default: the host Tindra was built with
# (UPDATE_HOST, 127.0.0.1 on port 80 by default), publishing the companions and
# revisions of this build, so that start-up passes its update check quietly. When
# something else holds that port, the demo says what Tindra will make of it, runs a
# copy of the program folder (so that nothing fetched from there lands in dist/) and
# closes the start-up message that Tindra may show.
host=${UPDATE_HOST:-127.0.0.1}
port=${host##*:}
[ "$port" = "$host" ] && port=80
revision=${REVISION:?make run passes REVISION, the revision the programs are built with}
probe=$(win_build_dir "$build")/update/tests/update-probe.exe
updates=$build/demo-updates
rm -f "$build/demo-updates.log"
publish_build "$updates" "$dist/Tindra" "$revision" || { echo "demo: cannot copy $dist/Tindra" >&2; exit 1; }
server=$build/demo-server
say() { printf '%s\n' "$*"; }
run_copy() {
  local copy=$build/demo-program
  rm -rf "$copy" && mkdir -p "$copy"
  cp "$(dirname "$exe")"/*.exe "$copy/"
  exe=$copy/$(basename "$exe")
}

say "demo: starting the update server on 127.0.0.1:$port (revision $revision of every program)"
server_up=1
if ! update_server_start "$server" "$updates" "$port" --log "$build/demo-updates.log"; then
  server_up=0
  say "demo: the update server could not start on port $port: $(tail -n 1 "$server.err")"
  say "      Tindra asks whatever holds the port instead. A web server's answer reads as a"
  say "      version (an error page as 0: nothing is fetched); anything else makes Tindra say"
  say "      that the latest version cannot be read, and the demo closes that message (OK)."
  say "      The demo runs a copy of the program folder, so nothing fetched lands in dist/."
  say "      (make run UPDATE_HOST=127.0.0.1:PORT builds Tindra for a free port instead)"
  run_copy
fi

stop_tindra() {
  [ -n "$TINDRA_PID" ] && kill -0 "$TINDRA_PID" 2>/dev/null && echo "demo: stopping Tindra"
  tindra_stop "$poke"
}
trap 'stop_tindra; update_server_stop "$server"' EXIT

# Plays the messenger: one notification.
msg() {
  say "  messenger -> Tindra: \"$1\""
  wine "$poke" -- "$1" || say "  (poke failed)"
}
shot() {  # name, what it shows
  [ "$shots" = 1 ] || return 0
  import -window root "$out/$1.png" && say "  screenshot ($2): $out/$1.png"
}

say "demo: starting $(basename "$exe") from $(dirname "$exe")"
tindra_start "$exe"

# Waits until Tindra takes DDE conversations, closing any message box its start-up
# shows on the way (the probe prints the box's texts and presses its button).
await_startup() {
  local deadline=$((SECONDS + $1)) box=$build/demo-box.txt
  while [ "$SECONDS" -lt "$deadline" ]; do
    wine "$poke" --wait 3 "" 2>/dev/null && return 0
    [ -f "$probe" ] || continue
    if ! wine "$probe" nobox 0 >/dev/null 2>&1; then
      shot startup-message "Tindra's start-up message"
      wine "$probe" box 2000 >"$box" 2>/dev/null
      say "demo: Tindra shows a message box: \"$(sed -n 's/^text: //p' "$box" | tr -d '\r' | head -n 1)\""
      say "demo: pressed OK; Tindra carries on with the programs it has"
    fi
  done
  return 1
}

say "demo: waiting for Tindra to finish its start-up and take DDE conversations"
if ! await_startup 90; then
  shot startup-stuck "the screen while Tindra did not answer"
  say "demo: Tindra did not answer within 90 s (see the screenshot)."
  exit 1
fi
say "demo: Tindra is running hidden; service \"Tindra\", topic \"TindraFrm\", item \"lblDDE\""

say "demo: three friends log in, one after another: their popups stack up"
msg "0;김민준"; sleep 0.8
msg "0;이서연"; sleep 0.8
msg "0;Alice"; sleep 1.0
shot 1-logins "three login popups stacked"
sleep 4

say "demo: a logout (shown at full size at once, red second line)"
msg "1;이서연"; sleep 0.5
shot 2-logout "a logout popup"
sleep 3.5

say "demo: notices: any other mode shows the text alone, in green, with an envelope"
msg "2;새 쪽지가 도착했습니다"; sleep 0.8
msg "7;회의가 10분 후에 시작됩니다"; sleep 1.2
shot 3-notices "two notices"
sleep 4

say "demo: a busy moment: nine logins in a row fill the column and wrap to the bottom"
for name in 박지훈 최수아 정예준 강하은 조도윤 윤서윤 장시우 임지아 한유준; do
  wine "$poke" -- "0;$name" >/dev/null || say "  (poke failed)"
done
say "  messenger -> Tindra: nine logins"
sleep 1.0
shot 4-busy "nine popups, the last two wrapped over the bottom slots"
sleep 4

say "demo: texts that only look like the close command are ordinary notices"
msg "End"; sleep 1.0
shot 5-not-end "\"End\" shows a notice for the name \"d\""
sleep 1

say "demo: the messenger closes Tindra with \"end\" (open popups close with it)"
msg "0;마지막"; sleep 0.5
msg "end"
if ! tindra_wait_gone 5; then
  say "demo: Tindra is still running after \"end\""
  exit 1
fi
if [ "$server_up" = 1 ]; then
  say "demo: the update server saw these requests (the folder name goes out in CP949):"
  sed 's/^/  /' "$build/demo-updates.log"
  update_server_stop "$server"
fi
say "demo: Tindra has ended; nothing is left running"
