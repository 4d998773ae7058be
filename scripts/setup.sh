#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need. Idempotent: when every
# package is already installed it does nothing (and needs no network).
set -euo pipefail
packages=(
  g++ pkg-config cmake ninja-build file
  g++-mingw-w64-x86-64-posix wine wine64 libz-mingw-w64-dev
  zlib1g-dev libcurl4-openssl-dev libutf8proc-dev nlohmann-json3-dev
  googletest libgtest-dev ca-certificates openssl
  python3 unzip zip librsvg2-bin zbar-tools libqrcodegencpp-dev
  # The page's browser tests: Debian's Chromium, and fonts for its Korean texts and emoji
  # (without them the layout measured is that of missing-glyph boxes).
  chromium fonts-nanum fonts-noto-color-emoji
)
command -v node >/dev/null || packages+=(nodejs npm)
if [ "${1:-}" = "--bench" ]; then
  packages+=(wrk curl time)
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

# playwright-core as the lock file gives it, with no install scripts (nothing may fetch a
# browser of its own). Skipped when node_modules already holds exactly that lock file.
cd "$(dirname "$0")/.."
if ! cmp -s package-lock.json node_modules/.vano-installed-lock 2>/dev/null; then
  npm ci --ignore-scripts --no-audit --no-fund
  cp package-lock.json node_modules/.vano-installed-lock
fi
