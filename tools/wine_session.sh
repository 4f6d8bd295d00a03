# Sourced by the shell scripts that run Tindra: a local update server for this build,
# and Tindra started and stopped under Wine (wine_session.py beside it is the same for
# the Python ones). Runs inside scripts/test-env.sh (a display and a Wine prefix).
_wine_session_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# publish_build DIR PROGRAM_FOLDER REVISION: makes DIR the update folder of a build, its
# three programs from PROGRAM_FOLDER and REVISION announced for the checker and for
# Tindra, so that a start-up update of that build passes quietly.
publish_build() {
  bash "$_wine_session_root/scripts/update-tree.sh" --folder "$2" "$3" "$1"
}

# update_server_start STATE ROOT PORT [ARGS...]: tools/update_server.py serving ROOT on
# 127.0.0.1:PORT, detached from the caller's output (which CTest would otherwise wait
# to close). STATE.pid gets its pid, STATE.port the port it listens on, STATE.err its
# errors. 0 once it listens (within 10 s); otherwise it is stopped and the result is 1.
update_server_start() {
  local state=$1 root=$2 port=$3
  shift 3
  rm -f "$state.port" "$state.pid"
  python3 "$_wine_session_root/tools/update_server.py" --root "$root" --port "$port" "$@" \
    >"$state.port" 2>"$state.err" </dev/null &
  echo $! >"$state.pid"
  local _
  for _ in $(seq 100); do
    [ -s "$state.port" ] && return 0
    kill -0 "$(cat "$state.pid")" 2>/dev/null || break
    sleep 0.1
  done
  update_server_stop "$state"
  return 1
}

# update_server_stop STATE: stops the server update_server_start started, if it runs.
update_server_stop() {
  [ -f "$1.pid" ] || return 0
  local pid
  pid=$(cat "$1.pid")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true  # when this shell started it
  rm -f "$1.pid"
  return 0
}

# tindra_start EXE: starts EXE under Wine, detached from our output; TINDRA_PID is its
# Wine process.
TINDRA_PID=""
tindra_start() {
  wine "$1" </dev/null >/dev/null 2>&1 &
  TINDRA_PID=$!
}

# tindra_wait_gone SECONDS: 0 once the started Tindra has ended, 1 when it still runs
# after SECONDS.
tindra_wait_gone() {
  [ -n "$TINDRA_PID" ] || return 0
  local i
  for ((i = 0; i < $1 * 10; i++)); do
    kill -0 "$TINDRA_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$TINDRA_PID" 2>/dev/null && return 1
  wait "$TINDRA_PID" 2>/dev/null
  TINDRA_PID=""
  return 0
}

# tindra_stop POKE_EXE: ends the started Tindra if it still runs: "end" poked, and
# killed when that does not end it within a second.
tindra_stop() {
  [ -n "$TINDRA_PID" ] || return 0
  if kill -0 "$TINDRA_PID" 2>/dev/null; then
    wine "$1" --wait 2 end >/dev/null 2>&1
    tindra_wait_gone 1 || kill "$TINDRA_PID" 2>/dev/null
  fi
  [ -n "$TINDRA_PID" ] && wait "$TINDRA_PID" 2>/dev/null
  TINDRA_PID=""
  return 0
}
