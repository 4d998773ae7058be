#!/usr/bin/env bash
# Memory and time held by peers that never finish a request: runs bench_request_memory
# against the program in stdio-port mode (Linux build) and prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/bench-linux}"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target vano-duvid bench_request_memory >/dev/null

# 1000 connections on each side, and the server's listener, files and pipes on top.
ulimit -n 4096

# One fresh instance per run, so that each peak is its own. VANO_BIN measures another
# build of the program with the same client.
pid=""
tmp=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "$tmp" ] && rm -rf "$tmp"; true' EXIT
run() {
  local url port token rc=0
  tmp="$(mktemp -d)"
  APPDATA="$tmp" HOME="$tmp" "${VANO_BIN:-$build/vano-duvid}" --stdio-port >"$tmp/out" &
  pid=$!
  for _ in $(seq 200); do grep -q '^VANO_READY ' "$tmp/out" && break; sleep 0.05; done
  url="$(awk '/^VANO_READY /{print $2}' "$tmp/out")"
  port="$(echo "$url" | sed -E 's|^http://127\.0\.0\.1:([0-9]+)/.*|\1|')"
  token="${url##*token=}"
  echo "== $1"
  "$build/bench_request_memory" "$port" "$token" "$pid" "$1" || rc=$?
  curl -s --noproxy '*' -X POST -H "X-Local-Token: $token" "http://127.0.0.1:$port/api/local/quit" >/dev/null || true
  wait "$pid" || true
  pid=""
  rm -rf "$tmp"
  tmp=""
  return "$rc"
}

status=0
run attack || status=$?
run held || status=$?
exit "$status"
