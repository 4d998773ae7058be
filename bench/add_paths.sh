#!/usr/bin/env bash
# Builds and runs the add-paths benchmark in its own build folder (Linux preset).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build/bench-linux}"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target bench_add_paths >/dev/null
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
APPDATA="$tmp" HOME="$tmp" "$build/bench_add_paths" "$@"
