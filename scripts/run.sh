#!/usr/bin/env bash
# Sets up the machine, builds the Linux program and starts it in stdio-port mode with
# the paths given; open the printed address in a browser.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target vano-duvid
exec build/linux/vano-duvid --stdio-port "$@"
