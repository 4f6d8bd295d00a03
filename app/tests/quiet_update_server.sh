#!/usr/bin/env bash
# The update server the shell's tests run against, started and stopped by CTest as a
# fixture: it announces revision 0, so the start-up update of the program under test
# fetches nothing and starts no checker, and the tests reach the DDE intake at once.
#   quiet_update_server.sh start DIR PORT SERVER_SCRIPT
#   quiet_update_server.sh stop DIR
set -euo pipefail
dir=$2
case "$1" in
  start)
    port=$3
    mkdir -p "$dir/root"
    printf '0' > "$dir/root/Vantorel_lastver.txt"
    rm -f "$dir/port"
    # Detached from CTest's output, which would otherwise wait for it to close.
    python3 "$4" --root "$dir/root" --port "$port" >"$dir/port" 2>/dev/null </dev/null &
    echo $! > "$dir/pid"
    for _ in $(seq 100); do
      [ -s "$dir/port" ] && exit 0
      sleep 0.1
    done
    echo "quiet_update_server: the server did not start on port $port" >&2
    exit 1
    ;;
  stop)
    if [ -f "$dir/pid" ]; then
      kill "$(cat "$dir/pid")" 2>/dev/null || true
      rm -f "$dir/pid"
    fi
    ;;
  *)
    echo "usage: $0 start DIR PORT SERVER_SCRIPT | stop DIR" >&2
    exit 2
    ;;
esac
