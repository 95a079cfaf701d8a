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
until [[ -s $site/port ]]; do sleep 0.05; done
busy=$(cat "$site/port")
out=$(timeout 2 "$serve" "$site" "$busy" 2>&1 || true)
[[ $out == "Port $busy is busy; serving on the next free one."$'\n'"Open http://127.0.0.1:"* ]] ||
    { echo "FAIL: $out" >&2; exit 1; }
[[ $out != *Traceback* && $out != *":$busy/"* ]] || { echo "FAIL: $out" >&2; exit 1; }
echo "serve test passed"
