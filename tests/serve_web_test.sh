#!/usr/bin/env bash
# `./run.sh web` on a busy port: one plain line and the next free port, never a traceback.
set -euo pipefail
serve=$1/scripts/serve-web.py
site=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$site"' EXIT
# Something else already holds a port: take one the system picks and keep it listening.
python3 -c 'import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(); print(s.getsockname()[1], flush=True)
time.sleep(60)' >"$site/port" &
# Waits up to 30 s, however busy the machine, for "$@" to hold; false if it never does.
within_30s() { for ((tries = 0; tries < 600; tries++)); do "$@" && return; sleep 0.05; done; false; }
within_30s test -s "$site/port" || { echo "FAIL: no port was taken" >&2; exit 1; }
busy=$(cat "$site/port")
"$serve" "$site" "$busy" >"$site/out" 2>&1 &
server=$!
# Until it says where it serves, or ends without.
said() { grep -qs '^Open ' "$site/out" || ! kill -0 "$server" 2>/dev/null; }
within_30s said || true
kill "$server" 2>/dev/null || true
out=$(cat "$site/out")
[[ $out == "Port $busy is busy; serving on the next free one."$'\n'"Open http://127.0.0.1:"* ]] ||
    { echo "FAIL: the server said '$out'" >&2; exit 1; }
[[ $out != *Traceback* && $out != *":$busy/"* ]] || { echo "FAIL: $out" >&2; exit 1; }
echo "serve test passed"
