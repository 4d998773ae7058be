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
)
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
