#!/usr/bin/env bash
# The update server the shell's tests run against, started and stopped by CTest as a
# fixture: it announces revision 0, so the start-up update of the program under test
# fetches nothing and starts no checker, and the tests reach the DDE intake at once.
#   quiet_update_server.sh start DIR PORT
#   quiet_update_server.sh stop DIR
set -euo pipefail
source "$(dirname "$0")/../../tools/wine_session.sh"
dir=$2
case "$1" in
  start)
    port=$3
    mkdir -p "$dir/root"
    printf '0' > "$dir/root/Vantorel_lastver.txt"
    update_server_start "$dir/server" "$dir/root" "$port" && exit 0
    echo "quiet_update_server: the server did not start on port $port" >&2
    exit 1
    ;;
  stop)
    update_server_stop "$dir/server"
    ;;
  *)
    echo "usage: $0 start DIR PORT | stop DIR" >&2
    exit 2
    ;;
esac
