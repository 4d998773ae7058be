#!/usr/bin/env bash
# Builds and runs the folder-scan benchmark in its own build folder (Linux preset).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build/bench-linux}"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target bench_scan_folder >/dev/null
"$build/bench_scan_folder" "${1:-31}"
