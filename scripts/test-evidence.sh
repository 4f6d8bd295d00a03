# Sourced by scripts/wine-slot.sh: runs one Windows test and, when it fails, keeps what
# it had in the build folder and prints where. A failure's folder,
#   <win build>/test-evidence/[<TINDRA_EVIDENCE_RUN>/]<test name>/
# holds:
#   summary.txt   the test, its slot, its exit status, how long it ran, and whether its
#                 program printed anything at all (one that never started says so)
#   output.log    everything the test printed, Wine's own messages included
#                 (WINEDEBUG is -all unless the test names channels in
#                 TINDRA_TEST_WINEDEBUG, e.g. "err+all")
#   screen.png    the slot's display once the test has ended
#   windows.txt   the display's windows then (xwininfo -tree): a Windows program's
#                 shown windows carry their titles
#   at-failure.png, windows-at-failure.txt
#                 the screen and its windows at a GoogleTest case's first failed
#                 assertion (tools/harness/failure_evidence.cpp)
#   processes.txt the processes of the slot's Wine prefix, and whether its wineserver ran
#   server.log    the requests the slot's quiet update server answered
#   anything the test itself put in TINDRA_TEST_EVIDENCE (its own server's log, the
#   update log of its program folder)
# A test that passes leaves nothing. A test that runs past TINDRA_TEST_TIMEOUT seconds
# is ended (before CTest's own time-out, which would leave no evidence). After a
# failure the slot's Windows programs are ended, so that what one test left running
# cannot fail the next test in the slot.

# test_name ARGS...: the name CTest knows the test by: the GoogleTest filter CTest runs
# it with, or TINDRA_TEST_NAME (script tests), or the command.
test_name() {
  local arg
  for arg in "$@"; do
    case "$arg" in --gtest_filter=*) echo "${arg#--gtest_filter=}" && return ;; esac
  done
  if [ -n "${TINDRA_TEST_NAME:-}" ]; then echo "$TINDRA_TEST_NAME"; else basename "$1"; fi
}

# slot_processes PREFIX: the pids of the processes running in that Wine prefix.
slot_processes() {
  local dir
  for dir in /proc/[0-9]*; do
    grep -qzxF "WINEPREFIX=$1" "$dir/environ" 2>/dev/null && echo "${dir#/proc/}"
  done
}

# keep_evidence DIR STATE RC SECONDS NAME: what a failed test leaves in DIR.
keep_evidence() {
  local dir=$1 state=$2 rc=$3 seconds=$4 name=$5 pids
  {
    echo "test:      $name"
    echo "slot:      $state (display $DISPLAY, prefix $WINEPREFIX)"
    echo "exit:      $rc$([ "$rc" = 124 ] && echo " (ended: it ran past its $TINDRA_TEST_TIMEOUT s)")"
    echo "ran:       $seconds s"
    echo "WINEDEBUG: $WINEDEBUG"
    if [ ! -s "$dir/output.log" ]; then
      echo "output:    NONE: the test's program printed nothing; it did not start, or died"
      echo "           before its first line. Wine's exit status was $rc."
    elif grep -q '^wine: \|^wine client error\|err:' "$dir/output.log"; then
      echo "output:    Wine said:"
      grep '^wine: \|^wine client error\|err:' "$dir/output.log" | head -20 | sed 's/^/           /'
    fi
  } >"$dir/summary.txt"
  import -display "$DISPLAY" -window root "$dir/screen.png" >/dev/null 2>&1 ||
    echo "screen:    no screenshot (the display did not answer)" >>"$dir/summary.txt"
  xwininfo -display "$DISPLAY" -root -tree >"$dir/windows.txt" 2>&1
  pids=$(slot_processes "$WINEPREFIX" | tr '\n' ',')
  {
    if [ -n "$pids" ]; then ps -o pid,ppid,etime,stat,args -p "${pids%,}"; else echo "none"; fi
  } >"$dir/processes.txt" 2>&1
  ps -o args -p "${pids%,}" 2>/dev/null | grep -q wineserver ||
    echo "wineserver: NOT RUNNING for the slot's prefix" >>"$dir/summary.txt"
  [ -f "$state/quiet.log" ] && cp "$state/quiet.log" "$dir/server.log"
}

# run_with_evidence WIN_BUILD STATE COMMAND...: runs the test in the slot made in STATE.
run_with_evidence() {
  local win_build=$1 state=$2 name dir rc began
  shift 2
  name=$(test_name "$@")
  dir="$win_build/test-evidence/${TINDRA_EVIDENCE_RUN:+$TINDRA_EVIDENCE_RUN/}${name//[^A-Za-z0-9._-]/_}"
  rm -rf "$dir"
  mkdir -p "$dir"
  export TINDRA_TEST_EVIDENCE=$dir
  export WINEDEBUG=${TINDRA_TEST_WINEDEBUG:-$WINEDEBUG}
  # No popup ever appears in the top-left corner; the pointer waits there.
  python3 "$_wine_env_root/tools/park_pointer.py" 0 0 || true
  began=$(date +%s)
  if [ -n "${TINDRA_TEST_TIMEOUT:-}" ]; then
    timeout -k 5 "$TINDRA_TEST_TIMEOUT" "$@" 2>&1 | tee "$dir/output.log"
  else
    "$@" 2>&1 | tee "$dir/output.log"
  fi
  rc=${PIPESTATUS[0]}
  if [ "$rc" = 0 ]; then
    rm -rf "$dir"
    rmdir -p "$(dirname "$dir")" 2>/dev/null
    return 0
  fi
  keep_evidence "$dir" "$state" "$rc" "$(($(date +%s) - began))" "$name"
  echo "wine-slot: FAILED with exit status $rc; its evidence: $dir" >&2
  sed -n 's/^output: *NONE/wine-slot: its program printed NOTHING/p' "$dir/summary.txt" >&2
  wineserver -k >/dev/null 2>&1 || true
  return "$rc"
}
