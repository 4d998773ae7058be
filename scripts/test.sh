#!/usr/bin/env bash
# Sets up the machine, builds both presets and runs every test of each.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
status=0
for preset in linux windows; do
  echo "=== ${preset} ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  # Benchmarks are not run here, but they must keep building.
  if [ "$preset" = linux ]; then cmake --build --preset "$preset" --target benchmarks; fi
  ctest --preset "$preset" || status=1
done
command -v wineserver >/dev/null && wineserver -k 2>/dev/null || true
exit $status
