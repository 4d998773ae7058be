#!/usr/bin/env bash
# The state route under wrk (64 connections, 10 s) and the idle instance's resident
# memory. Needs `scripts/setup.sh --bench` (wrk, curl).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/bench-linux}"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target bench_state_route >/dev/null

token=0123456789abcdef0123456789abcdef
tmp="$(mktemp -d)"
APPDATA="$tmp" HOME="$tmp" "$build/bench_state_route" "$token" >"$tmp/out" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do grep -q '^port ' "$tmp/out" && break; sleep 0.05; done
port="$(awk '/^port /{print $2}' "$tmp/out")"

sleep 1
echo "idle RSS: $(awk '/^VmRSS/{print $2, $3}' "/proc/$pid/status")"
wrk -t4 -c64 -d10s --latency -H "X-Local-Token: $token" "http://127.0.0.1:$port/api/local/state"
echo "RSS after load: $(awk '/^VmRSS/{print $2, $3}' "/proc/$pid/status"), peak $(awk '/^VmHWM/{print $2, $3}' "/proc/$pid/status")"
curl -s -X POST -H "X-Local-Token: $token" "http://127.0.0.1:$port/api/local/quit" >/dev/null
wait "$pid"
